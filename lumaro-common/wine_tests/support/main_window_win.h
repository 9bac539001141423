// Finding a test process's main window: its visible top-level window that
// no other window owns, once it has one.
#pragma once

#include <windows.h>

namespace lumaro::test {

struct MainWindowSearch {
  DWORD pid;
  const wchar_t* class_name;
  HWND found;
};

inline BOOL CALLBACK visit_for_main_window(HWND w, LPARAM param) {
  auto* s = reinterpret_cast<MainWindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != s->pid || !IsWindowVisible(w) || GetWindow(w, GW_OWNER)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  if (s->class_name && wcscmp(cls, s->class_name) != 0) return TRUE;
  s->found = w;
  return FALSE;
}

// Null after `wait_ms` without one. `class_name` (if given) must match too.
inline HWND main_window(DWORD pid, DWORD wait_ms, const wchar_t* class_name = nullptr) {
  const ULONGLONG end = GetTickCount64() + wait_ms;
  for (;;) {
    MainWindowSearch s{pid, class_name, nullptr};
    EnumWindows(&visit_for_main_window, reinterpret_cast<LPARAM>(&s));
    if (s.found || GetTickCount64() >= end) return s.found;
    Sleep(10);
  }
}

}  // namespace lumaro::test
