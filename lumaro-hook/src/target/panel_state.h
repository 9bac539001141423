// One attached target window's panel. Created at attach, owned through the
// target's subclass (it is the subclass reference data), freed at detach.
#pragma once

#include <windows.h>

#include "target/panel_settings.h"

namespace lumaro::hook {

struct PanelState {
  HWND target = nullptr;  // also the panel's "w"
  PanelSettings settings;
  UINT dpi = 96;
  HWND panel = nullptr;  // either window may be missing if creation failed
  HWND icon = nullptr;
  bool detaching = false;
  bool open = false;
  int wanted_width = 0;    // strip width the panel asks for, pixels
  int reserved_width = 0;  // strip width the last frame calculation took
};

}  // namespace lumaro::hook
