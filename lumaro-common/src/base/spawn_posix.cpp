#include <chrono>
#include <thread>

#include "base/spawn.h"

namespace lumaro {

bool spawn_detached(std::function<void()> work) noexcept {
  try {
    std::thread(std::move(work)).detach();
    return true;
  } catch (...) {
    return false;
  }
}

void sleep_ms(unsigned milliseconds) noexcept {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace lumaro
