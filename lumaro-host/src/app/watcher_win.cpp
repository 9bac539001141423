#include "app/watcher_win.h"

#include <algorithm>

namespace lumaro {

void Watcher::init(HWND host_window, WatcherMessages messages, std::vector<std::string> targets, DWORD host_pid) {
  host_window_ = host_window;
  messages_ = messages;
  targets_ = std::move(targets);
  host_pid_ = host_pid;
}

void Watcher::enqueue_window(HWND window) {
  if (!ready()) return;
  if (queue_.size() < kMaxExamineQueue && std::find(queue_.begin(), queue_.end(), window) == queue_.end()) {
    queue_.push_back(window);
  }
  PostMessageW(host_window_, kExamineQueueMessage, 0, 0);
}

void Watcher::examine_queue() { queue_.clear(); }

void Watcher::check_attachments() {}

void Watcher::abandon_all() { queue_.clear(); }

Watcher& watcher() {
  static Watcher instance;
  return instance;
}

void CALLBACK watcher_win_event(HWINEVENTHOOK, DWORD, HWND window, LONG object_id, LONG child_id, DWORD,
                                DWORD) noexcept {
  if (window && object_id == OBJID_WINDOW && child_id == CHILDID_SELF) watcher().enqueue_window(window);
}

}  // namespace lumaro
