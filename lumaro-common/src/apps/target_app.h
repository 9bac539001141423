// The applications a panel can sit in, and the rules that map a client's
// executable (the "exe" of its hello: a full path, or "browser:" and a browser
// name) to one of them and to the short name used in status texts.
//
// Executable names compare with ASCII letters folded and every other byte as
// it is. All texts of the rows are constants with static storage, so rows can
// be copied freely and their string_views never dangle.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumaro {

enum class TargetKind : uint8_t {
  Connector,    // driven by the AI tool through the application's own MCP connector
  EditControl,  // text lives in an edit control; the panel reads and applies it itself
  Hangul,       // the word processor, through its automation object
  Office,       // recognised, never injected
  Browser,      // a browser side panel through the relay
};

// How to reach the connector of a Connector row; empty for every other kind.
struct ConnectorInfo {
  uint16_t default_port = 0;
  std::string_view name;      // the MCP server's name in the tools' configuration
  std::string_view program;   // file name of the connector, beside the application
  std::string_view port_env;  // environment variable that overrides the port
  bool operator==(const ConnectorInfo&) const = default;
};

struct TargetApp {
  TargetKind kind = TargetKind::EditControl;
  ConnectorInfo connector;        // meaningful only when kind is Connector
  std::string_view exe;           // executable file name; empty for the fallback row
  std::string_view display;       // the application's name for people
  std::string_view description;   // short English phrase for the system prompt
  bool operator==(const TargetApp&) const = default;
};

inline constexpr std::array<TargetApp, 6> kTargetApps{{
    {TargetKind::Connector, {7979, "cellwick", "cellwick-cli.exe", "CELLWICK_CONTROL_PORT"}, "cellwick.exe",
     "Cellwick", "spreadsheet app"},
    {TargetKind::EditControl, {}, "notepad.exe", "메모장", "plain text editor"},
    {TargetKind::Hangul, {}, "hwp.exe", "한글", "Korean word processor (Hangul, hwp and hwpx documents)"},
    {TargetKind::Office, {}, "winword.exe", "Word", "document editor"},
    {TargetKind::Office, {}, "excel.exe", "Excel", "spreadsheet app"},
    {TargetKind::Office, {}, "powerpnt.exe", "PowerPoint", "presentation app"},
}};

inline constexpr std::string_view kBrowserPrefix = "browser:";

inline constexpr TargetApp kBrowserApp{TargetKind::Browser, {}, kBrowserPrefix, "브라우저",
                                       "web browser side panel (page text is provided)"};

// Any executable the table does not know is served like a plain editor.
inline constexpr TargetApp kFallbackApp{TargetKind::EditControl, {}, "", "대상 앱", "desktop app"};

// The host's targets when its target list names none.
inline constexpr std::array<std::string_view, 3> kDefaultTargetExes{"notepad.exe", "cellwick.exe", "hwp.exe"};

// Same length and equal after folding A-Z to a-z; other bytes must match.
bool exe_names_equal(std::string_view a, std::string_view b) noexcept;

// The part after the last "\" or "/"; the whole text when it has neither.
std::string_view basename(std::string_view exe) noexcept;

// The browser row for "browser:<name>" (prefix case-sensitive), else the first
// table row whose exe equals basename(exe), else the fallback row.
TargetApp classify(std::string_view exe) noexcept;

// Display name of the text after "browser:": Edge, Orlo, Verso, Chrome,
// Chromium (any ASCII case), otherwise "브라우저".
std::string_view browser_display_name(std::string_view name) noexcept;

// Short application name for the panel's header: the row's display, or for an
// unknown program its file name cut before the last "." ("my.tool.exe" gives
// "my.tool"); "대상 앱" when that leaves nothing.
std::string display_name(std::string_view exe);

// The same for the host's status texts, except that an unknown program's file
// name is cut before its first "." ("my.tool.exe" gives "my").
std::string host_display_name(std::string_view exe);

// True for Word, Excel and PowerPoint, which never get a panel injected.
bool is_office_exe(std::string_view exe) noexcept;

}  // namespace lumaro
