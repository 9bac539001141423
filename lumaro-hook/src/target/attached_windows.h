// The list of target windows with a panel, in attach order, without
// duplicates. The pipe client announces them on every new connection and
// notifies them of events.
#pragma once

#include <windows.h>

#include <vector>

namespace lumaro::hook {

void add_attached_window(HWND window);
void remove_attached_window(HWND window);
std::vector<HWND> attached_windows_snapshot();
// Frees the list when it is empty (unload).
void release_attached_windows();

}  // namespace lumaro::hook
