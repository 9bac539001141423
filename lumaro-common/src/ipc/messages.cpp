#include "ipc/messages.h"

#include <array>

namespace lumaro {
namespace {

// Wire names in the order of the variant alternatives.
constexpr std::array<std::string_view, std::variant_size_v<Request>> kRequestKinds = {
    "hello", "open", "close", "send", "stop", "image", "usage",
    "login", "logout", "account", "select", "reset", "apply"};
constexpr std::array<std::string_view, std::variant_size_v<Event>> kEventKinds = {
    "state", "conn", "text", "tool", "done", "note"};
constexpr std::array<std::string_view, 6> kLoginStates = {"unknown", "checking",   "missing",
                                                          "out",     "logging_in", "in"};

}  // namespace

std::string_view request_kind(const Request& request) noexcept { return kRequestKinds[request.index()]; }

std::string_view event_kind(const Event& event) noexcept { return kEventKinds[event.index()]; }

WindowId event_window(const Event& event) noexcept {
  return std::visit(
      [](const auto& e) -> WindowId {
        if constexpr (requires { e.w; }) return e.w;
        else return 0;
      },
      event);
}

std::string_view login_state_name(LoginState state) noexcept {
  return kLoginStates[static_cast<size_t>(state)];
}

LoginState parse_login_state(std::string_view text) noexcept {
  for (size_t i = 0; i < kLoginStates.size(); ++i) {
    if (kLoginStates[i] == text) return static_cast<LoginState>(i);
  }
  return LoginState::unknown;
}

}  // namespace lumaro
