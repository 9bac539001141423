// The short-lived modes: "--quit", and the modes whose work is not built yet
// (panel release and toggle, the helper host, the browser relay and its
// registration). Those log one line and fail with exit code 1, so nobody
// mistakes them for working.
#include <windows.h>

#include "app/host_modes_win.h"
#include "app/host_names.h"
#include "log/log.h"

namespace lumaro {
namespace {

int not_available(const char* what) {
  log_line(std::string(what) + " 기능이 이 빌드에 없습니다");
  return 1;
}

bool any_host_window() {
  for (const wchar_t* cls : kAllHostWindowClasses) {
    if (FindWindowExW(HWND_MESSAGE, nullptr, cls, nullptr)) return true;
  }
  return false;
}

}  // namespace

int run_quit(const std::vector<std::string>& targets) {
  int posted = 0;
  for (const wchar_t* cls : kAllHostWindowClasses) {
    if (HWND host = FindWindowExW(HWND_MESSAGE, nullptr, cls, nullptr)) {
      if (PostMessageW(host, WM_CLOSE, 0, 0)) ++posted;
    }
  }
  log_line("종료 요청 host " + std::to_string(posted) + "개");
  const ULONGLONG start = GetTickCount64();
  while (any_host_window() && (GetTickCount64() - start) / 1000 <= 4) Sleep(100);
  release_panels(targets);
  return 0;
}

void release_panels(const std::vector<std::string>& targets) { log_line("패널 해제 단계 없음"); }

int run_toggle(const std::vector<std::string>& targets) { return not_available("--toggle"); }
int run_release(const std::vector<std::string>& targets) { return not_available("--release"); }
int run_helper(const std::vector<std::string>& args) { return not_available("--helper"); }
int run_relay(const std::vector<std::string>& args) { return not_available("브라우저 중계"); }
int run_register_browser(bool unregister) {
  return not_available(unregister ? "--unregister-browser" : "--register-browser");
}

}  // namespace lumaro
