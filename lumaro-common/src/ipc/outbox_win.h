// Outbox: one connection end's outgoing queue of encoded lines plus a
// manual-reset event that is signalled whenever a line is queued.
//
// push() may be called from any thread; drain() only from the connection's
// I/O thread, which waits on event() together with its read and stop events.
// drain() resets the event before taking the lines, so a push that lands
// between the wake-up and the drain is never lost.
#pragma once

#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "ipc/line_sink.h"
#include "ipc/outbox_queue.h"

namespace lumaro {

class Outbox final : public LineSink {
 public:
  Outbox();  // on failure to create the event, valid() is false
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  bool valid() const noexcept { return event_.valid(); }

  void push(std::string line) override;
  std::vector<std::string> drain();
  // Drops every queued line (a client starting a fresh connection).
  void clear();
  HANDLE event() const noexcept { return event_.get(); }

 private:
  OutboxQueue queue_;
  UniqueHandle event_;
};

}  // namespace lumaro
