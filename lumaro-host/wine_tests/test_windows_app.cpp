// Windows of every kind in a process of its own, for the watcher tests (the
// watcher never looks at its own process's windows, nor at a test's).
//
//   lumaro-test-windows --kinds FILE   an application frame, a tool window, an
//                                      owned dialog, a window under 200 x 150
//                                      and a child window
//   lumaro-test-windows --deaf FILE    an application frame whose thread never
//                                      takes the attach message off its queue
//
// The handles go to FILE in decimal, one a line, in that order; the program
// then runs until it is ended.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

HWND make(DWORD ex, DWORD style, int width, int height, HWND parent) {
  HWND w = CreateWindowExW(ex, L"LumaroTestWindow", L"Lumaro test", style, 50, 50, width, height, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  ShowWindow(w, SW_SHOWNOACTIVATE);
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) return 1;
  const std::wstring mode = argv[1], file = argv[2];

  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"LumaroTestWindow";
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&wc);

  const DWORD frame = WS_OVERLAPPEDWINDOW;
  std::vector<HWND> windows;
  HWND main = make(0, frame, 500, 400, nullptr);
  windows.push_back(main);
  if (mode == L"--kinds") {
    windows.push_back(make(WS_EX_TOOLWINDOW, frame, 400, 300, nullptr));
    windows.push_back(make(0, WS_POPUP | WS_CAPTION | WS_SYSMENU, 400, 300, main));  // owned dialog
    windows.push_back(make(0, frame, 190, 140, nullptr));
    windows.push_back(make(0, WS_CHILD | WS_CAPTION, 300, 200, main));
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
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
