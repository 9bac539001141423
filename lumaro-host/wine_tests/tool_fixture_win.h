// A private folder with copies of the stand-in tool (LUMARO_FAKE_TOOL)
// installed under a tool's file names, each with its script, and the records
// the tool writes of how it was started.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "paths/user_paths.h"

namespace lumaro {

class ToolFolder {
 public:
  ToolFolder() {
    wchar_t tmp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, tmp);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    dir_ = std::wstring(tmp) + L"lumaro-tools-" + std::to_wstring(now.QuadPart);
    create_directories(dir_);
  }
  const std::wstring& dir() const { return dir_; }

  // Copies the stand-in to dir\relative (folders created) with its script.
  std::wstring install(const std::wstring& relative, const std::string& script) {
    const std::wstring target = join_path(dir_, relative);
    create_directories(target.substr(0, target.find_last_of(L'\\')));
    const std::wstring fake = read_env(L"LUMARO_FAKE_TOOL").value_or(L"");
    // A start of the previous copy (the host's own account check) may still
    // be ending, and a running program cannot be replaced.
    bool copied = false;
    for (int i = 0; i < 100 && !(copied = CopyFileW(fake.c_str(), target.c_str(), FALSE)); ++i) Sleep(50);
    EXPECT_TRUE(copied) << to_utf8(fake) << " error " << GetLastError();
    write_whole_file(stem_path(target) + L".script", script);
    return target;
  }
  // Writes any other file (a .cmd wrapper, cli.js, a config).
  std::wstring write(const std::wstring& relative, const std::string& bytes) {
    const std::wstring target = join_path(dir_, relative);
    create_directories(target.substr(0, target.find_last_of(L'\\')));
    write_whole_file(target, bytes);
    return target;
  }
  // Every start of the tool with this stem, in order.
  std::vector<nlohmann::json> records(const std::wstring& relative_stem) const {
    std::vector<nlohmann::json> out;
    auto text = read_small_file(join_path(dir_, relative_stem) + L".record", 64u << 20);
    if (!text) return out;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) out.push_back(nlohmann::json::parse(line, nullptr, false));
    return out;
  }
  nlohmann::json last_record(const std::wstring& relative_stem) const {
    auto all = records(relative_stem);
    return all.empty() ? nlohmann::json() : all.back();
  }
  // The last start whose arguments hold `arg`: the host also runs the tool
  // on its own (account checks), so the very last start may be another one.
  nlohmann::json last_record_with(const std::wstring& relative_stem, const std::string& arg) const {
    auto all = records(relative_stem);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      const auto& argv = (*it)["argv"];
      if (!argv.is_array()) continue;
      for (const auto& a : argv)
        if (a == arg) return *it;
      if ((*it)["cmdline"].is_string() && (*it)["cmdline"].get<std::string>().find(arg) != std::string::npos) return *it;
    }
    return nlohmann::json();
  }

  // The bytes of a file named by an argument, as the tool found it when it
  // started; nothing when the tool found no such file.
  static std::optional<std::string> file_seen(const nlohmann::json& record, const std::string& path) {
    const auto& files = record["files"];
    if (!files.is_object() || !files.contains(path)) return std::nullopt;
    const std::string hex = files[path].get<std::string>();
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
  }

  // Full paths of the running processes started from this folder.
  std::vector<std::string> running() const {
    std::vector<std::string> out;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
      ADD_FAILURE() << "no process snapshot: " << GetLastError();
      return out;
    }
    const std::wstring prefix = dir_ + L"\\";
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t image[32768];
      DWORD size = 32768;
      DWORD code = 0;
      if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
      if (!GetExitCodeProcess(process.get(), &code) || code != STILL_ACTIVE) continue;
      if (size >= prefix.size() && _wcsnicmp(image, prefix.c_str(), prefix.size()) == 0) {
        out.push_back(to_utf8(std::wstring(image, size)));
      }
    }
    return out;
  }

 private:
  static std::wstring stem_path(const std::wstring& path) { return path.substr(0, path.find_last_of(L'.')); }
  std::wstring dir_;
};

}  // namespace lumaro
