#include "pipe/event_queue.h"

#include <algorithm>

namespace lumaro::hook {

void WindowEventQueue::push(WindowId window, Event event) {
  if (items_.size() >= kWindowEventCapacity) items_.pop_front();
  items_.emplace_back(window, std::move(event));
}

std::vector<Event> WindowEventQueue::take(WindowId window) {
  std::vector<Event> taken;
  std::deque<std::pair<WindowId, Event>> kept;
  for (auto& item : items_) {
    if (item.first == window) {
      taken.push_back(std::move(item.second));
    } else {
      kept.push_back(std::move(item));
    }
  }
  items_.swap(kept);
  return taken;
}

void WindowEventQueue::remove(WindowId window) {
  std::erase_if(items_, [window](const auto& item) { return item.first == window; });
}

}  // namespace lumaro::hook
