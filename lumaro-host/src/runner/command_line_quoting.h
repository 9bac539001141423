// Turning a program and its argument list into the one command-line string
// that CreateProcessW takes. Arguments carry user data (window titles,
// document text, paths), so every byte must reach the child as the same
// argument and nothing may be read as a shell command.
//
// Two encodings:
// - an ordinary program parses its command line with the C runtime's or
//   CommandLineToArgvW's rules; quoting for those rules is lossless for every
//   argument without NUL;
// - a .cmd or .bat script is run by cmd.exe, which first expands %...% and
//   then treats & | < > ^ ( ) as syntax outside double quotes before the
//   script ever sees its arguments. Such scripts get a stricter encoding, and
//   arguments that cmd.exe cannot carry at all are refused.
//
// Everything here is pure and works on UTF-8 text; the caller widens the
// result for CreateProcessW.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumaro {

// CreateProcessW's limit for the whole command line, and cmd.exe's limit for
// the line it reads, both counted in UTF-16 code units without the final NUL.
inline constexpr size_t kMaxProcessCommandLine = 32767;
inline constexpr size_t kMaxCmdCommandLine = 8191;

inline constexpr char kArgumentCharacterError[] = "명령줄 인자에 줄바꿈이나 NUL 문자가 있어 실행할 수 없습니다";
inline constexpr char kCommandLineTooLongError[] = "명령줄이 너무 길어 실행할 수 없습니다";
inline constexpr char kProgramPathError[] = "실행할 프로그램의 경로가 올바르지 않습니다";

// What CreateProcessW gets: the module to start (never searched for) and the
// complete command line.
struct ProcessCommandLine {
  std::string application;
  std::string command_line;
  bool operator==(const ProcessCommandLine&) const = default;
};

// Either the command line or the Korean sentence that says why the program
// cannot be started with these arguments.
using CommandLineResult = std::variant<ProcessCommandLine, std::string>;

// Number of UTF-16 code units the UTF-8 text becomes (an invalid byte counts
// as one unit, as its replacement character would).
size_t utf16_length(std::string_view utf8) noexcept;

// The last component of a path as Windows opens it: trailing dots and spaces
// are ignored by the file system, so "claude.cmd. " names claude.cmd.
std::string_view windows_file_name(std::string_view path) noexcept;

// True when Windows would run the file through cmd.exe: its extension (after
// stripping trailing dots and spaces) is .cmd or .bat, in any ASCII case.
bool is_batch_script(std::string_view path) noexcept;

// One argument for a program that parses its command line with the C
// runtime's or CommandLineToArgvW's rules. Empty arguments and arguments with
// white space or double quotes are quoted; backslashes are doubled only where
// they precede a double quote or the closing quote.
std::string quote_windows_argument(std::string_view arg);

// The program in double quotes (argument 0 has no escapes, so it must not
// contain a double quote) followed by each argument quoted as above, joined
// by single spaces. No checks; see prepare_command_line.
std::string build_command_line(std::string_view program, const std::vector<std::string>& args);

// One argument on a cmd.exe line that starts a script. The argument must not
// contain CR, LF or NUL (cmd.exe ends the command there).
std::string quote_batch_argument(std::string_view arg);

// cmd.exe with `/e:ON /v:OFF /d /c` running `script` with `args`. Refuses
// arguments with CR, LF or NUL, a script path that cannot be quoted, and
// lines over kMaxCmdCommandLine.
CommandLineResult build_batch_command_line(std::string_view system_dir, std::string_view script,
                                           const std::vector<std::string>& args);

// The command line for `program`: through cmd.exe (in `system_dir`) for
// scripts, directly otherwise. Direct starts refuse NUL in an argument, a
// double quote in the program path and lines over kMaxProcessCommandLine.
CommandLineResult prepare_command_line(std::string_view program, const std::vector<std::string>& args,
                                       std::string_view system_dir);

}  // namespace lumaro
