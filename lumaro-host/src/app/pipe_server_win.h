// The session's named pipe server: one accept thread, one thread per client.
//
// Each connection thread reads with overlapped I/O, cuts lines, decodes them
// as requests and hands each to `dispatch` on its own thread, in arrival
// order; it writes the lines queued on its Outbox. When the client goes (or
// the host stops) the thread removes its registry entry, then calls `forget`,
// then disconnects. No lock is held across any wait.
//
// The pipe admits only the current user and SYSTEM, refuses remote clients,
// and is never served under a name that another account created first.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/connection_registry.h"
#include "base/unique_handle_win.h"
#include "ipc/messages.h"

namespace lumaro {

inline constexpr size_t kMaxPipeConnections = 256;
// Pause before another try when a pipe instance cannot be created.
inline constexpr DWORD kPipeRetryMs = 1000;

struct PipeHandlers {
  std::function<void(ConnectionId, const Request&)> dispatch;
  std::function<void(ConnectionId)> forget;
};

// Starts the accept thread on `pipe_name` and returns at once. Returns false
// (after logging) when the stop event cannot be created or the pipe's
// security cannot be set up.
bool start_pipe_server(const std::wstring& pipe_name, PipeHandlers handlers);

// The process-wide manual-reset stop event; null before start_pipe_server.
HANDLE host_stop_event();

// A server of its own, for callers that must run several in one process and
// know when each has ended (tests): it ends when `stop_event` (manual reset,
// duplicated, so the caller may close its copy) is signalled, and numbers its
// connections from 1 on a counter of its own. Returns an event that is
// signalled once its accept thread and every connection thread have ended,
// or an empty handle when it did not start. start_pipe_server runs the same
// code on the host stop event and the process-wide counter.
UniqueHandle start_pipe_server_instance(const std::wstring& pipe_name, PipeHandlers handlers, HANDLE stop_event);

}  // namespace lumaro
