#include "log/log_format.h"

#include <algorithm>
#include <cstdio>

namespace lumaro {
namespace {

constexpr int64_t kFiletimeUnixEpoch = 116444736000000000;  // 1970-01-01 in FILETIME
constexpr int64_t kTicksPerMs = 10000;

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t z, int& year, unsigned& month, unsigned& day) noexcept {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (month <= 2));
}

}  // namespace

std::string format_log_timestamp(int64_t filetime) noexcept {
  const int64_t ms = filetime < kFiletimeUnixEpoch ? 0 : (filetime - kFiletimeUnixEpoch) / kTicksPerMs;
  const int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  int year;
  unsigned month, day;
  civil_from_days(days, year, month, day);
  const unsigned hour = static_cast<unsigned>(rest / 3600000);
  rest %= 3600000;
  const unsigned minute = static_cast<unsigned>(rest / 60000);
  rest %= 60000;
  const unsigned second = static_cast<unsigned>(rest / 1000);
  const unsigned milli = static_cast<unsigned>(rest % 1000);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%03u", year, month, day, hour, minute,
                second, milli);
  return buf;
}

std::string tagged_log_message(LogRole role, std::string_view arch, std::string_view text) {
  std::string m;
  m.reserve(text.size() + 16);
  m += role == LogRole::host ? "[host " : "[hook ";
  m += arch;
  m += "] ";
  m += text;
  return m;
}

std::string format_log_line(std::string_view timestamp, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 32);
  line += timestamp;
  line += ' ';
  line += message;
  line += "\r\n";
  return line;
}

std::string log_file_name(uint32_t pid) { return "lumaro-" + std::to_string(pid) + ".log"; }

std::vector<std::wstring> select_logs_to_prune(std::vector<LogDirEntry> entries) {
  std::erase_if(entries, [](const LogDirEntry& e) { return !e.name.starts_with(kLogFilePrefix); });
  std::vector<std::wstring> doomed;
  if (entries.size() <= kLogFilesKept) return doomed;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const LogDirEntry& a, const LogDirEntry& b) { return a.last_write > b.last_write; });
  for (size_t i = kLogFilesKept; i < entries.size(); ++i) doomed.push_back(std::move(entries[i].path));
  return doomed;
}

}  // namespace lumaro
