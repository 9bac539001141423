// Windows of every kind in a process of their own, for the watcher tests (the
// watcher never looks at its own process's windows, nor at a test's) and the
// hook DLL's tests (a panel only attaches to a window of another process).
//
//   lumaro-test-windows --kinds FILE   an application frame, a tool window, an
//                                      owned dialog, a window under 200 x 150
//                                      and a child window
//   lumaro-test-windows --deaf FILE    an application frame whose thread never
//                                      takes the attach message off its queue
//   lumaro-test-windows --frames N FILE
//                                      N application frames, then a window of
//                                      the panel's class name and a child of
//                                      it, all hidden (Wine without a window
//                                      manager takes 2 s to destroy a shown
//                                      window)
//
// The handles go to FILE in decimal, one a line, in that order; the program
// then runs until it is ended. All windows live on the main thread.
//
// Every frame answers the messages of test_windows_app.h.
#include <windows.h>
#include <shellapi.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_windows_app.h"

namespace {

using namespace lumaro::test;

using Tally = std::map<std::pair<HWND, UINT>, LRESULT>;
Tally g_loop_saw;
Tally g_proc_got;
LRESULT g_markers = 0;

bool is_key(UINT m) { return m >= WM_KEYFIRST && m <= WM_KEYLAST; }

LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (is_key(m)) {
    ++g_proc_got[{w, m}];
    return 0;
  }
  switch (m) {
    case kAskDetachTwice: {
      const UINT detach = RegisterWindowMessageW(L"Lumaro.Detach.v1");
      SendMessageW(w, detach, 0, 0);
      SendMessageW(w, detach, 0, 0);
      return 0;
    }
    case kLoopSaw:
      return g_loop_saw[{reinterpret_cast<HWND>(lp), static_cast<UINT>(wp)}];
    case kProcGot:
      return g_proc_got[{reinterpret_cast<HWND>(lp), static_cast<UINT>(wp)}];
    case kMarkersSeen:
      return g_markers;
    default:
      return DefWindowProcW(w, m, wp, lp);
  }
}

HWND make(DWORD ex, DWORD style, int width, int height, HWND parent, bool show = true,
          const wchar_t* cls = L"LumaroTestWindow") {
  HWND w = CreateWindowExW(ex, cls, L"Lumaro test", style, 50, 50, width, height, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (show) ShowWindow(w, SW_SHOWNOACTIVATE);
  return w;
}

void write_handles(const std::wstring& file, const std::vector<HWND>& windows) {
  std::string text;
  for (HWND w : windows) text += std::to_string(reinterpret_cast<uintptr_t>(w)) + "\n";
  // Written aside and renamed, so the reader never sees half a list.
  const std::wstring part = file + L".part";
  HANDLE h = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  CloseHandle(h);
  MoveFileExW(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void register_class(HINSTANCE instance, const wchar_t* name) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&wc);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) return 1;
  const std::wstring mode = argv[1];
  const bool frames_mode = mode == L"--frames";
  if (frames_mode && argc < 4) return 1;
  const std::wstring file = argv[frames_mode ? 3 : 2];

  register_class(instance, L"LumaroTestWindow");

  const DWORD frame = WS_OVERLAPPEDWINDOW;
  std::vector<HWND> windows;
  HWND main = make(0, frame, 500, 400, nullptr, !frames_mode);
  windows.push_back(main);
  if (mode == L"--kinds") {
    windows.push_back(make(WS_EX_TOOLWINDOW, frame, 400, 300, nullptr));
    windows.push_back(make(0, WS_POPUP | WS_CAPTION | WS_SYSMENU, 400, 300, main));  // owned dialog
    windows.push_back(make(0, frame, 190, 140, nullptr));
    windows.push_back(make(0, WS_CHILD | WS_CAPTION, 300, 200, main));
  } else if (frames_mode) {
    const int count = _wtoi(argv[2]);
    for (int i = 1; i < count; ++i) windows.push_back(make(0, frame, 300, 200, nullptr, false));
    // The panel's keyboard guard goes by the class name of the key's root
    // window, so a window of that name stands in for a panel whose keys
    // this program can count.
    register_class(instance, L"Lumaro.Panel.v2");
    HWND panel_like = make(WS_EX_TOOLWINDOW, WS_POPUP, 200, 200, nullptr, false, L"Lumaro.Panel.v2");
    windows.push_back(panel_like);
    windows.push_back(make(0, WS_CHILD, 100, 100, panel_like, false));
  }
  write_handles(file, windows);

  if (mode == L"--deaf") {
    // Every message but the attach message is taken off the queue, so a
    // message hook never sees it and no panel ever attaches.
    const UINT attach = RegisterWindowMessageW(L"Lumaro.Attach.v1");
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, attach - 1, PM_REMOVE) ||
             PeekMessageW(&msg, nullptr, attach + 1, 0xFFFF, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return 0;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(10);
    }
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (is_key(msg.message)) ++g_loop_saw[{msg.hwnd, msg.message}];
    if (msg.message == kMarker) {
      ++g_markers;
      continue;
    }
    if (msg.message == kDestroyFromLoop) {
      DestroyWindow(msg.hwnd);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
