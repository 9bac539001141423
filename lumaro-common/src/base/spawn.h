// Platform services the portable engine needs: detached worker threads and
// sleeping. Windows uses CreateThread (the win32 thread model has no
// std::thread); native builds use std::thread.
#pragma once

#include <functional>

namespace lumaro {

// Runs `work` on a new detached thread. False when no thread could start.
bool spawn_detached(std::function<void()> work) noexcept;

void sleep_ms(unsigned milliseconds) noexcept;

}  // namespace lumaro
