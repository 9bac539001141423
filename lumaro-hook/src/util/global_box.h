// A process-wide value that lives on the heap between its first use and an
// explicit release(). The box itself is a raw pointer and an SRWLOCK, so it
// is constant-initialised and has no destructor: nothing of it can run while
// the DLL is being unmapped, and the unload thread frees the heap part before
// the module reference goes.
#pragma once

#include <type_traits>

#include "base/mutex.h"

namespace lumaro::hook {

template <typename T>
class GlobalBox {
 public:
  constexpr GlobalBox() = default;
  GlobalBox(const GlobalBox&) = delete;
  GlobalBox& operator=(const GlobalBox&) = delete;

  // Runs fn(T&) under the lock, creating the value first when needed.
  template <typename F>
  decltype(auto) with(F&& fn) {
    Lock lock(mutex_);
    if (!value_) value_ = new T();
    return fn(*value_);
  }

  // Runs fn(T*) under the lock without creating anything (null when absent).
  template <typename F>
  decltype(auto) peek(F&& fn) {
    Lock lock(mutex_);
    return fn(value_);
  }

  // Frees the value when `may_go` (called under the lock) agrees.
  template <typename F>
  void release_if(F&& may_go) {
    T* doomed = nullptr;
    {
      Lock lock(mutex_);
      if (value_ && may_go(*value_)) {
        doomed = value_;
        value_ = nullptr;
      }
    }
    delete doomed;
  }

  void release() {
    release_if([](const T&) { return true; });
  }

 private:
  struct Lock {
    explicit Lock(Mutex& m) noexcept : m_(m) { m_.lock(); }
    ~Lock() { m_.unlock(); }
    Mutex& m_;
  };

  Mutex mutex_;
  T* value_ = nullptr;
};

}  // namespace lumaro::hook
