// Starting a provider's AI tool for a turn: find it, write the files it
// needs, build a command line that no argument can escape, start it hidden
// with pipes and hand it to the job threads. Every temporary file of a turn
// that fails before its tool starts is deleted here.
#include <windows.h>

#include <atomic>

#include "base/file_win.h"
#include "base/text_win.h"
#include "paths/user_paths.h"
#include "providers/catalogue.h"
#include "runner/account_tools_win.h"
#include "runner/cli_args.h"
#include "runner/cli_command.h"
#include "runner/login_plan.h"
#include "runner/tool_env_win.h"
#include "runner/turn_job_win.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

int64_t unix_time_ms() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t t = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (t - 116444736000000000LL) / 10000;
}

std::optional<std::string> write_turn_file(const TurnFile& file) {
  const std::wstring path = to_wide(file.path);
  if (file.create_parent) create_directories(path.substr(0, path.find_last_of(L"\\/")));
  return write_whole_file(path, file.contents);
}

void delete_temporary(const std::vector<TurnFile>& files) {
  for (const auto& f : files) {
    if (f.temporary) DeleteFileW(to_wide(f.path).c_str());
  }
}

ExistingFile read_existing(const std::string& path) {
  const std::wstring wide = to_wide(path);
  if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  auto text = read_small_file(wide, 16u << 20);
  if (!text) return {ExistingFile::State::unreadable, {}};
  return {ExistingFile::State::read, std::move(*text)};
}

}  // namespace

std::variant<JobHandle, std::string> start_cli_job(ChatEngine& engine, TurnRequest request) {
  const int p = request.reply.provider;
  const CliEnvironment env = current_cli_environment();
  const auto path = find_cli(p, env, path_exists);
  if (!path) return fill_message(kToolNotInstalled, provider_product_name(p));
  const CliKind kind = cli_kind(p, *path);

  TurnInputs inputs;
  inputs.host_pid = GetCurrentProcessId();
  inputs.now_ms = unix_time_ms();
  static std::atomic<uint64_t> turns{0};
  inputs.turn_number = ++turns;
  inputs.temp_dir = system_temp_dir();
  inputs.home_dir = env.home_dir;
  if (kind == CliKind::Agy && request.connector) inputs.agy_mcp_config = read_existing(agy_mcp_config_path(env.home_dir));

  auto planned = build_turn_invocation(kind, request, inputs);
  if (auto* message = std::get_if<std::string>(&planned)) return *message;
  TurnInvocation invocation = std::get<TurnInvocation>(std::move(planned));
  if (auto error = write_turn_files(invocation, write_turn_file)) {
    delete_temporary(invocation.files);
    return *error;
  }

  auto prepared = tool_launch(*path, invocation.args, env.home_dir);
  if (auto* message = std::get_if<std::string>(&prepared)) {
    delete_temporary(invocation.files);
    return std::string(provider_label(p)) + " 를 실행하지 못했습니다: " + *message;
  }
  ChildSpec launch = std::get<ChildSpec>(std::move(prepared));
  for (const auto& [name, value] : invocation.env) launch.env.emplace_back(to_wide(name), to_wide(value));
  launch.stdin_pipe = invocation.stdin_text.has_value();
  launch.own_job = true;

  auto started = start_child(launch);
  if (auto* code = std::get_if<DWORD>(&started)) {
    delete_temporary(invocation.files);
    return std::string(provider_label(p)) + " 를 실행하지 못했습니다: " + system_error_text(*code);
  }

  TurnJob job;
  job.reply = request.reply;
  job.kind = kind;
  job.effort = invocation.effort;
  job.resume_id = request.resume_id;
  for (const auto& f : invocation.files) {
    if (f.temporary) job.temp_files.push_back(to_wide(f.path));
  }
  job.stdin_text = std::move(invocation.stdin_text);
  return launch_turn_job(engine, std::move(job), std::get<Child>(std::move(started)));
}

}  // namespace lumaro
