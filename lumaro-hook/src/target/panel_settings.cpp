#include "target/panel_settings.h"

#include <cstdint>

#include "base/utf8.h"

#ifdef _WIN32
#include "base/file_win.h"
#include "paths/user_paths.h"
#endif

namespace lumaro::hook {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// An optional sign and decimal digits, nothing else; out-of-range values
// saturate far outside the accepted band instead of overflowing.
bool parse_int(std::string_view text, int64_t& out) noexcept {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (value < 1000000) value = value * 10 + (c - '0');
  }
  out = negative ? -value : value;
  return true;
}

void apply_line(std::string_view line, PanelSettings& settings) {
  const size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view key = trim_unicode_space(line.substr(0, eq));
  while (key.substr(0, kByteOrderMark.size()) == kByteOrderMark) key.remove_prefix(kByteOrderMark.size());
  const std::string name = ascii_lower(key);
  const std::string value = ascii_lower(trim_unicode_space(line.substr(eq + 1)));
  if (name == "panel_width") {
    int64_t width = 0;
    if (parse_int(value, width) && width >= kMinPanelWidth && width <= kMaxPanelWidth) {
      settings.panel_width = static_cast<int>(width);
    }
  } else if (name == "anim") {
    if (value == "spring") settings.anim = PanelAnimation::spring;
    if (value == "slide") settings.anim = PanelAnimation::slide;
  }
}

}  // namespace

PanelSettings parse_panel_settings(std::string_view text) {
  PanelSettings settings;
  if (!is_valid_utf8(text)) return settings;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    apply_line(line, settings);
  }
  return settings;
}

std::string_view animation_name(PanelAnimation anim) noexcept {
  return anim == PanelAnimation::slide ? "Slide" : "Spring";
}

std::string settings_text(const PanelSettings& settings) {
  return "panel_width=" + std::to_string(settings.panel_width) + " anim=" + std::string(animation_name(settings.anim));
}

#ifdef _WIN32
PanelSettings read_panel_settings() {
  // The file is a handful of lines; anything larger is not ours to parse.
  const auto text = read_small_file(join_path(data_dir(), L"settings.txt"), 65536);
  return text ? parse_panel_settings(*text) : PanelSettings{};
}
#endif

}  // namespace lumaro::hook
