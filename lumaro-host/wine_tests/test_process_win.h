// Starting programs for tests and benchmarks: a fresh folder, our own
// environment with some variables replaced, a started process to wait on.
// No test framework here, so benchmark programs can use it too.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle_win.h"

namespace lumaro {

// A new empty folder under the temporary folder, named `prefix` + a counter.
inline std::wstring fresh_dir(const std::wstring& prefix = L"lumaro-e2e-") {
  wchar_t tmp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, tmp);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::wstring dir = std::wstring(tmp) + prefix + std::to_wstring(now.QuadPart);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

using EnvChanges = std::vector<std::pair<std::wstring, std::wstring>>;

// Our environment block with `changes` applied: the last change of a name
// wins, an empty value removes the variable.
inline std::wstring environment_block(const EnvChanges& changes) {
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    bool replaced = false;
    for (const auto& [name, value] : changes) {
      replaced = replaced || (_wcsnicmp(p, name.c_str(), name.size()) == 0 && p[name.size()] == L'=');
    }
    if (replaced) continue;
    block += p;
    block.push_back(L'\0');
  }
  FreeEnvironmentStringsW(env);
  for (size_t i = 0; i < changes.size(); ++i) {
    const auto& [name, value] = changes[i];
    bool later = false;
    for (size_t j = i + 1; j < changes.size(); ++j) later = later || _wcsicmp(changes[j].first.c_str(), name.c_str()) == 0;
    if (later || value.empty()) continue;
    block += name + L"=" + value;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

struct TestProcess {
  UniqueHandle process;
  DWORD pid = 0;
  DWORD exit_code() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &code);
    return code;
  }
  bool wait(DWORD ms) const { return WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0; }
};

// Starts `"exe" args` with `environment` (a block from environment_block) or
// ours when null. An empty process on failure; GetLastError tells why.
inline TestProcess start_process(const std::wstring& exe, const std::wstring& args,
                                 std::wstring* environment = nullptr) {
  std::wstring cmd = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  TestProcess started;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                      environment ? environment->data() : nullptr, nullptr, &si, &pi)) {
    return started;
  }
  CloseHandle(pi.hThread);
  started.process.reset(pi.hProcess);
  started.pid = pi.dwProcessId;
  return started;
}

}  // namespace lumaro
