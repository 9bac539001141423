// The chat engine: what the host remembers about connections and panels, and
// what it does with each request.
//
// Threads: every connection thread calls dispatch() for its requests, in
// order; job threads call deliver(); worker threads started here update the
// state and send events through the same object. One mutex guards ChatState;
// it is held only for map updates and copies (and the small settings file on
// "select"), never while a tool runs, a thread is started or an event is
// queued, and never together with the connection registry's lock.
#pragma once

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/connection_registry.h"
#include "base/mutex.h"
#include "ipc/messages.h"
#include "providers/settings.h"
#include "runner/chat_env.h"
#include "runner/job_handle.h"
#include "runner/stream_item.h"
#include "runner/turn_request.h"

namespace lumaro {

inline constexpr size_t kMaxPanelSessions = 512;
inline constexpr size_t kMaxPendingImages = 4;
inline constexpr auto kAccountRefreshInterval = std::chrono::seconds(60);

struct SessionKey {
  ConnectionId connection = 0;
  WindowId window = 0;
  auto operator<=>(const SessionKey&) const = default;
};

struct PanelSession {
  std::optional<JobHandle> job;                    // present while a turn runs
  std::map<std::string, std::string> resume_ids;   // provider id -> conversation id
  std::string exe;
  std::string title;
  std::vector<std::string> pending_images;         // at most 4, taken by the next turn
  std::optional<std::string> read_snapshot;        // document path of the last Hangul read
  uint8_t read_scope = 0;                          // 1 when that read was a selection
  bool stopped = false;
  bool ready = false;
};

struct ChatState {
  ProviderSettings settings;
  std::array<LoginState, 3> logins{LoginState::unknown, LoginState::unknown, LoginState::unknown};
  std::optional<ChatEnv::Clock::time_point> last_account_refresh;
  std::map<ConnectionId, std::string> exes;
  std::map<ConnectionId, uint32_t> pids;
  std::map<SessionKey, PanelSession> sessions;
};

class ChatEngine {
 public:
  ChatEngine(ChatEnv& env, ConnectionRegistry& connections) : env_(env), connections_(connections) {}
  ChatEngine(const ChatEngine&) = delete;
  ChatEngine& operator=(const ChatEngine&) = delete;

  void dispatch(ConnectionId connection, const Request& request);
  void forget_connection(ConnectionId connection);
  void cancel_all_jobs();

  // Queues the event on the connection's outbox; dropped when it is gone.
  void send_event(ConnectionId connection, const Event& event);
  // The state event, encoded once, to every live connection.
  void broadcast_state();
  StateEvent build_state_event();

  void start_turn(ConnectionId connection, WindowId window, const std::string& text, const std::string& context,
                  const std::string& provider, const std::string& model, const std::string& preset);
  void deliver(const ReplyAddress& to, const StreamItem& item);
  void start_account_refresh();

  // Runs `f(state)` under the lock, creating the state on first use. `f` must
  // not block, queue events or start threads.
  template <typename F>
  decltype(auto) with_state(F&& f) {
    std::lock_guard lock(mutex_);
    if (!state_) create_state();
    return f(*state_);
  }

  ChatEnv& env() noexcept { return env_; }

 private:
  void create_state();
  void on_hello(ConnectionId connection, const HelloRequest& r);
  void on_open(ConnectionId connection, const OpenRequest& r);
  void on_close(ConnectionId connection, const CloseRequest& r);
  void on_send(ConnectionId connection, const SendRequest& r);
  void on_stop(ConnectionId connection, const StopRequest& r);
  void on_image(ConnectionId connection, const ImageRequest& r);
  void on_usage(ConnectionId connection, const UsageRequest& r);
  void on_login(ConnectionId connection, const LoginRequest& r);
  void on_logout(ConnectionId connection, const LogoutRequest& r);
  void on_account(ConnectionId connection, const AccountRequest& r);
  void on_select(const SelectRequest& r);
  void on_reset(ConnectionId connection, const ResetRequest& r);
  void on_apply(ConnectionId connection, const ApplyRequest& r);
  // Starts a worker thread, logging when none could be started.
  void spawn_worker(const char* what, std::function<void()> work);

  ChatEnv& env_;
  ConnectionRegistry& connections_;
  Mutex mutex_;
  std::optional<ChatState> state_;
};

// "0x1a2b": how window handles appear in log lines.
std::string hex_window(WindowId w);

}  // namespace lumaro
