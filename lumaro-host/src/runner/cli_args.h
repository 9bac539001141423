// What each AI tool gets for one question: its arguments, its standard input
// and the files it reads (the connector's MCP configuration, images). The
// plan is pure; the caller writes the files it lists (write_turn_files),
// starts the tool with build_cli_command's program and leading arguments
// followed by `args`, and deletes the temporary files when the turn is over.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "apps/connector.h"
#include "runner/cli_kind.h"
#include "runner/turn_request.h"

namespace lumaro {

inline constexpr char kClaudeConfigWriteError[] = "설정 파일을 쓰지 못했습니다: {}";
inline constexpr char kAgyConfigWriteError[] = "Gemini 설정을 쓰지 못했습니다: {}";
// Filled into kAgyConfigWriteError when the user's existing file cannot be
// read, or not as a JSON object: writing ours over it would throw away the
// servers configured there.
inline constexpr char kAgyConfigUnreadable[] = "기존 mcp_config.json 파일을 읽을 수 없어 덮어쓰지 않았습니다";

// A file the caller found (or did not find) before planning.
struct ExistingFile {
  enum class State { missing, read, unreadable };
  State state = State::missing;
  std::string text;  // with State::read
  bool operator==(const ExistingFile&) const = default;
};

struct TurnInputs {
  uint32_t host_pid = 0;
  int64_t now_ms = 0;    // milliseconds since 1970, for image file names
  // No other turn of this host has the same number. It ends the names of the
  // temporary files, so two turns running at once (two panels of the same
  // application, two images sent in the same millisecond) never write, read
  // or delete each other's files.
  uint64_t turn_number = 0;
  std::string temp_dir;  // the system's temporary folder
  std::string home_dir;
  // agy with a connector: the file at agy_mcp_config_path(home_dir).
  ExistingFile agy_mcp_config;
};

struct TurnFile {
  std::string path;
  std::string contents;
  bool temporary = true;       // deleted when the turn ends, or when it fails before the start
  bool create_parent = false;  // the folder is created first
  // What the turn fails with when the file cannot be written, "{}" standing
  // for the system's error text. Empty: the file is optional (an image) and
  // is left out together with the arguments that name it.
  std::string failure_template;
  bool operator==(const TurnFile&) const = default;
};

struct TurnInvocation {
  std::vector<std::string> args;            // after build_cli_command's leading arguments
  std::optional<std::string> stdin_text;    // nothing: standard input is the null device
  std::string effort;                       // the value given with "--effort", or empty
  std::vector<std::pair<std::string, std::string>> env;  // besides build_cli_command's
  std::vector<TurnFile> files;              // to write, in this order, before the start
  bool operator==(const TurnInvocation&) const = default;
};

// home_dir\.gemini\config\mcp_config.json, agy's MCP server list.
std::string agy_mcp_config_path(std::string_view home_dir);

// The plan for one turn of the tool `kind`, or the message the turn fails
// with. A request counts as resumed when its resume id is present and not
// empty.
std::variant<TurnInvocation, std::string> build_turn_invocation(CliKind kind, const TurnRequest& request,
                                                                const TurnInputs& inputs);

// Writes `invocation.files` in order; `write` returns the system's error text
// when it fails. An optional file that fails is dropped from the plan with
// the arguments naming it. A required one stops the loop: the result is its
// filled failure message, and `files` is left holding only what was written,
// for the caller to delete. On success `files` holds every written file.
using WriteTurnFile = std::function<std::optional<std::string>(const TurnFile&)>;
std::optional<std::string> write_turn_files(TurnInvocation& invocation, const WriteTurnFile& write);

// ---- the pieces, for their own tests --------------------------------------

// Standard-alphabet base64; "=" is skipped wherever it stands. Nothing for any
// other character outside the alphabet, or a lone trailing character (six
// bits cannot make a byte).
std::optional<std::string> decode_base64(std::string_view text);

// A value of a Codex "-c" override: '…' when it holds no "'", otherwise "…"
// with "\" doubled and "\"" escaped.
std::string quote_codex_value(std::string_view text);

// Claude Code's stream-json input: one compact JSON line ending in "\n", the
// usable images (data URLs with ";base64,") first, then the text.
std::string claude_stdin_line(std::string_view message, const std::vector<std::string>& images);

// agy's MCP configuration with server `name` set to run `server`. Nothing when
// the file already says exactly that; kAgyConfigUnreadable (as the error) when
// the file exists but could not be read, or is neither blank nor a JSON
// object (comments are allowed).
struct AgyConfigText {
  std::optional<std::string> text;  // the whole new file; nothing: unchanged
  bool operator==(const AgyConfigText&) const = default;
};
std::variant<AgyConfigText, std::string> merge_agy_mcp_config(const ExistingFile& existing, std::string_view name,
                                                              const ConnectorSpec& server);

}  // namespace lumaro
