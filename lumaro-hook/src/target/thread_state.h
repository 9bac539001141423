// What the DLL keeps per GUI thread of the target process: the nesting depth
// of the target subclass procedure, the detaches put off until the outermost
// call returns, the number of panels and the keyboard guard hook.
//
// This is a process-wide list keyed by thread id rather than thread_local
// storage: thread_local in a DLL that unloads itself would leave TLS slots
// and per-thread destructors behind. A thread's record exists only while it
// has panels, a subclass call in progress or deferred work, so the list is
// empty (and freed) when the DLL unloads.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

namespace lumaro::hook {

struct PanelState;

struct DeferredDetach {
  HWND window;
  std::string_view reason;  // always a string literal
  // The window's panel when the detach was put off. If the window is
  // destroyed meanwhile it can no longer be found through the window.
  PanelState* state;
};

// Enter/leave one target_subclass_proc call on the calling thread. leave
// returns true when the outermost call is returning and deferred detaches
// are waiting.
void enter_subclass_call();
bool leave_subclass_call();

// Current nesting depth on the calling thread.
int subclass_depth();

// Records a deferred detach unless the window is already recorded; returns
// whether it was recorded.
bool defer_detach(HWND window, std::string_view reason, PanelState* state);
// The calling thread's oldest deferred detach, taken off its list. They are
// taken one at a time because carrying one out can run window procedures
// that detach other recorded windows.
std::optional<DeferredDetach> take_deferred_detach();
// Drops the window's deferred detach, if any: its panel is going now.
void forget_deferred_detach(HWND window);

// Counts a new panel on the calling thread; returns true when the thread has
// no keyboard guard hook yet.
bool add_thread_panel();
void set_thread_key_hook(HHOOK hook);
// Uncounts a panel; returns the thread's hook (and forgets it) when this was
// the thread's last panel, otherwise null.
HHOOK remove_thread_panel();

// Frees the list when no thread has a record (unload).
void release_thread_state();

}  // namespace lumaro::hook
