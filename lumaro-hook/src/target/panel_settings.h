// The panel's settings file, "settings.txt" in the per-user data folder:
// key = value lines, "#" comments. Anything unreadable gives the defaults.
#pragma once

#include <string>
#include <string_view>

namespace lumaro::hook {

enum class PanelAnimation { spring, slide };

struct PanelSettings {
  int panel_width = 320;  // logical pixels, 200 to 800
  PanelAnimation anim = PanelAnimation::spring;
  bool operator==(const PanelSettings&) const = default;
};

inline constexpr int kMinPanelWidth = 200;
inline constexpr int kMaxPanelWidth = 800;

// Reads the file's text; text that is not valid UTF-8 gives the defaults.
PanelSettings parse_panel_settings(std::string_view text);

// "Spring" or "Slide".
std::string_view animation_name(PanelAnimation anim) noexcept;
// For the attach log line: "panel_width=320 anim=Spring".
std::string settings_text(const PanelSettings& settings);

#ifdef _WIN32
PanelSettings read_panel_settings();
#endif

}  // namespace lumaro::hook
