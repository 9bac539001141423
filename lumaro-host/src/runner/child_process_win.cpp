#include "runner/child_process_win.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/thread_win.h"

namespace lumaro {
namespace {

constexpr size_t kMaxCapturedBytes = 16u << 20;

// Our environment with `changes` applied (names compared without case, as
// Windows does), as a block for CreateProcessW.
std::wstring environment_block(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
  std::vector<std::wstring> entries;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; p && *p; p += wcslen(p) + 1) {
    std::wstring entry(p);
    const size_t eq = entry.find(L'=', 1);  // "=C:=C:\x" entries start with '='
    const std::wstring name = entry.substr(0, eq);
    bool replaced = false;
    for (const auto& [n, v] : changes) replaced = replaced || _wcsicmp(n.c_str(), name.c_str()) == 0;
    if (!replaced) entries.push_back(std::move(entry));
  }
  if (env) FreeEnvironmentStringsW(env);
  for (const auto& [n, v] : changes) entries.push_back(n + L"=" + v);
  std::wstring block;
  for (const auto& e : entries) {
    block += e;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

bool make_pipe(UniqueFile& read_end, UniqueFile& write_end, bool child_reads) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, &sa, 0)) return false;
  read_end.reset(r);
  write_end.reset(w);
  // Only the child's end stays inheritable.
  SetHandleInformation(child_reads ? w : r, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// A job that ends all its processes when its last handle closes, or nothing.
UniqueHandle kill_on_close_job() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) job.reset();
  return job;
}

}  // namespace

std::variant<Child, DWORD> start_child(const ChildSpec& launch) {
  Child child;
  UniqueFile child_stdin, child_stdout, child_stderr;
  if (launch.stdin_pipe) {
    if (!make_pipe(child_stdin, child.stdin_write, true)) return GetLastError();
  } else {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    child_stdin.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
    if (!child_stdin) return GetLastError();
  }
  if (!make_pipe(child.stdout_read, child_stdout, false)) return GetLastError();
  if (!make_pipe(child.stderr_read, child_stderr, false)) return GetLastError();

  HANDLE inherit[] = {child_stdin.get(), child_stdout.get(), child_stderr.get()};
  SIZE_T attr_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attr_size);
  auto attr_storage = std::make_unique<unsigned char[]>(attr_size);
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_storage.get());
  if (!InitializeProcThreadAttributeList(attrs, 1, 0, &attr_size)) return GetLastError();
  const bool listed = UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit, sizeof inherit,
                                                nullptr, nullptr);

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = child_stdin.get();
  si.StartupInfo.hStdOutput = child_stdout.get();
  si.StartupInfo.hStdError = child_stderr.get();

  // The child starts suspended until it is in its job, so nothing it starts
  // can escape the job.
  UniqueHandle job = launch.own_job ? kill_on_close_job() : UniqueHandle();
  std::wstring env = environment_block(launch.env);
  std::wstring cmd = launch.command_line;
  PROCESS_INFORMATION pi{};
  const DWORD flags = launch.creation_flags | CREATE_UNICODE_ENVIRONMENT | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0) |
                      (job ? CREATE_SUSPENDED : 0);
  const BOOL ok = CreateProcessW(launch.application.empty() ? nullptr : launch.application.c_str(), cmd.data(), nullptr,
                                 nullptr, TRUE, flags, env.data(),
                                 launch.working_dir.empty() ? nullptr : launch.working_dir.c_str(),
                                 &si.StartupInfo, &pi);
  const DWORD error = GetLastError();
  DeleteProcThreadAttributeList(attrs);
  if (!ok) return error;
  child.process.reset(pi.hProcess);
  UniqueHandle thread(pi.hThread);
  if (job) {
    if (AssignProcessToJobObject(job.get(), pi.hProcess)) child.job = std::move(job);
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
      const DWORD resume_error = GetLastError();
      TerminateProcess(pi.hProcess, 1);
      return resume_error;
    }
  }
  return child;  // the child's ends close here, in this process
}

void write_all_and_close(UniqueFile pipe, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(pipe.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) break;
    done += wrote;
  }
}

std::string read_all(HANDLE pipe, size_t max_bytes) {
  std::string out;
  char buf[8192];
  DWORD got = 0;
  while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) {
    if (out.size() < max_bytes) out.append(buf, std::min<size_t>(got, max_bytes - out.size()));
  }
  return out;
}

ToolRun run_to_end(const ChildSpec& launch, const std::optional<std::string>& stdin_text, DWORD* start_error,
                   DWORD limit_ms) {
  ChildSpec s = launch;
  s.stdin_pipe = stdin_text.has_value();
  s.own_job = true;
  auto started = start_child(s);
  ToolRun run;
  auto* child = std::get_if<Child>(&started);
  if (!child) {
    if (start_error) *start_error = std::get<DWORD>(started);
    return run;
  }
  run.started = true;
  // Without the watchdog (no thread to be had) the run has no limit.
  std::atomic<bool> timed_out{false};
  const HANDLE process = child->process.get(), job = child->job.get();
  UniqueHandle watchdog = start_thread([process, job, limit_ms, &timed_out] {
    const bool late = WaitForSingleObject(process, limit_ms) == WAIT_TIMEOUT;
    timed_out = late;
    if (job) TerminateJobObject(job, 1);
    else if (late) TerminateProcess(process, 1);
  });
  // Both pipes must be read at once, or a tool that fills one blocks forever.
  std::string err;
  HANDLE stderr_pipe = child->stderr_read.get();
  UniqueHandle err_thread = start_thread([&err, stderr_pipe] { err = read_all(stderr_pipe, kMaxCapturedBytes); });
  UniqueHandle in_thread;
  if (stdin_text) {
    in_thread = start_thread([pipe = std::make_shared<UniqueFile>(std::move(child->stdin_write)), text = *stdin_text] {
      write_all_and_close(std::move(*pipe), text);
    });
  }
  run.out = read_all(child->stdout_read.get(), kMaxCapturedBytes);
  if (!err_thread) err = read_all(stderr_pipe, kMaxCapturedBytes);
  WaitForSingleObject(err_thread.get(), INFINITE);
  if (in_thread) WaitForSingleObject(in_thread.get(), INFINITE);
  WaitForSingleObject(child->process.get(), INFINITE);
  if (watchdog) WaitForSingleObject(watchdog.get(), INFINITE);
  run.timed_out = timed_out;
  DWORD code = 0;
  GetExitCodeProcess(child->process.get(), &code);
  run.exit_code = code;
  run.err = std::move(err);
  return run;
}

}  // namespace lumaro
