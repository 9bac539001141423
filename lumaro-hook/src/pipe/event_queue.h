// Host events waiting for their panel: one first-in first-out queue shared
// by all windows of the process, bounded so that a panel whose thread is
// blocked cannot grow it without limit (the oldest event goes first).
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

#include "ipc/messages.h"

namespace lumaro::hook {

inline constexpr size_t kWindowEventCapacity = 4096;

class WindowEventQueue {
 public:
  void push(WindowId window, Event event);
  // Moves out the window's events in arrival order; the others keep theirs.
  std::vector<Event> take(WindowId window);
  void remove(WindowId window);
  size_t size() const noexcept { return items_.size(); }

 private:
  std::deque<std::pair<WindowId, Event>> items_;
};

}  // namespace lumaro::hook
