#include "runner/usage_parse.h"

#include <nlohmann/json.hpp>

#include "base/utf8.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

constexpr std::string_view kSessionLabel = "Current session";
constexpr std::string_view kWeekOpen = "Current week (";

// The report's labels are long English phrases; the panel's column is narrow,
// so the two usual ones get short Korean names.
std::string name_for(std::string_view label) {
  if (label.size() < 15) return std::string(label);
  if (label.starts_with(kSessionLabel)) return "세션";
  if (label.starts_with(kWeekOpen) && label.ends_with(")")) {
    const std::string_view inner = label.substr(kWeekOpen.size(), label.size() - kWeekOpen.size() - 1);
    if (inner == "all models") return "주간";
    return "주간 " + std::string(inner);
  }
  return std::string(label);
}

// The decimal number written directly before `end`, not reaching before
// `text`'s start; nothing when there are no digits or it exceeds 32 bits.
std::optional<uint32_t> digits_before(std::string_view text, size_t end) {
  size_t start = end;
  while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
  if (start == end) return std::nullopt;
  uint64_t value = 0;
  for (size_t i = start; i < end; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::optional<UsageEntry> parse_line(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view label = trim_unicode_space(line.substr(0, colon));
  const std::string_view rest = line.substr(colon + 1);
  const size_t used = rest.find("% used");
  if (used == std::string_view::npos) return std::nullopt;
  const std::optional<uint32_t> pct = digits_before(rest, used);
  if (!pct) return std::nullopt;
  UsageEntry entry;
  entry.name = name_for(label);
  entry.pct = *pct;
  constexpr std::string_view kResets = "resets ";
  if (const size_t at = rest.find(kResets); at != std::string_view::npos) {
    entry.reset = std::string(trim_unicode_space(rest.substr(at + kResets.size())));
  }
  return entry;
}

}  // namespace

std::vector<std::string> usage_args() { return {"-p", "/usage", "--output-format", "json"}; }

std::string usage_report_text(const ToolRun& run) {
  if (!run.started) return {};
  const std::string out = sanitize_utf8(run.out);
  const std::string_view trimmed = trim_unicode_space(out);
  const json j = json::parse(trimmed.begin(), trimmed.end(), nullptr, /*allow_exceptions=*/false);
  const auto result = j.find("result");  // end() for anything but an object
  return result != j.end() && result->is_string() ? result->get<std::string>() : std::string();
}

std::vector<UsageEntry> parse_usage_report(std::string_view report) {
  // The report is valid UTF-8 (it came out of a JSON string), and cutting it
  // at ASCII bytes keeps every piece valid, as trim_unicode_space needs.
  std::vector<UsageEntry> entries;
  while (true) {
    const size_t nl = report.find('\n');
    if (auto entry = parse_line(report.substr(0, nl))) entries.push_back(std::move(*entry));
    if (nl == std::string_view::npos) break;
    report.remove_prefix(nl + 1);
  }
  return entries;
}

std::string usage_json(const std::vector<UsageEntry>& entries) {
  json list = json::array();
  // "name" < "pct" < "reset": the object's sorted members are the wanted order.
  for (const UsageEntry& e : entries) list.push_back(json{{"name", e.name}, {"pct", e.pct}, {"reset", e.reset}});
  return list.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string usage_note(const std::vector<UsageEntry>& entries) { return "§usage:" + usage_json(entries); }

bool usage_cache_fresh(std::chrono::steady_clock::time_point stored, std::chrono::steady_clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::seconds>(now - stored) < kUsageCacheLifetime;
}

std::optional<std::vector<UsageEntry>> UsageCache::fresh(std::chrono::steady_clock::time_point now) {
  auto stored = stored_.lock();
  if (!stored->filled || !usage_cache_fresh(stored->at, now)) return std::nullopt;
  return stored->entries;
}

void UsageCache::store(std::chrono::steady_clock::time_point now, std::vector<UsageEntry> entries) {
  auto stored = stored_.lock();
  stored->filled = true;
  stored->at = now;
  stored->entries = std::move(entries);
}

}  // namespace lumaro
