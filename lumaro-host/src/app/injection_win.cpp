#include "app/injection_win.h"

#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "log/log.h"

namespace lumaro {

WatcherMessages register_panel_messages() {
  return {RegisterWindowMessageW(L"Lumaro.Attach.v1"), RegisterWindowMessageW(L"Lumaro.Query.v1"),
          RegisterWindowMessageW(L"Lumaro.Detach.v1"), RegisterWindowMessageW(L"Lumaro.Toggle.v1")};
}

std::wstring own_exe_path() {
  std::wstring path(1024, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

HookLibrary load_hook_library() {
  const std::wstring path = hook_library_path(own_exe_path());
  HookLibrary library;
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) {
    log_line("hook DLL 로드 실패 " + to_utf8(path) + " 오류 " + std::to_string(GetLastError()));
    return library;
  }
  // The library stays loaded even without its export: unloading a library
  // another thread may have hooked with is never worth the risk.
  auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, kHookExportName.data())));
  if (!proc) {
    log_line("훅 함수 없음 " + std::string(kHookExportName));
    return library;
  }
  library.module = module;
  library.proc = proc;
  return library;
}

bool panel_answers(HWND window, UINT query_message, UINT timeout_ms) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, query_message, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &result)) return false;
  return result == kPanelAck;
}

LocalHook hook_and_attach(const HookLibrary& library, HWND window, DWORD tid, UINT attach_message) {
  LocalHook out;
  if (!library.loaded()) {
    out.failure = hook_library_missing_failure();
    return out;
  }
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, library.proc, library.module, tid);
  if (!hook) {
    out.error = GetLastError();
    out.failure = set_hook_failure(out.error);
    return out;
  }
  if (!PostMessageW(window, attach_message, 0, 0)) {
    out.error = GetLastError();
    UnhookWindowsHookEx(hook);
    out.failure = post_attach_failure(out.error);
    return out;
  }
  // The hook runs when the thread next takes a message; make it take one now.
  PostMessageW(window, WM_NULL, 0, 0);
  out.hook = hook;
  return out;
}

std::optional<std::string> process_image_path(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  wchar_t buf[1024];
  DWORD size = static_cast<DWORD>(std::size(buf));
  if (!QueryFullProcessImageNameW(process.get(), 0, buf, &size)) return std::nullopt;
  return to_utf8(std::wstring_view(buf, size));
}

std::optional<bool> process_is_wow64(HANDLE process) {
  // IsWow64Process2 also tells an x86 process on ARM64 apart; it is missing
  // before Windows 10 1511, so it is looked up rather than imported.
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  static const auto is_wow64_process2 = reinterpret_cast<IsWow64Process2Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  if (is_wow64_process2) {
    USHORT process_machine = 0, native_machine = 0;
    if (is_wow64_process2(process, &process_machine, &native_machine)) {
      return process_machine != IMAGE_FILE_MACHINE_UNKNOWN;
    }
  }
  BOOL wow64 = FALSE;
  if (!IsWow64Process(process, &wow64)) return std::nullopt;
  return wow64 != FALSE;
}

int64_t steady_ns() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const int64_t seconds = now.QuadPart / frequency;
  const int64_t rest = now.QuadPart % frequency;
  return seconds * 1'000'000'000 + rest * 1'000'000'000 / frequency;
}

}  // namespace lumaro
