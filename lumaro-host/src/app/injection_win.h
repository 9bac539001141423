// Win32 pieces shared by the resident watcher, the helper host and the panel
// commands: the registered messages, the hook library, the panel query, the
// local hook with its attach message, and reading a process's executable.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "app/window_rules.h"

namespace lumaro {

struct WatcherMessages {
  UINT attach = 0, query = 0, detach = 0, toggle = 0;
};

// Each process registers the four names itself.
WatcherMessages register_panel_messages();

// The hook library, loaded once per process from the host's own folder.
struct HookLibrary {
  HMODULE module = nullptr;
  HOOKPROC proc = nullptr;
  bool loaded() const noexcept { return module && proc; }
};

// Loads it and logs why when it cannot be used.
HookLibrary load_hook_library();

// This program's path, or empty.
std::wstring own_exe_path();

// True when the window's panel answers within `timeout_ms`. A hung window
// counts as not answering at once.
bool panel_answers(HWND window, UINT query_message, UINT timeout_ms);

// The hook on the window's thread with the attach message and a WM_NULL to
// wake the thread, or why not. On failure no hook is left behind.
struct LocalHook {
  HHOOK hook = nullptr;
  std::optional<InjectFailure> failure;
  DWORD error = 0;  // the system error behind the failure
};
LocalHook hook_and_attach(const HookLibrary& library, HWND window, DWORD tid, UINT attach_message);

// The process's executable path, UTF-8, or nothing when it cannot be read.
std::optional<std::string> process_image_path(DWORD pid);

// Whether the process runs under WOW64; nothing when that cannot be told.
std::optional<bool> process_is_wow64(HANDLE process);

// A monotonic clock in nanoseconds.
int64_t steady_ns();

}  // namespace lumaro
