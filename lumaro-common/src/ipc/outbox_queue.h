// The queue behind an Outbox: encoded lines, first in first out, at most
// kOutboxCapacity of them; a push into a full queue drops the oldest line.
// Any thread may push; the connection's I/O thread drains. The lock is held
// only to move strings in and out.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "base/mutex.h"

namespace lumaro {

inline constexpr size_t kOutboxCapacity = 4096;

class OutboxQueue {
 public:
  // Returns true when a line had to be dropped to make room.
  bool push(std::string line);
  // Takes every queued line in order and leaves the queue empty.
  std::vector<std::string> take_all();
  void clear();
  size_t size();

 private:
  Guarded<std::deque<std::string>> lines_;
};

// Writes each line followed by LF in a single call; stops at the first failed
// write. `write_line` gets the bytes of one line and returns success.
template <typename WriteLine>
bool write_batch(const std::vector<std::string>& lines, WriteLine&& write_line) {
  std::string buffer;
  for (const auto& line : lines) {
    buffer.assign(line);
    buffer.push_back('\n');
    if (!write_line(buffer)) return false;
  }
  return true;
}

}  // namespace lumaro
