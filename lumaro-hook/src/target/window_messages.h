// The registered window messages shared with the host, and the constants of
// the panel's subclass and timers.
#pragma once

#include <windows.h>

namespace lumaro::hook {

inline constexpr UINT_PTR kSubclassId = 0x5A1D;
inline constexpr LRESULT kAttachedAnswer = 0x5A1D0A11;
inline constexpr UINT_PTR kAnimationTimerId = 0x5A1D0001;
inline constexpr UINT_PTR kReshowTimerId = 0x5A1D0002;
inline constexpr size_t kMaxAttachedWindows = 64;

inline constexpr wchar_t kPanelClass[] = L"Lumaro.Panel.v2";
inline constexpr wchar_t kIconClass[] = L"Lumaro.Icon.v1";

// Each number is registered on first use and cached; racing first callers
// get the same number from the system, so no lock is needed.
UINT attach_message() noexcept;
UINT detach_message() noexcept;
UINT toggle_message() noexcept;
UINT query_message() noexcept;
UINT pipe_message() noexcept;
UINT ui_message() noexcept;

}  // namespace lumaro::hook
