#include "ipc/outbox_queue.h"

#include <iterator>

namespace lumaro {

bool OutboxQueue::push(std::string line) {
  auto lines = lines_.lock();
  bool dropped = false;
  if (lines->size() >= kOutboxCapacity) {
    lines->pop_front();
    dropped = true;
  }
  lines->push_back(std::move(line));
  return dropped;
}

std::vector<std::string> OutboxQueue::take_all() {
  std::deque<std::string> taken;
  {
    auto lines = lines_.lock();
    taken.swap(*lines);
  }
  return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

void OutboxQueue::clear() {
  std::deque<std::string> old;
  auto lines = lines_.lock();
  old.swap(*lines);
}

size_t OutboxQueue::size() { return lines_.lock()->size(); }

}  // namespace lumaro
