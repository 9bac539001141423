#include "target/attached_windows.h"

#include <algorithm>

#include "util/global_box.h"

namespace lumaro::hook {
namespace {
GlobalBox<std::vector<HWND>> g_windows;
}

void add_attached_window(HWND window) {
  g_windows.with([window](std::vector<HWND>& list) {
    if (std::find(list.begin(), list.end(), window) == list.end()) list.push_back(window);
  });
}

void remove_attached_window(HWND window) {
  g_windows.with([window](std::vector<HWND>& list) { std::erase(list, window); });
}

std::vector<HWND> attached_windows_snapshot() {
  return g_windows.peek([](std::vector<HWND>* list) { return list ? *list : std::vector<HWND>(); });
}

void release_attached_windows() {
  g_windows.release_if([](const std::vector<HWND>& list) { return list.empty(); });
}

}  // namespace lumaro::hook
