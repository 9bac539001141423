// The account steps shared by the Windows work and its native stand-ins: the
// state changes and notes of a login or logout, which must look the same
// whichever tool (or the mock) did the work.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "runner/chat_engine.h"

namespace lumaro {

// The provider's account description (may run its tool and wait for it).
nlohmann::json account_status(ChatEngine& engine, int provider);

// Sends "§account:{…}" for the provider to window w.
void send_account_note(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);

// A login has started: logging_in, the state broadcast, the started note.
// Called before anything can end the login, so login_finished always comes
// after and a tool that ends at once never leaves logging_in behind.
void mark_login_started(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);

// The mock login: started at once, finished 1.5 s later with the mock login
// flag set. False when its thread could not be started.
bool start_mock_login(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);

// A successful logout: state out, the provider's resume ids forgotten in
// every panel, the log line, the broadcast and the note.
void logout_succeeded(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);

// True when the connection's "hello" executable marks the browser extension.
bool is_browser_connection(ChatEngine& engine, ConnectionId connection);

}  // namespace lumaro
