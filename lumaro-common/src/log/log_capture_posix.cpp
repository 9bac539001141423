// Native builds (unit tests, fuzzers, benchmarks) have no log file: lines are
// kept in memory, the newest 1024, so tests can check what was logged.
#include <deque>
#include <mutex>

#include "log/log.h"

namespace lumaro {
namespace {

constexpr size_t kCapturedLines = 1024;
std::mutex g_mutex;
std::deque<std::string> g_lines;

}  // namespace

void log_line(std::string_view text) {
  std::lock_guard lock(g_mutex);
  if (g_lines.size() == kCapturedLines) g_lines.pop_front();
  g_lines.emplace_back(text);
}

std::vector<std::string> take_captured_log_lines() {
  std::lock_guard lock(g_mutex);
  std::vector<std::string> out(g_lines.begin(), g_lines.end());
  g_lines.clear();
  return out;
}

}  // namespace lumaro
