// What each mode of lumaro-host does once start-up has chosen it. Each
// returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace lumaro {

class ChatEngine;

int run_resident_host(const std::vector<std::string>& targets, ChatEngine& engine);
int run_quit(const std::vector<std::string>& targets);
int run_toggle(const std::vector<std::string>& targets);
int run_release(const std::vector<std::string>& targets);
int run_helper(const std::vector<std::string>& args);
int run_relay(const std::vector<std::string>& args);
int run_register_browser(bool unregister);

// Asks every attached panel of the target applications to detach and waits
// for them (also the last step of the orderly stop and of "--quit").
void release_panels(const std::vector<std::string>& targets);

}  // namespace lumaro
