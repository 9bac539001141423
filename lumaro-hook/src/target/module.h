// The DLL's own module handle and the count of its code frames that are
// running on any thread. The unload thread frees the module only once that
// count has been zero for a while, so every entry point that the system can
// call (hook procedures, window and subclass procedures) holds a CodeFrame.
#pragma once

#include <windows.h>

#include <atomic>

namespace lumaro::hook {

// Set by DllMain at process attach; never changed afterwards.
extern HMODULE g_module;

// Calls of this DLL's callbacks in progress on any thread.
extern std::atomic<long> g_frames_in_progress;

class CodeFrame {
 public:
  CodeFrame() noexcept { g_frames_in_progress.fetch_add(1); }
  ~CodeFrame() { g_frames_in_progress.fetch_sub(1); }
  CodeFrame(const CodeFrame&) = delete;
  CodeFrame& operator=(const CodeFrame&) = delete;
};

}  // namespace lumaro::hook
