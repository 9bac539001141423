#include "apps/target_app.h"

#include <utility>

namespace lumaro {
namespace {

constexpr char fold_ascii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_browser(std::string_view exe) noexcept { return exe.starts_with(kBrowserPrefix); }

// Shared by both display-name variants; `cut_at_first` chooses where an
// unknown program's file name loses its extension.
std::string display_name_impl(std::string_view exe, bool cut_at_first) {
  if (is_browser(exe)) return std::string(browser_display_name(exe.substr(kBrowserPrefix.size())));
  const TargetApp row = classify(exe);
  if (!row.exe.empty()) return std::string(row.display);
  std::string_view name = basename(exe);
  const size_t dot = cut_at_first ? name.find('.') : name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name.empty() ? kFallbackApp.display : name);
}

}  // namespace

bool exe_names_equal(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
  }
  return true;
}

std::string_view basename(std::string_view exe) noexcept {
  const size_t sep = exe.find_last_of("\\/");
  return sep == std::string_view::npos ? exe : exe.substr(sep + 1);
}

TargetApp classify(std::string_view exe) noexcept {
  if (is_browser(exe)) return kBrowserApp;
  const std::string_view name = basename(exe);
  for (const TargetApp& row : kTargetApps) {
    if (exe_names_equal(row.exe, name)) return row;
  }
  return kFallbackApp;
}

std::string_view browser_display_name(std::string_view name) noexcept {
  static constexpr std::pair<std::string_view, std::string_view> kBrowsers[] = {
      {"edge", "Edge"}, {"orlo", "Orlo"}, {"verso", "Verso"}, {"chrome", "Chrome"}, {"chromium", "Chromium"},
  };
  for (const auto& [key, display] : kBrowsers) {
    if (exe_names_equal(key, name)) return display;
  }
  return kBrowserApp.display;
}

std::string display_name(std::string_view exe) { return display_name_impl(exe, /*cut_at_first=*/false); }

std::string host_display_name(std::string_view exe) { return display_name_impl(exe, /*cut_at_first=*/true); }

bool is_office_exe(std::string_view exe) noexcept {
  const std::string_view name = basename(exe);
  for (const TargetApp& row : kTargetApps) {
    if (row.kind == TargetKind::Office && exe_names_equal(row.exe, name)) return true;
  }
  return false;
}

}  // namespace lumaro
