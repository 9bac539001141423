// The process's one client of the host's pipe. A thread named "lumaro-pipe"
// connects, announces the process and its panels, writes the panels'
// requests and hands each host event to its panel by posting
// "Lumaro.Pipe.v1" to the panel's target window. It only ever posts to GUI
// threads, and GUI threads only take short locks here, so neither side can
// make the other wait. It reconnects for as long as it runs; only the unload
// thread stops it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "ipc/messages.h"

namespace lumaro::hook {

// Starts the thread unless a client is already running.
void start_pipe_client();

// Unload only: takes the client out of its slot. The caller then calls
// stop_pipe_client on the result outside every lock.
struct PipeClient;
PipeClient* take_pipe_client();
// Signals the client's stop event, waits for its thread and frees it.
void stop_pipe_client(PipeClient* client);

// True while a connection to the host stands (may be stale for an instant).
bool pipe_connected() noexcept;

// Queues the request for the host; false (and nothing queued) when not
// connected or no client runs.
bool send_request(const Request& request);

// Posts "Lumaro.Pipe.v1" to every attached window.
void notify_all();

struct PendingEvents {
  std::optional<Event> global;  // the last "state" event or event for w 0
  std::vector<Event> own;       // this window's events in arrival order
};
PendingEvents take_events(HWND window);

// Detach: drops the window's queued events.
void drop_window_events(HWND window);

// Unload: empties the event queue and the stored global event.
void release_pipe_events();

// Caption of a target window for "open", read without sending a message so
// that the pipe thread never waits for a GUI thread.
std::string window_caption(HWND window);

}  // namespace lumaro::hook
