// GoogleTest customisation for the mingw-w64 win32 thread model, which has no
// std::mutex or std::condition_variable. GoogleTest needs them only for its
// Notification class, so we provide that one on a Win32 event. This folder is
// searched before GoogleTest's own include folder in the Windows builds.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing
