// A plain exclusive lock that works in every build.
//
// The Windows builds use the win32 thread model of mingw-w64 (the posix model
// leaves a TLS slot behind each time the hook DLL unloads), and that model has
// no std::mutex. On Windows this wraps an SRWLOCK, which needs no clean-up and
// so cannot run code after the hook DLL is unmapped; natively it is std::mutex.
// Usable with std::lock_guard / std::unique_lock. Never held across a wait.
#pragma once

#include <utility>

#ifndef _WIN32
#include <mutex>
#endif

namespace lumaro {

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() noexcept;
  void unlock() noexcept;

 private:
#ifdef _WIN32
  void* srw_ = nullptr;  // storage of an SRWLOCK (one pointer, zero = SRWLOCK_INIT)
#else
  std::mutex m_;
#endif
};

// Holds a value together with the lock that guards it; the only way to reach
// the value is through the accessor returned by lock().
template <typename T>
class Guarded {
 public:
  class Access {
   public:
    explicit Access(Guarded& g) noexcept : g_(g) { g_.mutex_.lock(); }
    ~Access() { g_.mutex_.unlock(); }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
    T& operator*() noexcept { return g_.value_; }
    T* operator->() noexcept { return &g_.value_; }

   private:
    Guarded& g_;
  };

  Guarded() = default;
  explicit Guarded(T value) : value_(std::move(value)) {}

  Access lock() noexcept { return Access(*this); }

 private:
  Mutex mutex_;
  T value_{};
};

}  // namespace lumaro
