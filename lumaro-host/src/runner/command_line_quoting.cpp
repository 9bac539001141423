#include "runner/command_line_quoting.h"

#include "base/ascii.h"

namespace lumaro {
namespace {


// Characters that neither ordinary programs nor cmd.exe treat specially, so
// an argument made only of them can go unquoted to a script.
bool batch_safe(unsigned char c) noexcept {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("#$*+-./:?@\\_").find(static_cast<char>(c)) != std::string_view::npos;
}

// cmd.exe expands %NAME% everywhere on the line, inside double quotes too, and
// offers no escape for "%" on a line that is not inside a batch file. What it
// does offer is substring syntax, %NAME:~start,end%, and a variable that is
// always defined: cd, the current folder. %cd:~,% with both bounds left out
// takes nothing of it, so it expands to the empty text. Writing each "%" as
// "%%cd:~,%" therefore works like this: cmd.exe first sees "%%", the name of
// no variable, keeps that first "%" as it stands and goes on at the second
// one, where "%cd:~,%" now vanishes. What is left is the one "%" we meant,
// and no two of our percent signs can ever enclose a name. Substring syntax
// needs command extensions, hence /e:ON on the line.
void append_percent_safe(std::string& out, char c) {
  if (c == '%') out += "%%cd:~,";
  out += c;
}

bool has_line_breaking_character(std::string_view text) noexcept {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

size_t utf16_length(std::string_view s) noexcept {
  size_t units = 0;
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    char32_t min = 0;
    if (b < 0x80) {
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, min = 0x10000;
    }
    bool valid = len != 0 && i + len <= s.size();
    char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; valid && k < len; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (valid && len > 1 && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
    if (!valid) {
      // Counted as one replacement character per byte: never less than the
      // conversion produces, which is what a limit check needs.
      ++units;
      ++i;
      continue;
    }
    units += c >= 0x10000 ? 2 : 1;
    i += len;
  }
  return units;
}

std::string_view windows_file_name(std::string_view path) noexcept {
  const size_t sep = path.find_last_of("\\/");
  std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

bool is_batch_script(std::string_view path) noexcept {
  const std::string_view name = windows_file_name(path);
  if (name.size() < 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return ascii_iequals(ext, ".cmd") || ascii_iequals(ext, ".bat");
}

std::string quote_windows_argument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(arg);

  // Backslashes are literal except in a run that ends at a double quote:
  // there 2n of them stand for n, and an odd count makes the quote literal.
  std::string out = "\"";
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  // The run before the closing quote must not escape it.
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string build_command_line(std::string_view program, const std::vector<std::string>& args) {
  // Argument 0 ends at the next double quote with no escapes at all, so the
  // program is always quoted: a space in its folder cannot split it.
  std::string line = "\"";
  line += program;
  line += '"';
  for (const std::string& arg : args) {
    line += ' ';
    line += quote_windows_argument(arg);
  }
  return line;
}

std::string quote_batch_argument(std::string_view arg) {
  // A trailing backslash is quoted too: a script that writes "%~1" would
  // otherwise put it right before its own closing quote.
  bool quote = arg.empty() || arg.back() == '\\';
  for (const char c : arg) {
    if (!batch_safe(static_cast<unsigned char>(c))) quote = true;
  }

  std::string out;
  if (quote) out += '"';
  // Inside the quotes cmd.exe passes & | < > ^ ( ) through untouched. A
  // double quote is written twice: cmd.exe sees its quoted part end and
  // reopen at once, so nothing between them is ever outside quotes, and the C
  // runtime reads the pair inside a quoted part as one literal quote.
  // Backslashes follow the C runtime's rule, doubled before any quote.
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      out += c;
      continue;
    }
    if (c == '"') {
      out.append(backslashes, '\\');
      out += '"';
    }
    backslashes = 0;
    append_percent_safe(out, c);
  }
  if (quote) {
    out.append(backslashes, '\\');
    out += '"';
  }
  return out;
}

CommandLineResult build_batch_command_line(std::string_view system_dir, std::string_view script,
                                           const std::vector<std::string>& args) {
  if (system_dir.empty() || script.empty() || script.back() == '\\') return std::string(kProgramPathError);
  for (const char c : script) {
    // No file name holds a double quote or a control character; such a path
    // could only break out of its quotes.
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) return std::string(kProgramPathError);
  }
  for (const std::string& arg : args) {
    if (has_line_breaking_character(arg)) return std::string(kArgumentCharacterError);
  }

  ProcessCommandLine result;
  result.application = std::string(system_dir);
  if (result.application.back() != '\\' && result.application.back() != '/') result.application += '\\';
  result.application += "cmd.exe";

  // /d skips AutoRun commands from the registry, /v:OFF keeps "!" literal,
  // /e:ON is needed for the "%" treatment above. After /c, cmd.exe removes the
  // first and the last double quote of the rest of the line when there are
  // more than two, so the whole command is wrapped in one extra pair and the
  // script's own quotes survive.
  std::string& line = result.command_line;
  line = "\"" + result.application + "\" /e:ON /v:OFF /d /c \"\"";
  for (const char c : script) append_percent_safe(line, c);
  line += '"';
  for (const std::string& arg : args) {
    line += ' ';
    line += quote_batch_argument(arg);
  }
  line += '"';

  if (utf16_length(line) > kMaxCmdCommandLine) return std::string(kCommandLineTooLongError);
  return result;
}

CommandLineResult prepare_command_line(std::string_view program, const std::vector<std::string>& args,
                                       std::string_view system_dir) {
  if (is_batch_script(program)) return build_batch_command_line(system_dir, program, args);

  if (program.empty() || program.find('"') != std::string_view::npos ||
      program.find('\0') != std::string_view::npos) {
    return std::string(kProgramPathError);
  }
  for (const std::string& arg : args) {
    // The wide command line ends at its first NUL; the rest would be lost.
    if (arg.find('\0') != std::string::npos) return std::string(kArgumentCharacterError);
  }
  ProcessCommandLine result{std::string(program), build_command_line(program, args)};
  if (utf16_length(result.command_line) > kMaxProcessCommandLine) return std::string(kCommandLineTooLongError);
  return result;
}

}  // namespace lumaro
