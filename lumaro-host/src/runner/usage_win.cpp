// The Claude plan usage for the browser extension, asked of the Claude tool
// and kept for a minute so repeated requests do not start it again.
#include <windows.h>

#include "base/file_win.h"
#include "log/log.h"
#include "runner/account_tools_win.h"
#include "runner/cli_command.h"
#include "runner/login_plan.h"
#include "runner/tool_env_win.h"
#include "runner/usage_parse.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

UsageCache& usage_cache() {
  static UsageCache cache;
  return cache;
}

constexpr int kClaude = 0;

}  // namespace

void usage_query(ChatEngine& engine, WindowId w, ConnectionId connection) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<UsageEntry> entries;
  if (auto cached = usage_cache().fresh(now)) {
    entries = std::move(*cached);
  } else if (const CliEnvironment env = current_cli_environment(); auto path = find_cli(kClaude, env, path_exists)) {
    std::string error;
    const ToolRun run = run_account_tool(*path, usage_args(), env.home_dir, &error);
    if (!run.started) {
      log_line(fill_message(kLogUsageFailed, error));
    } else {
      entries = parse_usage_report(usage_report_text(run));
    }
    // Stored also when empty: a failing tool is not started again for a minute.
    usage_cache().store(std::chrono::steady_clock::now(), entries);
  }
  engine.send_event(connection, NoteEvent{w, usage_note(entries)});
}

}  // namespace lumaro
