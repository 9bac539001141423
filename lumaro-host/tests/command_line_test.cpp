#include "app/command_line.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, WindowsRules) {
  struct Case {
    const wchar_t* line;
    Args expected;
  };
  const Case cases[] = {
      {L"", {""}},
      {L"host.exe", {"host.exe"}},
      {L"host.exe  a\tb  ", {"host.exe", "a", "b"}},
      // Argument 0: quoted up to the next quote, backslashes literal, and the
      // next argument may follow the closing quote directly.
      {L"\"C:\\Program Files\\x\\\" --quit", {"C:\\Program Files\\x\\", "--quit"}},
      {L"\"C:\\a b\\h.exe\"next", {"C:\\a b\\h.exe", "next"}},
      {L"\"unterminated path", {"unterminated path"}},
      {L"C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
      {L" leading", {"", "leading"}},
      // Quotes group, also in the middle of an argument.
      {L"p \"a b\" c\"d e\"f", {"p", "a b", "cd ef"}},
      {L"p \"\" x \"\"", {"p", "", "x", ""}},
      // Backslashes are literal unless they precede a quote.
      {L"p a\\\\b c\\ d\\\\", {"p", "a\\\\b", "c\\", "d\\\\"}},
      {L"p a\\\"b", {"p", "a\"b"}},            // 2n+1: literal quote
      {L"p a\\\\\"b c\"", {"p", "a\\b c"}},     // 2n: half, then a quote that groups
      {L"p a\\\\\\\"b", {"p", "a\\\"b"}},        // \\\" gives \"
      {L"p \"a\\\\\" b", {"p", "a\\", "b"}},     // trailing backslashes inside quotes
      // "" inside quotes is a literal quote and ends the quoted part.
      {L"p \"a\"\"b c\"", {"p", "a\"b", "c"}},
      {L"p \"\"\"a\"\"\"", {"p", "\"a\""}},
      {L"p a\"", {"p", "a"}},
      {L"p \"a b", {"p", "a b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(split_command_line(c.line), c.expected) << testing::PrintToString(std::wstring(c.line));
  }
}

TEST(SplitCommandLine, ConvertsUtf16AndReplacesUnpairedSurrogates) {
  std::wstring line = L"p 한글 ";
  line += static_cast<wchar_t>(0xD83D);  // U+1F600 as a surrogate pair
  line += static_cast<wchar_t>(0xDE00);
  line += L' ';
  line += static_cast<wchar_t>(0xDE00);  // lone low surrogate
  line += L'x';
  line += static_cast<wchar_t>(0xD83D);  // lone high surrogate at the end
  EXPECT_EQ(split_command_line(line), (Args{"p", "한글", "\xF0\x9F\x98\x80", "\xEF\xBF\xBDx\xEF\xBF\xBD"}));
}

TEST(FormatBracketedList, QuotesAndEscapesEachItem) {
  EXPECT_EQ(format_bracketed_list({}), "[]");
  EXPECT_EQ(format_bracketed_list({"C:\\a b\\h.exe", "say \"hi\"", "한글"}),
            "[\"C:\\\\a b\\\\h.exe\", \"say \\\"hi\\\"\", \"한글\"]");
}

TEST(SelectHostMode, FirstMatchingTestWins) {
  struct Case {
    Args args;
    HostMode expected;
  };
  const Case cases[] = {
      {{"h.exe"}, HostMode::resident},
      {{"h.exe", "chrome-extension://pgfkdmhabnclojiepkfndgamhbceloij/"}, HostMode::relay},
      {{"h.exe", "chrome-extension://"}, HostMode::relay},
      {{"h.exe", "chrome-extension:/"}, HostMode::resident},
      {{"h.exe", "--toggle", "chrome-extension://x"}, HostMode::toggle},  // only argument 1 counts
      {{"h.exe", "--quit", "--native-messaging"}, HostMode::relay},
      {{"h.exe", "--unregister-browser", "--register-browser"}, HostMode::register_browser},
      {{"h.exe", "--unregister-browser", "--helper"}, HostMode::unregister_browser},
      {{"h.exe", "--toggle", "--helper"}, HostMode::helper},
      {{"h.exe", "--quit", "--toggle"}, HostMode::toggle},
      {{"h.exe", "--release", "--quit"}, HostMode::quit},
      {{"h.exe", "x", "--release"}, HostMode::release},
      {{"--quit"}, HostMode::quit},  // argument 0 is scanned too
      {{"h.exe", "--TOGGLE", "--unknown", "--quit=1"}, HostMode::resident},
      {{}, HostMode::resident},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(select_host_mode(c.args), c.expected) << testing::PrintToString(c.args);
  }
}

TEST(ParseHelperHwnd, DecimalAfterFirstHwnd) {
  struct Case {
    Args args;
    std::optional<uint64_t> expected;
  };
  const Case cases[] = {
      {{"h", "--helper", "--hwnd", "123"}, 123},
      {{"h", "--hwnd", "+123", "--helper"}, 123},
      {{"h", "--hwnd", "18446744073709551615"}, UINT64_MAX},
      {{"h", "--hwnd", "0"}, 0},
      {{"h", "--hwnd", "7", "--hwnd", "8"}, 7},
      {{"h", "--hwnd", "18446744073709551616"}, std::nullopt},
      {{"h", "--hwnd", "0x10"}, std::nullopt},
      {{"h", "--hwnd", ""}, std::nullopt},
      {{"h", "--hwnd", "+"}, std::nullopt},
      {{"h", "--hwnd", "-"}, std::nullopt},
      {{"h", "--hwnd", "-5"}, std::nullopt},
      {{"h", "--hwnd", " 5"}, std::nullopt},
      {{"h", "--hwnd", "++5"}, std::nullopt},
      {{"h", "--hwnd"}, std::nullopt},
      {{"h", "--helper", "123"}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_helper_hwnd(c.args), c.expected) << testing::PrintToString(c.args);
  }
}

}  // namespace
}  // namespace lumaro
