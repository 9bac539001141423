// The Claude tool's usage report, turned into the short list the browser
// extension shows, and the process-wide cache that spares the tool a run for
// every request. Pure apart from the cache's lock; the caller runs the tool.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/mutex.h"
#include "runner/cli_kind.h"

namespace lumaro {

struct UsageEntry {
  std::string name;   // label of the usage window
  uint32_t pct = 0;   // percent used
  std::string reset;  // when the window resets; empty when not reported
  bool operator==(const UsageEntry&) const = default;
};

// Log line when the tool cannot be started; the system's error text.
inline constexpr char kLogUsageFailed[] = "사용량 조회 실패 {}";

// Arguments after build_cli_command's: "-p" "/usage" "--output-format"
// "json". Working folder home_dir, the null device as input.
std::vector<std::string> usage_args();

// The report text of a finished run: the string member "result" of the JSON
// object printed on standard output, else empty. Standard error and the exit
// code do not count.
std::string usage_report_text(const ToolRun& run);

// The usage windows the report's lines describe, in report order.
std::vector<UsageEntry> parse_usage_report(std::string_view report);

// The compact JSON array of the entries, members "name", "pct", "reset".
std::string usage_json(const std::vector<UsageEntry>& entries);
// "§usage:" followed by usage_json.
std::string usage_note(const std::vector<UsageEntry>& entries);

// A stored list is fresh while fewer than 60 whole seconds have passed.
inline constexpr std::chrono::seconds kUsageCacheLifetime{60};
bool usage_cache_fresh(std::chrono::steady_clock::time_point stored, std::chrono::steady_clock::time_point now);

// The last list a run of the tool gave, shared by every query of the process.
// The lock is held only to copy in or out, never while the tool runs.
class UsageCache {
 public:
  // A copy of the stored list when it is fresh at `now`.
  std::optional<std::vector<UsageEntry>> fresh(std::chrono::steady_clock::time_point now);
  // Replaces what is stored, also with an empty list.
  void store(std::chrono::steady_clock::time_point now, std::vector<UsageEntry> entries);

 private:
  struct Stored {
    bool filled = false;
    std::chrono::steady_clock::time_point at{};
    std::vector<UsageEntry> entries;
  };
  Guarded<Stored> stored_;
};

}  // namespace lumaro
