// Where encoded lines for one connection go. The host's pipe connections
// (Outbox) implement it; native tests record lines instead. push() may be
// called from any thread and never blocks on I/O.
#pragma once

#include <string>

namespace lumaro {

class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual void push(std::string line) = 0;
};

}  // namespace lumaro
