#include "ipc/pipe_name.h"

namespace lumaro {

std::wstring pipe_name_for_session(uint32_t session_id) {
  return L"\\\\.\\pipe\\lumaro-" + std::to_wstring(session_id);
}

}  // namespace lumaro
