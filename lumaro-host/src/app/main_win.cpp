// lumaro-host entry: common start-up, then the mode the command line names.
#include <windows.h>

#include "app/command_line.h"
#include "app/connection_registry.h"
#include "app/host_modes_win.h"
#include "log/log.h"
#include "runner/chat_engine.h"
#include "runner/chat_env_win.h"
#include "util/target_list_file_win.h"

namespace lumaro {
extern const LogRole kProcessLogRole = LogRole::host;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace lumaro;
  prune_logs();
  start_host_log();

  const std::vector<std::string> args = split_command_line(GetCommandLineW());
  log_line("시작, 인자 " + format_bracketed_list(args));

  const HostMode mode = select_host_mode(args);
  switch (mode) {
    case HostMode::relay: return run_relay(args);
    case HostMode::register_browser: return run_register_browser(false);
    case HostMode::unregister_browser: return run_register_browser(true);
    case HostMode::helper: return run_helper(args);
    default: break;
  }

  const std::vector<std::string> targets = load_target_list();
  log_line("대상 목록 " + format_bracketed_list(targets));

  switch (mode) {
    case HostMode::toggle: return run_toggle(targets);
    case HostMode::quit: return run_quit(targets);
    case HostMode::release: return run_release(targets);
    default: break;
  }
  // Worker threads may still be running when the loop ends and the process
  // exits, so the engine is never destroyed.
  auto* env = new WinChatEnv();
  auto* engine = new ChatEngine(*env, connection_registry());
  return run_resident_host(targets, *engine);
}
