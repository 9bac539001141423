// Stand-in for an AI command-line tool in tests. Installed under the tool's
// names (claude.exe, codex.exe, agy.exe, node.exe, ...), it does only what the
// host relies on from a real tool:
//   - appends one JSON line to "<dir>\<stem>.record" with what it received:
//     "cmdline" (raw), "argv" (split by the system), "cwd", selected
//     environment variables, "stdin" (read to its end) and "files": the
//     contents, in hex, of each argument after the program that names an
//     existing file (what a tool would read from the files it is given);
//   - then plays "<dir>\<stem>.script" line by line:
//       out <text>     a line on standard output
//       err <text>     a line on standard error
//       raw <hex>      bytes on standard output, given in hex
//       sleep <ms>
//       exit <code>
//       wait           sleep until killed
//       only <arg>     exit 0 here unless an argument equals <arg> (a turn's
//                      script stays out of the host's own account checks)
//       stdin line     (first line only) read one input line, not to its end
//     Without a script it prints nothing and exits 0.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring env(const wchar_t* name) {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(name, buf, 32768);
  return n ? std::wstring(buf, n) : std::wstring();
}

void write_handle(HANDLE h, const std::string& bytes) {
  DWORD n = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

}  // namespace

int main() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring base(path);
  base = base.substr(0, base.find_last_of(L'.'));

  // A script whose first line is "stdin line" reads one line of input only:
  // a login keeps the tool's input open for minutes.
  std::ifstream script((base + L".script").c_str(), std::ios::binary);
  std::string line;
  const bool one_line = std::getline(script, line) && line.rfind("stdin line", 0) == 0;
  if (!one_line) {
    script.clear();
    script.seekg(0);
  }
  std::string input;
  char buf[4096];
  DWORD got = 0;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (in && in != INVALID_HANDLE_VALUE && ReadFile(in, buf, one_line ? 1 : sizeof buf, &got, nullptr) && got) {
    input.append(buf, got);
    if (one_line && buf[0] == '\n') break;
  }

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  nlohmann::json record;
  record["cmdline"] = utf8(GetCommandLineW());
  record["argv"] = nlohmann::json::array();
  for (int i = 0; i < argc; ++i) record["argv"].push_back(utf8(argv[i]));
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  record["cwd"] = utf8(cwd);
  for (const wchar_t* name : {L"MCP_TIMEOUT", L"CLAUDE_CONFIG_DIR", L"HOME", L"USERPROFILE", L"NODE_OPTIONS"}) {
    record["env"][utf8(name)] = utf8(env(name));
  }
  record["stdin"] = input;
  record["files"] = nlohmann::json::object();
  for (int i = 1; i < argc; ++i) {
    const DWORD attributes = GetFileAttributesW(argv[i]);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::ifstream file(argv[i], std::ios::binary);
    std::string hex;
    for (char c; file.get(c);) {
      static const char digits[] = "0123456789abcdef";
      hex += digits[static_cast<unsigned char>(c) >> 4];
      hex += digits[static_cast<unsigned char>(c) & 15];
    }
    record["files"][utf8(argv[i])] = hex;
  }
  {
    std::ofstream out((base + L".record").c_str(), std::ios::app | std::ios::binary);
    out << record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  }

  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string verb = line.substr(0, line.find(' '));
    const std::string rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    if (verb == "out") write_handle(out, rest + "\n");
    else if (verb == "err") write_handle(err, rest + "\n");
    else if (verb == "raw") {
      std::string bytes;
      for (size_t i = 0; i + 1 < rest.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(rest.substr(i, 2), nullptr, 16)));
      write_handle(out, bytes);
    } else if (verb == "sleep") Sleep(std::stoul(rest));
    else if (verb == "exit") return std::stoi(rest);
    else if (verb == "wait") Sleep(INFINITE);
    else if (verb == "only") {
      bool present = false;
      for (int i = 1; i < argc; ++i) present = present || utf8(argv[i]) == rest;
      if (!present) return 0;
    }
  }
  return 0;
}
