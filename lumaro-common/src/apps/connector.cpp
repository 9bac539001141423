#include "apps/connector.h"

#include "base/utf8.h"

namespace lumaro {
namespace {

std::optional<uint16_t> parse_port(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;  // also keeps the sum from overflowing
  }
  if (value == 0) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<std::string> connector_program_path(std::string_view exe_path, std::string_view program_name) {
  const size_t sep = exe_path.find_last_of("\\/");
  if (sep == std::string_view::npos) return std::nullopt;
  // Keep the separator: a root folder ("C:\") stays a root, and joining never
  // doubles it.
  std::string program(exe_path.substr(0, sep + 1));
  program.append(program_name);
  return program;
}

uint16_t connector_port(const std::optional<std::string>& env_value, uint16_t default_port) noexcept {
  if (!env_value || !is_valid_utf8(*env_value)) return default_port;
  return parse_port(trim_unicode_space(*env_value)).value_or(default_port);
}

std::optional<ConnectorSpec> build_connector(std::string_view exe_path, const TargetApp& row,
                                             const std::optional<std::string>& port_env_value,
                                             bool program_exists, bool mock_mode) {
  if (row.kind != TargetKind::Connector || row.connector.program.empty()) return std::nullopt;
  auto program = connector_program_path(exe_path, row.connector.program);
  if (!program) return std::nullopt;
  if (!program_exists && !mock_mode) return std::nullopt;
  const uint16_t port = connector_port(port_env_value, row.connector.default_port);
  ConnectorSpec built;
  built.program = std::move(*program);
  built.args = {"mcp", "--connect", "127.0.0.1:" + std::to_string(port)};
  built.port = port;
  return built;
}

}  // namespace lumaro
