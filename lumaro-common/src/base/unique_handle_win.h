// Move-only owners of kernel handles. Two kinds, because Win32 uses two
// "no handle" values: NULL for events, processes, threads and mutexes;
// INVALID_HANDLE_VALUE for files and pipes. reset() closes the old value,
// and closing keeps GetLastError as it was so callers can still report it.
#pragma once

#include <windows.h>

#include <utility>

namespace lumaro {

template <HANDLE (*Invalid)()>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() noexcept = default;
  explicit BasicUniqueHandle(HANDLE h) noexcept : h_(h) {}
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : h_(other.release()) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  ~BasicUniqueHandle() { reset(); }

  HANDLE get() const noexcept { return h_; }
  bool valid() const noexcept { return h_ != Invalid() && h_ != nullptr; }
  explicit operator bool() const noexcept { return valid(); }

  void reset(HANDLE h = Invalid()) noexcept {
    if (valid()) {
      const DWORD saved = GetLastError();
      CloseHandle(h_);
      SetLastError(saved);
    }
    h_ = h;
  }
  [[nodiscard]] HANDLE release() noexcept { return std::exchange(h_, Invalid()); }

 private:
  HANDLE h_ = Invalid();
};

inline HANDLE null_handle_value() noexcept { return nullptr; }
inline HANDLE invalid_handle_value() noexcept { return INVALID_HANDLE_VALUE; }

// Events, processes, threads, mutexes.
using UniqueHandle = BasicUniqueHandle<null_handle_value>;
// Files and pipes.
using UniqueFile = BasicUniqueHandle<invalid_handle_value>;

}  // namespace lumaro
