// Reading another process's module list, for the Wine tests that check
// whether lumaro-hook.dll is still mapped in a target application.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <optional>

#include "base/unique_handle_win.h"

namespace lumaro::test {

// Base address of the module `name` in process `pid`: null when it is not
// loaded, nothing when no snapshot could be taken.
inline std::optional<HMODULE> remote_module(DWORD pid, const wchar_t* name) {
  HANDLE snap = INVALID_HANDLE_VALUE;
  // A snapshot taken while the process maps or unmaps a module fails with
  // ERROR_BAD_LENGTH; the next one usually succeeds.
  for (int i = 0; i < 20 && snap == INVALID_HANDLE_VALUE; ++i) {
    snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
    if (snap == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH) break;
  }
  if (snap == INVALID_HANDLE_VALUE) return std::nullopt;
  UniqueFile owner(snap);
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Module32FirstW(snap, &entry); ok; ok = Module32NextW(snap, &entry)) {
    if (_wcsicmp(entry.szModule, name) == 0) return entry.hModule;
  }
  return HMODULE{nullptr};
}

}  // namespace lumaro::test
