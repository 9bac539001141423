#include "runner/command_line_quoting.h"

#include <gtest/gtest.h>

#include "support/crt_split.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "app/command_line.h"

namespace lumaro {
namespace {

using Args = std::vector<std::string>;
using testing_support::crt_split;

// UTF-8 to the platform's wide text (UTF-16 on Windows, UTF-32 elsewhere), as
// CreateProcessW would receive it. The inputs here are valid UTF-8.
std::wstring widen(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

Args with_program(const std::string& program, Args args) {
  args.insert(args.begin(), program);
  return args;
}

// Arguments that have broken naive quoting somewhere.
const Args kHostile = {
    "",
    " ",
    "plain",
    "two words",
    "tab\there",
    "say \"hi\"",
    "\"",
    "\"\"",
    "a\\b",
    "trailing\\",
    "trailing two\\\\",
    "\\\"",
    "\\\\\"",
    "quote at end\"",
    "a & calc.exe",
    "a&calc",
    "x|y",
    "^",
    ">",
    "(",
    "a | more",
    "out > file",
    "in < file",
    "caret ^ here",
    "(grouped)",
    "bang!",
    "%PATH%",
    "%%",
    "100%",
    "%cd:~,%",
    "!VAR!",
    "\" & calc & \"",
    "C:\\Program Files\\x\\",
    "문서 제목 \"따옴표\" \\",
    "--print=[지시]\tx",
    "#$*+-./:?@\\_",
};

TEST(QuoteWindowsArgument, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::string arg;
    std::string quoted;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"abc", "abc"},
      {"a\\b\\", "a\\b\\"},  // no quote follows, so backslashes stay single
      {"한글", "한글"},
      {"a b", "\"a b\""},
      {"a\tb", "\"a\tb\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
      {"dir\\ x\\", "\"dir\\ x\\\\\""},
      {"x y\\\\", "\"x y\\\\\\\\\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quote_windows_argument(c.arg), c.quoted) << c.arg;
}

TEST(BuildCommandLine, HostileArgumentsSplitBackUnchanged) {
  const std::string program = "C:\\Program Files\\Tool\\tool.exe";
  for (const std::string& arg : kHostile) {
    const Args args = {"-x", arg, "tail"};
    EXPECT_EQ(split_command_line(widen(build_command_line(program, args))), with_program(program, args))
        << build_command_line(program, args);
  }
  EXPECT_EQ(split_command_line(widen(build_command_line(program, kHostile))), with_program(program, kHostile));
}

TEST(BuildCommandLine, RandomArgumentsSplitBackUnchanged) {
  const std::vector<std::string> pieces = {"\"", "\\", " ", "\t", "a", "b", "한", "글", "&", "%"};
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<int> count(0, 5);
  const std::string program = "C:\\a b\\p.exe";
  for (int round = 0; round < 3000; ++round) {
    Args args(static_cast<size_t>(count(rng)));
    for (std::string& arg : args) {
      for (int n = length(rng); n > 0; --n) arg += pieces[piece(rng)];
    }
    const std::string line = build_command_line(program, args);
    ASSERT_EQ(split_command_line(widen(line)), with_program(program, args)) << line;
  }
}

TEST(PrepareCommandLine, StartsProgramsDirectlyAndRefusesWhatCannotPass) {
  const auto ok = prepare_command_line("C:\\t\\codex.exe", {"exec", "a b"}, "C:\\Windows\\System32");
  ASSERT_TRUE(std::holds_alternative<ProcessCommandLine>(ok));
  EXPECT_EQ(std::get<ProcessCommandLine>(ok),
            (ProcessCommandLine{"C:\\t\\codex.exe", "\"C:\\t\\codex.exe\" exec \"a b\""}));

  struct Refused {
    std::string program;
    Args args;
    std::string error;
  };
  const Refused refused[] = {
      {"C:\\t\\x.exe", {std::string("a\0b", 3)}, kArgumentCharacterError},
      {"C:\\t\\\"x.exe", {}, kProgramPathError},
      {"", {}, kProgramPathError},
      // "C:\t\x.exe" and its quotes take 12 units, each space one more.
      {"C:\\t\\x.exe", {std::string(kMaxProcessCommandLine - 12, 'a')}, kCommandLineTooLongError},
      // One unit too many: the last character needs a surrogate pair.
      {"C:\\t\\x.exe", {std::string(kMaxProcessCommandLine - 14, 'a') + "\xF0\x9F\x98\x80"}, kCommandLineTooLongError},
  };
  for (const Refused& r : refused) {
    const auto result = prepare_command_line(r.program, r.args, "C:\\Windows\\System32");
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << r.program;
    EXPECT_EQ(std::get<std::string>(result), r.error);
  }
  // Exactly at the limit still starts; newlines pass to programs unharmed.
  EXPECT_TRUE(std::holds_alternative<ProcessCommandLine>(
      prepare_command_line("C:\\t\\x.exe", {std::string(kMaxProcessCommandLine - 13, 'a')}, "C:\\W")));
  // The limit counts UTF-16 units, not UTF-8 bytes.
  EXPECT_TRUE(std::holds_alternative<ProcessCommandLine>(
      prepare_command_line("C:\\t\\x.exe", {std::string(kMaxProcessCommandLine - 14, 'a') + "한"}, "C:\\W")));
  EXPECT_TRUE(std::holds_alternative<ProcessCommandLine>(prepare_command_line("C:\\t\\x.exe", {"a\r\nb"}, "C:\\W")));
}

TEST(Utf16Length, CountsCodeUnits) {
  EXPECT_EQ(utf16_length(""), 0u);
  EXPECT_EQ(utf16_length("abc"), 3u);
  EXPECT_EQ(utf16_length("한글"), 2u);
  EXPECT_EQ(utf16_length("\xF0\x9F\x98\x80"), 2u);  // outside the BMP: a surrogate pair
  EXPECT_EQ(utf16_length("\xFF\xC3"), 2u);          // invalid bytes count one each
}

TEST(IsBatchScript, ExtensionAsWindowsSeesIt) {
  struct Case {
    std::string path;
    bool batch;
  };
  const Case cases[] = {
      {"C:\\npm\\claude.cmd", true}, {"C:\\npm\\CLAUDE.CMD", true}, {"x.Bat", true},
      {"C:\\npm\\claude.cmd.", true}, {"C:\\npm\\claude.cmd . .", true}, {"C:/npm/gemini.cmd", true},
      {"C:\\npm\\claude.exe", false}, {"C:\\npm\\claude.cmd.exe", false}, {"C:\\cmd", false},
      {"C:\\a.cmd\\tool.exe", false}, {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_batch_script(c.path), c.batch) << c.path;
}

// ---- what cmd.exe makes of a line ------------------------------------------

// cmd.exe's percent expansion on a command line (not in a batch file): a
// defined name between two "%" is replaced, otherwise the first "%" stays and
// scanning goes on right after it. Defined here: cd (with the empty
// substring form) and a few ordinary variables, whose expansion shows up as a
// marker that no test argument contains.
std::string expand_percents(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '%') {
      out += s[i++];
      continue;
    }
    const size_t close = s.find('%', i + 1);
    if (close == std::string::npos) {
      out += s[i++];
      continue;
    }
    std::string name = s.substr(i + 1, close - i - 1);
    const std::string modifier = name.find(':') == std::string::npos ? "" : name.substr(name.find(':'));
    name = name.substr(0, name.find(':'));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool defined = name == "cd" || name == "path" || name == "var" || name == "temp";
    if (!defined) {
      out += s[i++];
      continue;
    }
    out += (name == "cd" && modifier == ":~,") ? "" : "<EXPANDED>";
    i = close + 1;
  }
  return out;
}

// The arguments a script started by `line` hands on with %*, as a C-runtime
// program reads them (the script itself first); nothing when cmd.exe would
// see a metacharacter outside quotes or a quote left open.
std::optional<Args> through_cmd(const std::string& line) {
  const std::string switches = " /e:ON /v:OFF /d /c ";
  const size_t at = line.find(switches);
  if (at == std::string::npos) return std::nullopt;
  std::string rest = expand_percents(line.substr(at + switches.size()));
  // /c with more than two quotes: the first and the last one go.
  if (rest.empty() || rest.front() != '"') return std::nullopt;
  rest.erase(0, 1);
  const size_t last = rest.rfind('"');
  if (last == std::string::npos) return std::nullopt;
  rest.erase(last, 1);
  bool in_quotes = false;
  for (const char c : rest) {
    if (c == '"') in_quotes = !in_quotes;
    if (!in_quotes && std::string_view("&|<>^()\r\n").find(c) != std::string_view::npos) return std::nullopt;
  }
  if (in_quotes) return std::nullopt;
  return crt_split(rest);
}

TEST(BuildBatchCommandLine, RunsTheScriptThroughCmdWithFixedSwitches) {
  const auto result = build_batch_command_line("C:\\Windows\\System32", "C:\\npm\\codex.cmd", {"exec", "a b", ""});
  ASSERT_TRUE(std::holds_alternative<ProcessCommandLine>(result));
  EXPECT_EQ(std::get<ProcessCommandLine>(result),
            (ProcessCommandLine{"C:\\Windows\\System32\\cmd.exe",
                                "\"C:\\Windows\\System32\\cmd.exe\" /e:ON /v:OFF /d /c "
                                "\"\"C:\\npm\\codex.cmd\" exec \"a b\" \"\"\""}));
  // The same decision through prepare_command_line, whatever the case.
  EXPECT_EQ(prepare_command_line("C:\\npm\\CODEX.CMD", {}, "C:\\Windows\\System32"),
            CommandLineResult(ProcessCommandLine{
                "C:\\Windows\\System32\\cmd.exe",
                "\"C:\\Windows\\System32\\cmd.exe\" /e:ON /v:OFF /d /c \"\"C:\\npm\\CODEX.CMD\"\""}));
}

TEST(QuoteBatchArgument, SafeTextStaysBareAndEveryPercentIsNeutralised) {
  struct Case {
    std::string arg;
    std::string quoted;
  };
  const Case cases[] = {
      {"exec", "exec"},
      {"-c", "-c"},
      {"C:\\x\\y.js", "C:\\x\\y.js"},
      {"#$*+-./:?@\\_", "#$*+-./:?@\\_"},
      {"", "\"\""},
      {"dir\\", "\"dir\\\\\""},
      {"a b", "\"a b\""},
      {"한글", "\"한글\""},
      {"a&b", "\"a&b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"a\\\"b", "\"a\\\\\"\"b\""},
      {"%PATH%", "\"%%cd:~,%PATH%%cd:~,%\""},
      {"bang!", "\"bang!\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quote_batch_argument(c.arg), c.quoted) << c.arg;

  for (const std::string& arg : kHostile) {
    std::string quoted = quote_batch_argument(arg);
    for (size_t at; (at = quoted.find("%%cd:~,")) != std::string::npos;) quoted.erase(at, 7);
    EXPECT_EQ(std::count(quoted.begin(), quoted.end(), '%'), std::count(arg.begin(), arg.end(), '%')) << arg;
  }
}

TEST(BuildBatchCommandLine, HostileArgumentsReachTheScriptIntact) {
  const std::string script = "C:\\Users\\김 %TEMP%\\npm\\claude.cmd";
  for (const std::string& arg : kHostile) {
    const Args args = {"-p", arg, "--tools", ""};
    const auto result = build_batch_command_line("C:\\Windows\\System32", script, args);
    ASSERT_TRUE(std::holds_alternative<ProcessCommandLine>(result)) << arg;
    const std::string& line = std::get<ProcessCommandLine>(result).command_line;
    EXPECT_EQ(through_cmd(line), with_program(script, args)) << line;
  }
}

TEST(BuildBatchCommandLine, RandomArgumentsReachTheScriptIntact) {
  const std::vector<std::string> pieces = {"\"", "\\", " ", "\t", "a", "한", "&", "|", "<", ">",
                                           "^",  "(",  ")", "!",  "%", "%PATH%", "%cd:~,%", "@", "/"};
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 10);
  std::uniform_int_distribution<int> count(0, 4);
  const std::string script = "C:\\npm\\gemini.cmd";
  for (int round = 0; round < 3000; ++round) {
    Args args(static_cast<size_t>(count(rng)));
    for (std::string& arg : args) {
      for (int n = length(rng); n > 0; --n) arg += pieces[piece(rng)];
    }
    const auto result = build_batch_command_line("C:\\Windows\\System32", script, args);
    ASSERT_TRUE(std::holds_alternative<ProcessCommandLine>(result));
    const std::string& line = std::get<ProcessCommandLine>(result).command_line;
    ASSERT_EQ(through_cmd(line), with_program(script, args)) << line;
  }
}

TEST(BuildBatchCommandLine, RefusesWhatCmdCannotCarry) {
  struct Refused {
    std::string system_dir;
    std::string script;
    Args args;
    std::string error;
  };
  const std::string dir = "C:\\Windows\\System32";
  const Refused refused[] = {
      {dir, "C:\\npm\\claude.cmd", {"line one\nline two"}, kArgumentCharacterError},
      {dir, "C:\\npm\\claude.cmd", {"ok", "carriage\r"}, kArgumentCharacterError},
      {dir, "C:\\npm\\claude.cmd", {std::string("nul\0", 4)}, kArgumentCharacterError},
      {dir, "C:\\npm\\claude.cmd", {std::string(kMaxCmdCommandLine, 'a')}, kCommandLineTooLongError},
      // Every "%" grows eightfold on the line; the limit counts the line.
      {dir, "C:\\npm\\claude.cmd", {std::string(1100, '%')}, kCommandLineTooLongError},
      {dir, "C:\\npm\\cl\"aude.cmd", {}, kProgramPathError},
      {dir, "C:\\npm\\claude.cmd\\", {}, kProgramPathError},
      {"", "C:\\npm\\claude.cmd", {}, kProgramPathError},
  };
  for (const Refused& r : refused) {
    const auto result = build_batch_command_line(r.system_dir, r.script, r.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << r.script;
    EXPECT_EQ(std::get<std::string>(result), r.error);
  }
  // Text of ordinary size passes.
  EXPECT_TRUE(std::holds_alternative<ProcessCommandLine>(
      build_batch_command_line(dir, "C:\\npm\\claude.cmd", {std::string(8000, 'a')})));
}

}  // namespace
}  // namespace lumaro
