// Starting a Win32 thread on any callable. The callable is moved to the heap
// and owned by the new thread; nothing is left behind when it returns, which
// matters in the hook DLL (no C++ runtime thread state). The thread procedure
// is noexcept: an exception escaping the callable ends the process rather
// than unwinding through the system's thread start code.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>

#include "base/unique_handle_win.h"

namespace lumaro {

namespace detail {
template <typename F>
DWORD WINAPI thread_trampoline(void* param) noexcept {
  std::unique_ptr<F> fn(static_cast<F*>(param));
  (*fn)();
  return 0;
}
}  // namespace detail

// Returns the thread's handle, or an empty handle when it could not start
// (GetLastError tells why; the callable is then destroyed).
template <typename F>
UniqueHandle start_thread(F&& fn) {
  using Fn = std::decay_t<F>;
  auto owned = std::make_unique<Fn>(std::forward<F>(fn));
  HANDLE h = CreateThread(nullptr, 0, &detail::thread_trampoline<Fn>, owned.get(), 0, nullptr);
  if (h) (void)owned.release();
  return UniqueHandle(h);
}

}  // namespace lumaro
