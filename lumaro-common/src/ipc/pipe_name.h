// Name of the session's panel-host pipe: "\\.\pipe\lumaro-<session id>".
// Host and panels compute it the same way, so a panel only ever reaches the
// host of its own Windows session.
#pragma once

#include <cstdint>
#include <string>

namespace lumaro {

std::wstring pipe_name_for_session(uint32_t session_id);

#ifdef _WIN32
// For the calling process's session; session 0 when the lookup fails.
std::wstring pipe_name();
#endif

}  // namespace lumaro
