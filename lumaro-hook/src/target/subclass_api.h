// comctl32's window subclassing, found at run time: the DLL must load into
// applications that never load comctl32 themselves and must not fail to load
// where an export is only available by ordinal.
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace lumaro::hook {

// Each reports failure (false, or no reference data) when comctl32 or the
// function cannot be found; def_subclass_proc then falls back to
// DefWindowProcW.
bool set_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data) noexcept;
bool get_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR* data) noexcept;
bool remove_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id) noexcept;
LRESULT def_subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

}  // namespace lumaro::hook
