// The resident host's watcher of target windows. Owned by the main thread:
// the WinEvent callbacks, the window procedure and the timer all run there.
//
// This build keeps the examination queue (bounded, no duplicates) that the
// event hooks and the start-up enumeration feed; examining queued windows and
// injecting the panel library is not built yet, so examine_queue() empties
// the queue without acting on it.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

namespace lumaro {

inline constexpr size_t kMaxExamineQueue = 4096;
inline constexpr UINT kExamineQueueMessage = WM_APP + 1;

struct WatcherMessages {
  UINT attach = 0, query = 0, detach = 0, toggle = 0;
};

class Watcher {
 public:
  void init(HWND host_window, WatcherMessages messages, std::vector<std::string> targets, DWORD host_pid);
  bool ready() const noexcept { return host_window_ != nullptr; }

  // Queues the window (if there is room and it is not queued yet) and always
  // asks the host window to process the queue.
  void enqueue_window(HWND window);
  void examine_queue();
  void check_attachments();
  void abandon_all();

  size_t queued() const noexcept { return queue_.size(); }

 private:
  HWND host_window_ = nullptr;
  WatcherMessages messages_;
  std::vector<std::string> targets_;
  DWORD host_pid_ = 0;
  std::deque<HWND> queue_;
};

// The process's watcher (main thread only).
Watcher& watcher();

// WinEvent callback for both hooks: top-level window events go to the queue.
void CALLBACK watcher_win_event(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object_id, LONG child_id,
                                DWORD thread_id, DWORD time) noexcept;

}  // namespace lumaro
