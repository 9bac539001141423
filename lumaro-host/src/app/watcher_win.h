// The resident host's watcher of target windows: it examines top-level
// windows as they are shown or activated, puts the panel library into the
// threads of target windows (its own hook, or a helper host of the other
// bitness), confirms each attempt and retries it a bounded number of times.
//
// Owned by the main thread: the WinEvent callbacks, the window procedure and
// the timer all run there. The state is never used across a panel query,
// because a query dispatches sent messages while it waits; calls that arrive
// while the state is in use return without touching it.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/injection_win.h"
#include "app/window_rules.h"
#include "base/unique_handle_win.h"

namespace lumaro {

inline constexpr size_t kMaxExamineQueue = 4096;
inline constexpr UINT kExamineQueueMessage = WM_APP + 1;

class Watcher {
 public:
  // Also loads the hook library.
  void init(HWND host_window, WatcherMessages messages, std::vector<std::string> targets, DWORD host_pid);
  bool ready() const noexcept { return host_window_ != nullptr && !stopped_; }

  // Queues the window (if there is room and it is not queued yet) and always
  // asks the host window to process the queue.
  void enqueue_window(HWND window);
  void examine_queue();       // WM_APP + 1
  void check_attachments();   // timer 1
  // Orderly stop: unhooks, waits for helpers, forgets every window. The
  // watcher takes no windows after this.
  void abandon_all();

  size_t queued() const noexcept { return queue_.size(); }

 private:
  struct Entry {
    DWORD pid = 0, tid = 0;
    AttachRecord record;
    HHOOK hook = nullptr;  // Hooked
    UniqueHandle helper;   // HelperRunning
    int64_t since_ns = 0;  // Hooked, HelperRunning
  };
  using Table = std::unordered_map<HWND, Entry>;

  void examine(HWND window);
  Entry inject_window(HWND window, DWORD pid, DWORD tid);
  Entry start_helper(HWND window);
  bool make_room_for(HWND window);
  // Lets go of the hook or helper an entry holds.
  static void release(Entry& entry);

  HWND host_window_ = nullptr;
  WatcherMessages messages_;
  std::vector<std::string> targets_;
  DWORD host_pid_ = 0;
  HookLibrary library_;
  std::deque<HWND> queue_;
  std::unordered_set<HWND> queued_;
  Table table_;
  bool in_use_ = false;
  bool stopped_ = false;
};

// The process's watcher (main thread only).
Watcher& watcher();

// WinEvent callback for both hooks: top-level window events go to the queue.
void CALLBACK watcher_win_event(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object_id, LONG child_id,
                                DWORD thread_id, DWORD time) noexcept;

}  // namespace lumaro
