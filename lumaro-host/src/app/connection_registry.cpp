#include "app/connection_registry.h"

namespace lumaro {

void ConnectionRegistry::insert(ConnectionId id, std::shared_ptr<LineSink> sink) {
  std::shared_ptr<LineSink> old;  // released after the lock
  auto entries = entries_.lock();
  auto& slot = (*entries)[id];
  old = std::move(slot);
  slot = std::move(sink);
}

void ConnectionRegistry::remove(ConnectionId id) {
  std::shared_ptr<LineSink> old;
  auto entries = entries_.lock();
  auto it = entries->find(id);
  if (it == entries->end()) return;
  old = std::move(it->second);
  entries->erase(it);
}

std::shared_ptr<LineSink> ConnectionRegistry::lookup(ConnectionId id) {
  auto entries = entries_.lock();
  auto it = entries->find(id);
  return it == entries->end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<LineSink>> ConnectionRegistry::all() {
  std::vector<std::shared_ptr<LineSink>> out;
  auto entries = entries_.lock();
  out.reserve(entries->size());
  for (const auto& [id, sink] : *entries) out.push_back(sink);
  return out;
}

size_t ConnectionRegistry::size() { return entries_.lock()->size(); }

ConnectionRegistry& connection_registry() {
  static ConnectionRegistry registry;
  return registry;
}

}  // namespace lumaro
