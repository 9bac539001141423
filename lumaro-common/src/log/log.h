// The process's diagnostic log: one call, log_line, from any thread.
//
// Each deliverable owns one writer. The host's writer drops lines until
// start-up calls start_host_log(); the hook's writer fixes its file name on
// its first line. Every line opens, appends to and closes the file, so no
// handle outlives a call. Logging never reports its own failures.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/mutex.h"
#include "log/log_format.h"

namespace lumaro {

// Defined by each deliverable (and test program): LogRole::host or ::hook.
extern const LogRole kProcessLogRole;

void log_line(std::string_view text);

#ifndef _WIN32
// Native builds keep logged lines in memory; this returns and clears them.
std::vector<std::string> take_captured_log_lines();
#else
// Host start-up, in this order: prune_logs(), then start_host_log().
void prune_logs();
void start_host_log();

// One writer with its own file; log_line() uses the process's writer.
class LogWriter {
 public:
  explicit LogWriter(LogRole role) : role_(role) {}
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void set_path(std::wstring path);
  void write(std::string_view text);

 private:
  void append(const std::wstring& path, std::string_view text);

  const LogRole role_;
  Mutex mutex_;  // held for the whole append, so lines never interleave
  std::wstring path_;
  bool has_path_ = false;
};
#endif

}  // namespace lumaro
