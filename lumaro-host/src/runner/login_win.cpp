// Logging a provider in and out through its own tool on Windows. The login
// tool runs hidden; two watchers read its outputs for the sign-in address and
// open the first one (in the default browser, or through the browser
// extension when it asked), and a wait thread ends the login when the tool
// exits. The host never sees a password or a token.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <memory>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/thread_win.h"
#include "log/log.h"
#include "providers/catalogue.h"
#include "runner/account_parse.h"
#include "runner/account_tools_win.h"
#include "runner/accounts.h"
#include "runner/cli_command.h"
#include "runner/login_plan.h"
#include "runner/tool_env_win.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

// Shared read-only by the two watchers of one login, apart from the flag
// that lets only the first address through.
struct LoginWatch {
  ChatEngine* engine = nullptr;
  WindowId w = 0;
  ConnectionId connection = 0;
  int provider = 0;
  bool browser = false;
  std::atomic<bool> opened{false};
};

void open_address(LoginWatch& watch, const std::string& address) {
  if (watch.opened.exchange(true)) return;
  log_line(fill_message(kLogOpenAddress, provider_label(watch.provider)));
  if (watch.browser) {
    watch.engine->send_event(watch.connection, NoteEvent{watch.w, fill_message(kOpenNote, address)});
    return;
  }
  const std::wstring wide = to_wide(address);
  ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Reads one output of the login tool to its end, so the tool never blocks on
// a full pipe, and offers the addresses it prints.
void watch_login_output(UniqueFile pipe, std::shared_ptr<LoginWatch> watch) {
  LoginOutputScanner scanner(watch->provider);
  char buf[8192];
  DWORD got = 0;
  while (ReadFile(pipe.get(), buf, sizeof buf, &got, nullptr) && got > 0) {
    for (const auto& address : scanner.feed(std::string_view(buf, got))) open_address(*watch, address);
  }
  for (const auto& address : scanner.finish()) open_address(*watch, address);
}

// The Gemini CLI's settings in the private profile must ask for the browser
// sign-in; everything else in them stays as the tool left it.
void prepare_gemini_settings(const std::string& data) {
  create_directories(to_wide(gemini_config_dir(data)));
  const std::string path = gemini_settings_path(data);
  (void)write_whole_file(to_wide(path), gemini_login_settings(read_tool_file(path)));
}

}  // namespace

bool start_login(ChatEngine& engine, ConnectionId connection, const LoginRequest& request) {
  const int p = provider_index(request.provider);
  const WindowId w = request.w;
  const bool browser = is_browser_connection(engine, connection);
  if (engine.env().mock_mode()) return start_mock_login(engine, w, connection, p);

  const CliEnvironment env = current_cli_environment();
  const auto path = find_cli(p, env, path_exists);
  if (!path) {
    engine.send_event(connection, NoteEvent{w, fill_message(kToolNotInstalled, provider_product_name(p))});
    return false;
  }
  const CliKind kind = cli_kind(p, *path);
  const std::string data = data_dir_utf8();
  const LoginCommand command = login_command(kind, request.method, env.home_dir, data);
  if (kind == CliKind::GeminiCli) prepare_gemini_settings(data);

  auto prepared = tool_launch(*path, command.args, command.working_dir);
  if (auto* refusal = std::get_if<std::string>(&prepared)) {
    engine.send_event(connection, NoteEvent{w, fill_message(kLoginStartFailed, *refusal)});
    return false;
  }
  ChildSpec launch = std::get<ChildSpec>(std::move(prepared));
  launch.stdin_pipe = command.stdin_pipe;
  if (kind == CliKind::GeminiCli) {
    if (auto options = gemini_login_node_options(*path, path_exists)) {
      launch.env.emplace_back(L"NODE_OPTIONS", to_wide(*options));
    }
  }

  auto started = start_child(launch);
  if (auto* code = std::get_if<DWORD>(&started)) {
    engine.send_event(connection, NoteEvent{w, fill_message(kLoginStartFailed, system_error_text(*code))});
    return false;
  }
  Child child = std::get<Child>(std::move(started));
  log_line("로그인 시작 " + std::string(provider_label(p)));

  if (child.stdin_write) {
    // Answers the tool's question whether to sign in with the browser, then
    // keeps the input open long enough for the sign-in; closing it lets a
    // tool that still waits for input finish.
    DWORD wrote = 0;
    (void)WriteFile(child.stdin_write.get(), kGeminiLoginInput, sizeof kGeminiLoginInput - 1, &wrote, nullptr);
    start_thread([pipe = std::move(child.stdin_write)]() mutable {
      Sleep(static_cast<DWORD>(std::chrono::milliseconds(kGeminiInputKeep).count()));
      pipe.reset();
    });
  }

  // Before anything that can end the login: login_finished then always comes
  // after logging_in, however quickly the tool exits.
  mark_login_started(engine, w, connection, p);

  auto watch = std::make_shared<LoginWatch>();
  watch->engine = &engine;
  watch->w = w;
  watch->connection = connection;
  watch->provider = p;
  watch->browser = browser;
  start_thread([pipe = std::move(child.stdout_read), watch]() mutable { watch_login_output(std::move(pipe), watch); });
  start_thread([pipe = std::move(child.stderr_read), watch]() mutable { watch_login_output(std::move(pipe), watch); });

  auto process = std::make_shared<UniqueHandle>(std::move(child.process));
  UniqueHandle waiter = start_thread([&engine, process, w, connection, p] {
    WaitForSingleObject(process->get(), INFINITE);  // a failed wait counts as the end
    login_finished(engine, w, connection, p);
  });
  // Without the wait thread nothing would end logging_in: check at once.
  if (!waiter) login_finished(engine, w, connection, p);
  return true;
}

void run_logout(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  std::optional<std::string> error;
  if (engine.env().mock_mode()) {
    mock_login_flag().exchange(false);
  } else if (const CliEnvironment env = current_cli_environment(); auto path = find_cli(provider, env, path_exists)) {
    const CliKind kind = cli_kind(provider, *path);
    switch (logout_action(kind)) {
      case LogoutAction::delete_gemini_files: {
        // A file that is already gone counts as deleted.
        const std::string data = data_dir_utf8();
        DeleteFileW(to_wide(gemini_oauth_creds_path(data)).c_str());
        DeleteFileW(to_wide(gemini_accounts_path(data)).c_str());
        break;
      }
      case LogoutAction::refuse:
        error = kAgyLogoutRefused;
        break;
      case LogoutAction::run_tool: {
        std::string system_error;
        const ToolRun run = run_account_tool(*path, logout_args(kind), env.home_dir, &system_error);
        error = logout_error(run, system_error);
        break;
      }
    }
  } else {
    error = fill_message(kToolNotInstalled, provider_product_name(provider));
  }

  if (error) {
    engine.send_event(connection, NoteEvent{w, *error});
  } else {
    logout_succeeded(engine, w, connection, provider);
  }
  send_account_note(engine, w, connection, provider);
}

}  // namespace lumaro
