#include "target/window_messages.h"

#include <atomic>

namespace lumaro::hook {
namespace {

UINT cached(std::atomic<UINT>& slot, const wchar_t* name) noexcept {
  UINT value = slot.load(std::memory_order_relaxed);
  if (value == 0) {
    value = RegisterWindowMessageW(name);
    slot.store(value, std::memory_order_relaxed);
  }
  return value;
}

std::atomic<UINT> g_attach{0};
std::atomic<UINT> g_detach{0};
std::atomic<UINT> g_toggle{0};
std::atomic<UINT> g_query{0};
std::atomic<UINT> g_pipe{0};
std::atomic<UINT> g_ui{0};

}  // namespace

UINT attach_message() noexcept { return cached(g_attach, L"Lumaro.Attach.v1"); }
UINT detach_message() noexcept { return cached(g_detach, L"Lumaro.Detach.v1"); }
UINT toggle_message() noexcept { return cached(g_toggle, L"Lumaro.Toggle.v1"); }
UINT query_message() noexcept { return cached(g_query, L"Lumaro.Query.v1"); }
UINT pipe_message() noexcept { return cached(g_pipe, L"Lumaro.Pipe.v1"); }
UINT ui_message() noexcept { return cached(g_ui, L"Lumaro.Ui.v1"); }

}  // namespace lumaro::hook
