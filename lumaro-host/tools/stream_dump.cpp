// Shows what the host would deliver to a panel for a saved tool output.
//
//   lumaro-stream-dump <claude|codex|gemini|agy> [--effort E] [--resume ID]
//                      [--stderr FILE] [FILE]
//
// Reads FILE (or standard input) as the tool's standard output and prints one
// compact JSON object per delivered item, e.g.
//   {"item":"text","new":true,"text":"..."}
//   {"item":"tool","args":"...","name":"..."}
//   {"item":"note","text":"..."}
//   {"item":"finished","conversation_id":"..."|null,"error":"..."|null}
// Lines are cut as the output thread cuts them; reading stops at the first
// line that is not UTF-8, as it does in the host.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <nlohmann/json.hpp>

#include "base/overloaded.h"
#include "runner/stream_parser.h"

namespace {

using lumaro::CliKind;
using json = nlohmann::json;

std::optional<CliKind> kind_of(std::string_view name) {
  if (name == "claude") return CliKind::ClaudeCode;
  if (name == "codex") return CliKind::Codex;
  if (name == "gemini") return CliKind::GeminiCli;
  if (name == "agy") return CliKind::Agy;
  return std::nullopt;
}

json optional_text(const std::optional<std::string>& s) { return s ? json(*s) : json(nullptr); }

void print(const lumaro::StreamItem& item) {
  const json j = std::visit(lumaro::Overloaded{
                                [](const lumaro::TextItem& t) {
                                  return json{{"item", "text"}, {"new", t.new_block}, {"text", t.text}};
                                },
                                [](const lumaro::ToolItem& t) {
                                  return json{{"item", "tool"}, {"name", t.name}, {"args", t.args}};
                                },
                                [](const lumaro::NoteItem& n) {
                                  return json{{"item", "note"}, {"text", n.text}};
                                },
                                [](const lumaro::FinishedItem& f) {
                                  return json{{"item", "finished"},
                                              {"conversation_id", optional_text(f.conversation_id)},
                                              {"error", optional_text(f.error)}};
                                },
                            },
                            item);
  const std::string line = j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void print_all(const std::vector<lumaro::StreamItem>& items) {
  for (const auto& item : items) print(item);
}

bool read_file(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

int usage() {
  std::fputs("usage: lumaro-stream-dump <claude|codex|gemini|agy> [--effort E] [--resume ID] [--stderr FILE] [FILE]\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Byte-exact in and out: no CRLF translation, no Ctrl+Z end of file.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc < 2) return usage();
  const auto kind = kind_of(argv[1]);
  if (!kind) return usage();
  std::string effort, stderr_text;
  std::optional<std::string> resume;
  const char* path = nullptr;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--effort" || arg == "--resume" || arg == "--stderr") && i + 1 < argc) {
      const char* value = argv[++i];
      if (arg == "--effort") {
        effort = value;
      } else if (arg == "--resume") {
        resume = value;
      } else if (!read_file(value, stderr_text)) {
        std::fprintf(stderr, "cannot read %s\n", value);
        return 1;
      }
    } else if (!path && !arg.starts_with("--")) {
      path = argv[i];
    } else {
      return usage();
    }
  }

  std::string output;
  if (path) {
    if (!read_file(path, output)) {
      std::fprintf(stderr, "cannot read %s\n", path);
      return 1;
    }
  } else {
    output.assign(std::istreambuf_iterator<char>(std::cin), {});
  }

  lumaro::StreamParser parser(*kind, effort, resume);
  print_all(parser.start());
  std::string_view rest = output;
  std::vector<lumaro::StreamItem> items;
  while (!rest.empty() && !parser.reading_ended()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    items.clear();
    parser.feed_line(line, items);
    print_all(items);
  }
  if (parser.reading_ended()) std::fputs("stream_dump: reading stopped at a line that is not UTF-8\n", stderr);
  print_all(parser.finish(stderr_text));
  return 0;
}
