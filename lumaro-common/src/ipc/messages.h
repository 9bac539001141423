// The messages that cross the panel-host pipe: requests from panels and
// relays to the host, events from the host to them. Plain values; the codec
// (codec.h) turns them into single JSON lines and back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumaro {

// Handle of the target's top-level window, zero-extended; 0 means none.
using WindowId = uint64_t;

// ---- requests (client to host) ---------------------------------------------

struct HelloRequest {
  uint32_t pid = 0;
  uint32_t bits = 0;
  std::string exe;  // full path of the client's executable, or "browser:<name>"
};
struct OpenRequest {
  WindowId w = 0;
  std::string title;
};
struct CloseRequest {
  WindowId w = 0;
};
struct SendRequest {
  WindowId w = 0;
  std::string text;
  std::string context;
  std::string provider;
  std::string model;
  std::string preset;  // left out of the line when empty
};
struct StopRequest {
  WindowId w = 0;
};
struct ImageRequest {
  WindowId w = 0;
  std::string data;  // data URL, see validate_image_data
};
struct UsageRequest {
  WindowId w = 0;
  std::string provider;
};
struct LoginRequest {
  WindowId w = 0;
  std::string provider;
  std::string method;
};
struct LogoutRequest {
  WindowId w = 0;
  std::string provider;
};
struct AccountRequest {
  WindowId w = 0;
  std::string provider;
};
struct SelectRequest {
  std::string provider;
  std::string model;
};
struct ResetRequest {
  WindowId w = 0;
  std::string provider;
  std::string session;
};
struct ApplyRequest {
  WindowId w = 0;
  std::string text;
};

using Request = std::variant<HelloRequest, OpenRequest, CloseRequest, SendRequest, StopRequest,
                             ImageRequest, UsageRequest, LoginRequest, LogoutRequest,
                             AccountRequest, SelectRequest, ResetRequest, ApplyRequest>;

// Wire name ("t") of the request's kind.
std::string_view request_kind(const Request& request) noexcept;

// ---- events (host to client) -----------------------------------------------

enum class LoginState { unknown, checking, missing, out, logging_in, in };

std::string_view login_state_name(LoginState state) noexcept;
// Any unknown text maps to LoginState::unknown.
LoginState parse_login_state(std::string_view text) noexcept;

struct ProviderEntry {
  std::string key;   // provider id
  std::string name;  // display label
  LoginState login = LoginState::unknown;
  bool operator==(const ProviderEntry&) const = default;
};
struct ModelEntry {
  std::string provider;
  std::string model;
  std::string label;
  bool operator==(const ModelEntry&) const = default;
};

struct StateEvent {
  std::vector<ProviderEntry> providers;
  std::string provider;
  std::string model;
  std::vector<ModelEntry> models;
};
struct ConnEvent {
  WindowId w = 0;
  bool ok = false;
  std::string text;
};
struct TextEvent {
  WindowId w = 0;
  std::string text;
  bool new_block = false;  // "new": starts a new paragraph block of the answer
};
struct ToolEvent {
  WindowId w = 0;
  std::string name;
  std::string args;
};
struct DoneEvent {
  WindowId w = 0;
  std::string error;  // empty on success
};
struct NoteEvent {
  WindowId w = 0;
  std::string text;
};

using Event = std::variant<StateEvent, ConnEvent, TextEvent, ToolEvent, DoneEvent, NoteEvent>;

std::string_view event_kind(const Event& event) noexcept;

// The window an event is addressed to; 0 (every panel) for "state".
WindowId event_window(const Event& event) noexcept;

}  // namespace lumaro
