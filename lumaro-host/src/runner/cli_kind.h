// The four AI command-line tools the host drives, and the outcome of running
// one of them to its end (account checks, logout, usage).
#pragma once

#include <cstdint>
#include <string>

namespace lumaro {

enum class CliKind { ClaudeCode, Codex, GeminiCli, Agy };

// A tool run to its end with its output captured.
struct ToolRun {
  bool started = false;    // false: the process could not be created
  uint32_t exit_code = 0;
  std::string out;         // standard output bytes
  std::string err;         // standard error bytes
  bool timed_out = false;  // ended by us when past its time limit
};

}  // namespace lumaro
