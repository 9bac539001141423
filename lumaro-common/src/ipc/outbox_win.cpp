#include "ipc/outbox_win.h"

namespace lumaro {

Outbox::Outbox() : event_(CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, nullptr)) {}

void Outbox::push(std::string line) {
  queue_.push(std::move(line));
  SetEvent(event_.get());
}

std::vector<std::string> Outbox::drain() {
  ResetEvent(event_.get());
  return queue_.take_all();
}

void Outbox::clear() { queue_.clear(); }

}  // namespace lumaro
