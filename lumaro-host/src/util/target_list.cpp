#include "util/target_list.h"

#include <algorithm>

#include "apps/target_app.h"
#include "base/unicode_lower.h"
#include "base/utf8.h"

namespace lumaro {
namespace {

std::vector<std::string> default_targets() { return {kDefaultTargetExes.begin(), kDefaultTargetExes.end()}; }

// The file name a line names, or nothing for a line to skip.
std::optional<std::string> entry_of(std::string_view line) {
  line = line.substr(0, line.find('#'));
  line = trim_unicode_space(line);
  while (line.starts_with('"')) line.remove_prefix(1);
  while (line.ends_with('"')) line.remove_suffix(1);
  if (line.empty() || line.size() > kMaxTargetLineBytes) return std::nullopt;
  line = basename(line);
  if (line.empty()) return std::nullopt;
  return to_lower_unicode(line);
}

}  // namespace

std::vector<std::string> parse_target_list(std::optional<std::string_view> file_bytes) {
  if (!file_bytes || !is_valid_utf8(*file_bytes)) return default_targets();
  std::vector<std::string> names;
  std::string_view rest = *file_bytes;
  // Editors that save "UTF-8 with signature" put a BOM first; it is not part
  // of the first name.
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  while (names.size() < kMaxTargets) {
    const size_t lf = rest.find('\n');
    if (auto name = entry_of(rest.substr(0, lf))) {
      if (std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(std::move(*name));
    }
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
  if (names.empty()) return default_targets();
  return names;
}

}  // namespace lumaro
