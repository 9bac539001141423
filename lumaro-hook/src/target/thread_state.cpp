#include "target/thread_state.h"

#include <algorithm>
#include <utility>

#include "util/global_box.h"

namespace lumaro::hook {
namespace {

struct ThreadRecord {
  DWORD thread_id = 0;
  int depth = 0;
  int panels = 0;
  HHOOK key_hook = nullptr;
  std::vector<DeferredDetach> deferred;

  bool idle() const { return depth == 0 && panels == 0 && key_hook == nullptr && deferred.empty(); }
};

using Records = std::vector<ThreadRecord>;
GlobalBox<Records> g_records;

// The calling thread's record, or null. Called under the lock.
ThreadRecord* find_own(Records& records) {
  const DWORD me = GetCurrentThreadId();
  for (auto& r : records) {
    if (r.thread_id == me) return &r;
  }
  return nullptr;
}

// The calling thread's record, created when missing. Called under the lock.
ThreadRecord& own(Records& records) {
  if (ThreadRecord* r = find_own(records)) return *r;
  records.push_back(ThreadRecord{GetCurrentThreadId(), 0, 0, nullptr, {}});
  return records.back();
}

void drop_if_idle(Records& records) {
  const DWORD me = GetCurrentThreadId();
  std::erase_if(records, [me](const ThreadRecord& r) { return r.thread_id == me && r.idle(); });
}

}  // namespace

void enter_subclass_call() {
  g_records.with([](Records& records) { ++own(records).depth; });
}

bool leave_subclass_call() {
  return g_records.with([](Records& records) {
    ThreadRecord& r = own(records);
    const bool due = r.depth <= 1 && !r.deferred.empty();
    if (r.depth > 0) --r.depth;
    drop_if_idle(records);
    return due;
  });
}

int subclass_depth() {
  return g_records.with([](Records& records) {
    for (const auto& r : records) {
      if (r.thread_id == GetCurrentThreadId()) return r.depth;
    }
    return 0;
  });
}

bool defer_detach(HWND window, std::string_view reason, PanelState* state) {
  return g_records.with([&](Records& records) {
    ThreadRecord& r = own(records);
    const bool known = std::any_of(r.deferred.begin(), r.deferred.end(),
                                   [window](const DeferredDetach& d) { return d.window == window; });
    if (!known) r.deferred.push_back({window, reason, state});
    return !known;
  });
}

std::optional<DeferredDetach> take_deferred_detach() {
  return g_records.with([](Records& records) -> std::optional<DeferredDetach> {
    ThreadRecord* r = find_own(records);
    if (!r || r->deferred.empty()) return std::nullopt;
    const DeferredDetach due = r->deferred.front();
    r->deferred.erase(r->deferred.begin());
    drop_if_idle(records);
    return due;
  });
}

void forget_deferred_detach(HWND window) {
  g_records.with([window](Records& records) {
    if (ThreadRecord* r = find_own(records)) {
      std::erase_if(r->deferred, [window](const DeferredDetach& d) { return d.window == window; });
      drop_if_idle(records);
    }
  });
}

bool add_thread_panel() {
  return g_records.with([](Records& records) {
    ThreadRecord& r = own(records);
    ++r.panels;
    return r.key_hook == nullptr;
  });
}

void set_thread_key_hook(HHOOK hook) {
  g_records.with([hook](Records& records) { own(records).key_hook = hook; });
}

HHOOK remove_thread_panel() {
  return g_records.with([](Records& records) {
    ThreadRecord& r = own(records);
    HHOOK done = nullptr;
    if (r.panels > 0) --r.panels;
    if (r.panels == 0) done = std::exchange(r.key_hook, nullptr);
    drop_if_idle(records);
    return done;
  });
}

void release_thread_state() {
  g_records.release_if([](const Records& records) { return records.empty(); });
}

}  // namespace lumaro::hook
