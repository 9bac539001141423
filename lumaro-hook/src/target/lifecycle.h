// Attaching panels to target windows, detaching them, and the DLL's own
// module lifetime: the first attach takes a module reference so the DLL
// outlives the host's hook; the last detach starts a thread that waits until
// no code of the DLL runs, stops the pipe client and drops that reference.
#pragma once

#include <windows.h>

#include <string_view>

#include "target/panel_state.h"

namespace lumaro::hook {

inline constexpr std::string_view kReasonCommand = "해제 명령";
inline constexpr std::string_view kReasonClosed = "창 닫힘";

// Attach step of the exported hook procedure (GUI thread of `window`).
void attach(HWND window) noexcept;

// Detach now, or once the outermost subclass call on this thread returns.
void request_detach(std::string_view reason, HWND window);
void detach(std::string_view reason, HWND window);
void release_module_ref();

// The window's panel, or null when none is attached by this DLL.
PanelState* find_panel(HWND window) noexcept;

// Opens or closes the panel.
void toggle(PanelState& state, bool open);

LRESULT CALLBACK target_subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                      DWORD_PTR data) noexcept;
LRESULT CALLBACK key_guard_hook(int code, WPARAM wparam, LPARAM lparam) noexcept;
LRESULT CALLBACK icon_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
LRESULT CALLBACK panel_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

}  // namespace lumaro::hook

extern "C" __declspec(dllexport) LRESULT CALLBACK lumaro_getmsg_proc(int code, WPARAM wparam, LPARAM lparam) noexcept;
