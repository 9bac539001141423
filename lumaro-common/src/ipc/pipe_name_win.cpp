#include <windows.h>

#include "ipc/pipe_name.h"

namespace lumaro {

std::wstring pipe_name() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
  return pipe_name_for_session(session);
}

}  // namespace lumaro
