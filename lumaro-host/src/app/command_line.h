// The host's command line: splitting it the way Windows programs do, the mode
// it selects, the helper's window handle, and the bracketed form used to log
// argument and target lists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// Splits a raw command line (GetCommandLineW) like CommandLineToArgvW:
// argument 0, the program, runs to the first space or tab, or, when it starts
// with a double quote, to the next double quote, with no escapes. The other
// arguments are separated by spaces and tabs outside quotes; 2n backslashes
// before a double quote give n backslashes and a quote that opens or closes a
// quoted part, 2n+1 give n backslashes and a literal quote; "" inside a quoted
// part gives a literal quote. Each argument is converted to UTF-8 with
// unpaired surrogates replaced by U+FFFD. The result always holds argument 0
// (empty for an empty command line).
std::vector<std::string> split_command_line(std::wstring_view command_line);

// ["a", "b\"c"]: each item in double quotes with backslashes and double quotes
// escaped by a backslash, separated by ", ", inside square brackets.
std::string format_bracketed_list(const std::vector<std::string>& items);

// The modes in the order they are tested; the first match wins.
enum class HostMode {
  relay,               // argument 1 is a "chrome-extension://" origin, or "--native-messaging"
  register_browser,    // "--register-browser"
  unregister_browser,  // "--unregister-browser"
  helper,              // "--helper"
  toggle,              // "--toggle"
  quit,                // "--quit"
  release,             // "--release"
  resident,            // none of them
};

// Options are whole arguments compared exactly, found anywhere (argument 0
// included); unknown arguments are ignored.
HostMode select_host_mode(const std::vector<std::string>& args);

// The decimal number right after the first "--hwnd": an optional "+", then
// digits only, fitting 64 bits. Nothing when "--hwnd" is missing, has no
// value, or the value is anything else.
std::optional<uint64_t> parse_helper_hwnd(const std::vector<std::string>& args);

}  // namespace lumaro
