// The messages that every frame of lumaro-test-windows answers, so a test can
// put a panel in the situations it must survive and see what the program's
// own message loop saw (the loop is what the panel's keyboard guard keeps
// keys away from).
#pragma once

#include <windows.h>

namespace lumaro::test {

// The handler sends "Lumaro.Detach.v1" to its own window twice, so both
// arrive while the frame's window procedure is running.
inline constexpr UINT kAskDetachTwice = WM_APP + 1;
// Posted: the message loop destroys the window itself, outside any window
// procedure.
inline constexpr UINT kDestroyFromLoop = WM_APP + 2;
// How many key messages of kind wParam for window lParam the loop took off
// the queue, and how many the window procedure received.
inline constexpr UINT kLoopSaw = WM_APP + 3;
inline constexpr UINT kProcGot = WM_APP + 4;
// Posted: counted by the loop; kMarkersSeen answers the count.
inline constexpr UINT kMarker = WM_APP + 5;
inline constexpr UINT kMarkersSeen = WM_APP + 6;

}  // namespace lumaro::test
