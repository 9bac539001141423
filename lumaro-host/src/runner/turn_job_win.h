// A running AI tool for one turn: the child slot shared with the panel's
// JobHandle, and the threads that feed its input and read its output.
//
// Threads per job: an input thread (writes the standard input text, then
// closes it, so a tool that reads slowly never holds the caller), a stderr
// thread (keeps the first 64 KiB if they are UTF-8, then closes its end) and
// the output thread (parses standard output, waits for the child and the
// stderr thread, ends whatever the child left running, deletes the job's
// temporary files and delivers the finished item).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/mutex.h"
#include "runner/chat_engine.h"
#include "runner/child_process_win.h"
#include "runner/cli_kind.h"

namespace lumaro {

// The child process of a job with the job object it runs in (if the system
// gave it one); cancelling ends the child and all it started while they are
// there.
class ChildSlot final : public JobControl {
 public:
  struct Contents {
    UniqueHandle process;
    UniqueHandle job;  // closing it ends whatever still runs in it
  };
  explicit ChildSlot(Contents contents) : contents_(std::move(contents)) {}
  void cancel() noexcept override;
  // Takes the process and its job out; later cancels do nothing.
  Contents take();

 private:
  Mutex mutex_;
  Contents contents_;
};

struct TurnJob {
  ReplyAddress reply;
  CliKind kind = CliKind::ClaudeCode;
  std::string effort;                    // after "--effort" on the command line, or empty
  std::optional<std::string> resume_id;  // the conversation id until the tool reports one
  std::vector<std::wstring> temp_files;  // deleted when the turn ends
  std::optional<std::string> stdin_text;
};

// Starts the job's threads on a started child and returns its handle. The
// child's pipes move into the threads.
JobHandle launch_turn_job(ChatEngine& engine, TurnJob job, Child child);

// Deletes the files, ignoring errors.
void delete_files(const std::vector<std::wstring>& paths);

}  // namespace lumaro
