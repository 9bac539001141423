// The reading side of a running AI tool: turns each line the tool prints on
// its standard output into the items its panel sees, and decides how the turn
// ends.
//
// One parser per job, used by the job's output thread only:
//   parser.start()            before reading (the effort note of Claude Code);
//   parser.feed_line(line)    for each line, cut at "\n" with one "\r" before
//                             it removed, until reading_ended() or the end of
//                             the output;
//   parser.finish(stderr)     once the child has exited, giving the fallback
//                             answer (if any) and the finished item, last.
// Every call returns the items to deliver, in order. Nothing here blocks,
// touches files or processes.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "runner/cli_kind.h"
#include "runner/stream_item.h"

namespace lumaro {

// Claude Code repeats streamed text in its closing "assistant" event; the ids
// of streamed messages suppress that repeat. The set stops growing here, so a
// tool cannot make it grow without end (later ids are shown twice instead).
inline constexpr size_t kMaxStreamedMessageIds = 4096;
// Plain-text output is kept as a fallback answer until it reaches this many
// bytes (the line that crosses the mark is still kept whole).
inline constexpr size_t kOtherOutputLimit = 65536;
// How much of the standard error text explains a tool that ended silently.
inline constexpr size_t kStderrTailChars = 400;

class StreamParser {
 public:
  // `effort` is the value after "--effort" on the tool's command line (empty
  // when there was none); `resume_id` the conversation the turn continues.
  StreamParser(CliKind kind, std::string effort, std::optional<std::string> resume_id);

  // Items to deliver before the first line is read.
  std::vector<StreamItem> start() const;

  // Items produced by one output line. A line that is not valid UTF-8 ends the
  // reading: it produces nothing, reading_ended() becomes true and every later
  // line is ignored (the caller should stop reading and only drain the pipe).
  std::vector<StreamItem> feed_line(std::string_view line);
  // The same, appending to `out` (no allocation for lines without items).
  void feed_line(std::string_view line, std::vector<StreamItem>& out);
  bool reading_ended() const noexcept { return ended_; }

  // The end of the turn, after the output ended and the child exited:
  // possibly a fallback text item, then the finished item. `stderr_text` is
  // what the tool wrote to standard error (invalid UTF-8 is tolerated).
  std::vector<StreamItem> finish(std::string_view stderr_text);

  // The turn's state so far (for logs and tools).
  const std::optional<std::string>& conversation_id() const noexcept { return conversation_id_; }
  const std::optional<std::string>& last_error() const noexcept { return last_error_; }
  bool produced_output() const noexcept { return produced_output_; }
  const std::string& other_output() const noexcept { return other_output_; }

 private:
  using json = nlohmann::json;
  void map_claude(const json& event, std::vector<StreamItem>& out);
  void map_codex(const json& event, std::vector<StreamItem>& out);
  void map_gemini(const json& event, std::vector<StreamItem>& out);
  void map_agy(const json& event, std::vector<StreamItem>& out);

  void session(std::string id) { conversation_id_ = std::move(id); }
  void text(std::string text, bool new_block, std::vector<StreamItem>& out);
  void error(std::string message) { last_error_ = std::move(message); }
  void success() {
    last_error_.reset();
    produced_output_ = true;
  }
  void keep_other_output(std::string_view line);

  CliKind kind_;
  std::string effort_;
  std::optional<std::string> conversation_id_;
  std::optional<std::string> last_error_;
  bool produced_output_ = false;
  bool ended_ = false;
  std::string other_output_;
  // Claude Code.
  std::string message_id_;
  // Opens a block for text streamed without a "message_start" before it.
  bool new_block_ = true;
  std::unordered_set<std::string> streamed_ids_;
  // Gemini CLI.
  bool first_text_ = true;
};

// The last `kStderrTailChars` characters of `stderr_text` (invalid UTF-8
// replaced), trimmed of white space.
std::string stderr_tail(std::string_view stderr_text);

// The Korean sentence shown when a tool ended with no answer, no error and
// nothing on standard error.
inline constexpr std::string_view kNoAnswerError = "응답 없이 끝났습니다";

}  // namespace lumaro
