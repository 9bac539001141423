// Hidden child processes with redirected standard handles.
//
// The child inherits exactly its three standard handles (an explicit handle
// list), never another tool's pipe ends that happen to be inheritable at the
// same moment; the parent closes its copies of the child's ends right after
// the start, so end-of-file arrives when the child exits.
//
// A child started with its own job takes everything it starts along into
// that job: a tool behind a script runs as cmd.exe and the program the script
// starts, and ending only cmd.exe would leave that program running with our
// pipes open.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/unique_handle_win.h"
#include "runner/cli_kind.h"

namespace lumaro {

struct ChildSpec {
  std::wstring application;   // module to start (empty: taken from the command line)
  std::wstring command_line;  // the whole, already quoted command line
  std::vector<std::pair<std::wstring, std::wstring>> env;  // set or replaced in a copy of ours
  std::wstring working_dir;   // empty: ours
  DWORD creation_flags = CREATE_NO_WINDOW;
  bool stdin_pipe = false;    // false: the null device
  bool own_job = false;       // run the child and its descendants in a job of their own
};

struct Child {
  UniqueHandle process;
  UniqueFile stdin_write;   // invalid without stdin_pipe
  UniqueFile stdout_read;
  UniqueFile stderr_read;
  // With own_job: ends every process in it when closed (or terminated). Empty
  // when the system would not give the child a job of its own (an older
  // Windows that cannot nest jobs); the child then runs without one.
  UniqueHandle job;
};

// The started child, or the system error code.
std::variant<Child, DWORD> start_child(const ChildSpec& launch);

// Writes all of `bytes` to the pipe (errors ignored) and closes it.
void write_all_and_close(UniqueFile pipe, const std::string& bytes);

// Reads the pipe to its end, keeping at most `max_bytes` (the rest is read and
// dropped so the writer never blocks).
std::string read_all(HANDLE pipe, size_t max_bytes);

// How long a short tool run (account check, usage, logout) may take. A tool
// that hangs would otherwise hold its worker thread for good, and every
// later refresh would leave one more thread behind it.
inline constexpr DWORD kToolRunLimitMs = 120000;

// Runs the child to its end with stdout and stderr captured (each bounded).
// Past `limit_ms` the child and all it started are ended (timed_out); once
// the child has ended, whatever it left running is ended too, so its pipes
// reach their end. When it cannot be created, `start_error` (if given)
// receives the system error code, for the messages that quote the system's
// text.
ToolRun run_to_end(const ChildSpec& launch, const std::optional<std::string>& stdin_text = std::nullopt,
                   DWORD* start_error = nullptr, DWORD limit_ms = kToolRunLimitMs);

}  // namespace lumaro
