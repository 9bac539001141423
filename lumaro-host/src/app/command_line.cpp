#include "app/command_line.h"

#include "base/utf8.h"

#include <algorithm>

namespace lumaro {
namespace {

bool is_separator(wchar_t c) noexcept { return c == L' ' || c == L'\t'; }


// UTF-16 to UTF-8; each unpaired surrogate becomes one U+FFFD. Where wchar_t
// is wider than 16 bits (the native test build) a unit above 0xFFFF is taken
// as a code point of its own.
std::string utf16_to_utf8(std::wstring_view w) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    const auto u = static_cast<char32_t>(w[i]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < w.size()) {
      const auto v = static_cast<char32_t>(w[i + 1]);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    const bool scalar = u <= 0x10FFFF && !(u >= 0xD800 && u <= 0xDFFF);
    append_utf8(out, scalar ? u : kReplacement);
  }
  return out;
}

}  // namespace

std::vector<std::string> split_command_line(std::wstring_view line) {
  std::vector<std::string> args;
  size_t i = 0;

  // Argument 0 is a path, in which backslashes are ordinary characters.
  std::wstring current;
  if (!line.empty() && line[0] == L'"') {
    const size_t close = line.find(L'"', 1);
    const size_t end = close == std::wstring_view::npos ? line.size() : close;
    current.assign(line.substr(1, end - 1));
    i = close == std::wstring_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !is_separator(line[i])) ++i;
    current.assign(line.substr(0, i));
  }
  args.push_back(utf16_to_utf8(current));
  while (i < line.size() && is_separator(line[i])) ++i;

  // `quotes` counts the quote characters of the current run: 1 is inside a
  // quoted part; a second closes it; a third right after them is a literal
  // quote and leaves the part closed. That is how "" inside quotes becomes
  // one quote.
  int quotes = 0;
  bool in_arg = false;
  current.clear();
  while (i < line.size()) {
    const wchar_t c = line[i];
    if (is_separator(c) && quotes == 0) {
      if (in_arg) args.push_back(utf16_to_utf8(current));
      current.clear();
      in_arg = false;
      ++i;
      continue;
    }
    in_arg = true;
    if (c == L'\\') {
      size_t n = 0;
      while (i < line.size() && line[i] == L'\\') ++n, ++i;
      if (i < line.size() && line[i] == L'"') {
        current.append(n / 2, L'\\');
        if (n % 2 == 1) {
          current += L'"';
          ++i;
          continue;  // an escaped quote starts no quote run
        }
        // Even: the quote is handled below as an ordinary quote.
      } else {
        current.append(n, L'\\');
      }
      continue;
    }
    if (c == L'"') {
      ++i;
      ++quotes;
      while (i < line.size() && line[i] == L'"') {
        ++i;
        if (++quotes == 3) {
          current += L'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    current += c;
    ++i;
  }
  if (in_arg) args.push_back(utf16_to_utf8(current));
  return args;
}

std::string format_bracketed_list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t k = 0; k < items.size(); ++k) {
    if (k) out += ", ";
    out += '"';
    for (char c : items[k]) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    out += '"';
  }
  out += ']';
  return out;
}

HostMode select_host_mode(const std::vector<std::string>& args) {
  const auto has = [&](std::string_view option) {
    return std::find(args.begin(), args.end(), option) != args.end();
  };
  if (args.size() > 1 && std::string_view(args[1]).starts_with("chrome-extension://")) return HostMode::relay;
  if (has("--native-messaging")) return HostMode::relay;
  if (has("--register-browser")) return HostMode::register_browser;
  if (has("--unregister-browser")) return HostMode::unregister_browser;
  if (has("--helper")) return HostMode::helper;
  if (has("--toggle")) return HostMode::toggle;
  if (has("--quit")) return HostMode::quit;
  if (has("--release")) return HostMode::release;
  return HostMode::resident;
}

std::optional<uint64_t> parse_helper_hwnd(const std::vector<std::string>& args) {
  const auto flag = std::find(args.begin(), args.end(), "--hwnd");
  if (flag == args.end() || flag + 1 == args.end()) return std::nullopt;
  std::string_view value = *(flag + 1);
  if (value.starts_with('+')) value.remove_prefix(1);
  if (value.empty()) return std::nullopt;
  uint64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

}  // namespace lumaro
