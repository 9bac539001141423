// How to start the application connector of a Connector target: the program
// beside the application's executable, its arguments and the control port.
//
// The decision is pure: the caller supplies the port variable's value, whether
// the program file exists and whether mock mode is on. On Windows the
// two-argument build_connector reads them from the real environment and file
// system. Paths are UTF-8; both "\" and "/" separate folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/target_app.h"

namespace lumaro {

struct ConnectorSpec {
  std::string program;            // folder of the application joined with the connector's file name
  std::vector<std::string> args;  // "mcp", "--connect", "127.0.0.1:<port>"
  uint16_t port = 0;
  bool operator==(const ConnectorSpec&) const = default;
};

// `program_name` in the folder of `exe_path`; nothing when the path names no
// folder (a bare file name).
std::optional<std::string> connector_program_path(std::string_view exe_path, std::string_view program_name);

// The control port from the override variable's value: an unsigned decimal
// number with an optional "+", white space around it allowed, 1 to 65535.
// Anything else (unset, empty, signs alone, other characters, 0, too large,
// invalid UTF-8) gives `default_port`.
uint16_t connector_port(const std::optional<std::string>& env_value, uint16_t default_port) noexcept;

// Nothing for a row that is not a Connector, for a path without a folder, and
// for a missing program unless mock mode is on (the mock tools never start it).
std::optional<ConnectorSpec> build_connector(std::string_view exe_path, const TargetApp& row,
                                             const std::optional<std::string>& port_env_value,
                                             bool program_exists, bool mock_mode);

#ifdef _WIN32
// "LUMARO_MOCK" is exactly "1" (read at every call).
bool mock_mode_from_env();

// build_connector with the row's port variable, the program file's existence
// (a folder of that name does not count) and mock mode read now.
std::optional<ConnectorSpec> build_connector(std::string_view exe_path, const TargetApp& row);
#endif

}  // namespace lumaro
