// How a program built with the current C runtime splits its command line,
// for tests of what such a program receives.
#pragma once

#include <string>
#include <vector>

namespace lumaro::testing_support {

// The C runtime's argument rules (since 2008): like CommandLineToArgvW, except
// that "" inside a quoted part is a literal quote and the part stays open.
inline std::vector<std::string> crt_split(const std::string& s) {
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) return args;
    std::string arg;
    bool in_quotes = false;
    while (i < s.size()) {
      size_t backslashes = 0;
      while (i < s.size() && s[i] == '\\') ++backslashes, ++i;
      if (i < s.size() && s[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
          ++i;
        } else if (in_quotes && i + 1 < s.size() && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
        continue;
      }
      arg.append(backslashes, '\\');
      if (i >= s.size() || (!in_quotes && (s[i] == ' ' || s[i] == '\t'))) break;
      arg += s[i++];
    }
    args.push_back(arg);
  }
}

}  // namespace lumaro::testing_support
