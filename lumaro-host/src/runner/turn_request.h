// One question, ready for a provider: built by the chat engine's start_turn,
// consumed by the runner (or the mock job).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/connection_registry.h"
#include "apps/connector.h"
#include "ipc/messages.h"

namespace lumaro {

// Where a job's output goes.
struct ReplyAddress {
  ConnectionId connection = 0;
  WindowId window = 0;
  int provider = 0;  // catalogue index
};

struct TurnConnector {
  std::string name;  // the connector name of the target's row
  ConnectorSpec command;
};

struct TurnRequest {
  std::string system_prompt;
  std::string message;
  std::string model;
  std::vector<std::string> images;  // data URLs
  std::optional<TurnConnector> connector;
  std::optional<std::string> resume_id;
  ReplyAddress reply;
};

}  // namespace lumaro
