// The host's live pipe connections: connection number -> its outgoing queue.
//
// A connection thread inserts its entry when it starts and removes it before
// the chat engine forgets the connection, so events queued for a gone
// connection are dropped. The lock is held only for a map operation or a copy,
// never while a line is queued or any I/O happens.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/mutex.h"
#include "ipc/line_sink.h"

namespace lumaro {

using ConnectionId = uint32_t;

class ConnectionRegistry {
 public:
  void insert(ConnectionId id, std::shared_ptr<LineSink> sink);
  void remove(ConnectionId id);
  std::shared_ptr<LineSink> lookup(ConnectionId id);
  // A copy of every live entry, taken under the lock.
  std::vector<std::shared_ptr<LineSink>> all();
  size_t size();

 private:
  Guarded<std::map<ConnectionId, std::shared_ptr<LineSink>>> entries_;
};

// The process-wide registry, created empty on first use.
ConnectionRegistry& connection_registry();

}  // namespace lumaro
