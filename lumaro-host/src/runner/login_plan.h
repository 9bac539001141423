// Logging a provider in and out through its own command-line tool: what to
// run, what to prepare, how the sign-in address is found in the tool's output
// and what the user is told. Pure; the caller starts the processes, reads and
// writes the files and opens the address. Paths are UTF-8 with "\"
// separators.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runner/cli_command.h"
#include "runner/cli_kind.h"

namespace lumaro {

// ---- messages (each "{}" is filled once) ------------------------------------

// Product name (provider_product_name).
inline constexpr char kToolNotInstalled[] = "{} 이 설치되어 있지 않습니다";
// The system's error text.
inline constexpr char kLoginStartFailed[] = "로그인을 시작하지 못했습니다: {}";
// Provider label.
inline constexpr char kLoginStarted[] = "{} 로그인을 시작했습니다. 브라우저에서 로그인을 마치십시오.";
inline constexpr char kAgyLogoutRefused[] = "Gemini(Antigravity) 는 Antigravity 앱에서 로그아웃하십시오";
// The system's error text.
inline constexpr char kLogoutStartFailed[] = "로그아웃하지 못했습니다: {}";
// The tool's trimmed standard error.
inline constexpr char kLogoutFailed[] = "로그아웃 실패 {}";
// Provider label.
inline constexpr char kLoggedOut[] = "{} 에서 로그아웃했습니다";
// The sign-in address, for the browser extension to open.
inline constexpr char kOpenNote[] = "§open:{}";

// Log lines; provider label, and the state's log name where there are two.
inline constexpr char kLogLoginState[] = "로그인 상태 {} {}";
inline constexpr char kLogLoginFinished[] = "로그인 끝 {} {}";
inline constexpr char kLogOpenAddress[] = "로그인 주소 열기 ({})";
inline constexpr char kLogLoggedOut[] = "로그아웃 {}";

// `pattern` with its first "{}" replaced by `value`.
std::string fill_message(std::string_view pattern, std::string_view value);
// The same with two values, for the log lines that name a state.
std::string fill_message(std::string_view pattern, std::string_view first, std::string_view second);

// ---- login -------------------------------------------------------------------

// The question the Gemini tools answer once their login is through.
inline constexpr char kLoginCheckPrompt[] = "로그인 확인입니다. OK 한 단어로만 답하세요.";
// Written to the Gemini CLI's standard input right after the start: the
// answer to its question whether to go on with a browser sign-in.
inline constexpr char kGeminiLoginInput[] = "Y\n";
// How long the Gemini CLI's standard input stays open before it is closed,
// so a tool still waiting for input finishes.
inline constexpr std::chrono::seconds kGeminiInputKeep{330};

struct LoginCommand {
  std::vector<std::string> args;  // after build_cli_command's leading arguments
  std::string working_dir;
  bool stdin_pipe = false;  // false: the null device
  bool operator==(const LoginCommand&) const = default;
};

// `method` counts only for claude: exactly "sso" or "console", anything else
// the claude.ai login.
LoginCommand login_command(CliKind kind, std::string_view method, std::string_view home_dir,
                           std::string_view data_dir);

// The Gemini CLI's settings.json (`old_text`: nothing when it cannot be read)
// with "security" → "auth" → "selectedType" set to "oauth-personal" and
// everything else kept, as the whole new file.
std::string gemini_login_settings(const std::optional<std::string>& old_text);

// The NODE_OPTIONS value for a Gemini CLI login: when the folder of
// `tool_path` holds "inside-hook.cjs", --require "that/file/with/slashes".
std::optional<std::string> gemini_login_node_options(std::string_view tool_path, const PathExists& exists);

// ---- the sign-in address ----------------------------------------------------

// Longest output line looked at; a longer one is dropped unread.
inline constexpr size_t kMaxLoginLine = 524288;

// The address a line offers: from its first "https://" up to the first white
// space. For chatgpt and gemini only addresses that name a sign-in ("auth",
// "login", "oauth", "accounts.") count; for claude every one does. `line` is
// valid UTF-8.
std::optional<std::string> sign_in_address(std::string_view line, int provider);

// Cuts one output stream of a login into lines and hands back the sign-in
// addresses they offer, in order. After a line that is not valid UTF-8 it
// looks at nothing more; the caller keeps reading to the end all the same,
// so the tool never blocks on a full pipe. At most one address per login is
// opened, across both streams: that is the caller's shared flag.
class LoginOutputScanner {
 public:
  explicit LoginOutputScanner(int provider) : provider_(provider) {}

  // Bytes as read from the stream.
  std::vector<std::string> feed(std::string_view bytes);
  // The end of the stream: the last line, if it had no line feed.
  std::vector<std::string> finish();

  bool stopped() const noexcept { return stopped_; }

 private:
  void take_line(std::string_view line, std::vector<std::string>& found);

  int provider_;
  std::string partial_;
  bool overlong_ = false;  // the line being gathered passed kMaxLoginLine
  bool stopped_ = false;
};

// ---- logout ------------------------------------------------------------------

enum class LogoutAction { run_tool, delete_gemini_files, refuse };

LogoutAction logout_action(CliKind kind);
// claude "auth" "logout", chatgpt "logout"; empty for the others. Run with
// working folder home_dir and the null device as input.
std::vector<std::string> logout_args(CliKind kind);

// The error of a finished logout run, nothing on success. `system_error` is
// the system's error text, used when the run could not be started.
std::optional<std::string> logout_error(const ToolRun& run, std::string_view system_error);

}  // namespace lumaro
