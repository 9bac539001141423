// Names that carry the build's architecture, so a 32-bit and a 64-bit host
// can run side by side in one session.
#pragma once

namespace lumaro {

#ifdef _WIN64
inline constexpr wchar_t kHostMutexName[] = L"Local\\Lumaro.Host.x64";
inline constexpr wchar_t kHostWindowClass[] = L"Lumaro.Host.x64";
#else
inline constexpr wchar_t kHostMutexName[] = L"Local\\Lumaro.Host.x86";
inline constexpr wchar_t kHostWindowClass[] = L"Lumaro.Host.x86";
#endif
// Both classes, 64-bit first, for the actions that stop every host.
inline constexpr const wchar_t* kAllHostWindowClasses[] = {L"Lumaro.Host.x64", L"Lumaro.Host.x86"};

inline constexpr int kEmergencyHotkeyId = 0x5A1D;
inline constexpr unsigned kEmergencyHotkeyModifiers = 0x4007;  // Ctrl+Alt+Shift, no repeat
inline constexpr unsigned kEmergencyHotkeyKey = 0x7B;          // F12
inline constexpr unsigned kAttachTimerId = 1;
inline constexpr unsigned kAttachTimerMs = 100;

}  // namespace lumaro
