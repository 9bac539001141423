// Preparing an AI tool's process, for answers and for the account steps
// (state checks, login, logout, usage) alike, so the tool sees the same
// private profile folders whichever step runs it.
#pragma once

#include <windows.h>

#include <string>
#include <variant>
#include <vector>

#include "runner/child_process_win.h"

namespace lumaro {

// The host's data folder, UTF-8.
std::string data_dir_utf8();

// The child for the tool at `path` with `args` after its leading ones, in
// `working_dir` (empty: ours), standard input the null device. The folders
// the tool needs are created here. Or the sentence that says why the command
// line cannot be built.
std::variant<ChildSpec, std::string> tool_launch(const std::string& path, const std::vector<std::string>& args,
                                                 const std::string& working_dir);

// Runs the tool to its end. When it cannot be started, `error` (if given)
// receives the system's error text (or the refusal of the command line).
ToolRun run_account_tool(const std::string& path, const std::vector<std::string>& args, const std::string& working_dir,
                         std::string* error = nullptr);

// A small text file the tools write, or nothing when unreadable.
std::optional<std::string> read_tool_file(const std::string& path);

}  // namespace lumaro
