// Entry point of the panel DLL. DllMain runs under the loader lock, so it
// only remembers the module handle; all real work starts from the hook
// procedure on the target's GUI thread.
#include <windows.h>

#include "log/log.h"
#include "target/module.h"

namespace lumaro {
extern const LogRole kProcessLogRole = LogRole::hook;
}

namespace __gnu_cxx {
void __freeres() noexcept;  // the C++ runtime's own clean-up entry
}

namespace lumaro::hook {
HMODULE g_module = nullptr;
std::atomic<long> g_frames_in_progress{0};

namespace {
// The statically linked C++ runtime allocates an emergency buffer for
// exceptions (about 73 KB) when the DLL is mapped and never frees it, so
// every map/unmap of this DLL in a long-lived target would leak it. This
// destructor runs when the runtime finishes at unmap, before the image goes,
// and gives the buffer back; no exception can be in flight by then.
struct ReleaseRuntimeBuffers {
  ~ReleaseRuntimeBuffers() { __gnu_cxx::__freeres(); }
} g_release_runtime_buffers;
}  // namespace
}  // namespace lumaro::hook

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) lumaro::hook::g_module = instance;
  return TRUE;
}
