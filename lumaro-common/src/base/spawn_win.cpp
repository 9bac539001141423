#include "base/spawn.h"
#include "base/thread_win.h"

namespace lumaro {

bool spawn_detached(std::function<void()> work) noexcept {
  return static_cast<bool>(start_thread(std::move(work)));  // the handle closes; the thread runs on
}

void sleep_ms(unsigned milliseconds) noexcept { Sleep(milliseconds); }

}  // namespace lumaro
