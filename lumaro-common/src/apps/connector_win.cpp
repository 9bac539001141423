#include <windows.h>

#include "apps/connector.h"
#include "base/text_win.h"
#include "paths/user_paths.h"

namespace lumaro {

bool mock_mode_from_env() {
  const OptionalEnv value = read_env(L"LUMARO_MOCK");
  return value && *value == L"1";
}

std::optional<ConnectorSpec> build_connector(std::string_view exe_path, const TargetApp& row) {
  if (row.kind != TargetKind::Connector) return std::nullopt;
  const auto program = connector_program_path(exe_path, row.connector.program);
  if (!program) return std::nullopt;

  const DWORD attributes = GetFileAttributesW(to_wide(*program).c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;

  // A value that is not valid UTF-16 comes out with U+FFFD in it, which the
  // port parser rejects, so it falls back to the default port like any other
  // unusable value.
  std::optional<std::string> port_value;
  if (const OptionalEnv wide = read_env(to_wide(row.connector.port_env).c_str())) port_value = to_utf8(*wide);

  return build_connector(exe_path, row, port_value, exists, mock_mode_from_env());
}

}  // namespace lumaro
