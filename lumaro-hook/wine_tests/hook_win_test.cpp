// The panel DLL in real processes: loading and unloading it many times,
// attaching it to Notepad and releasing it again, the way the host does, and
// its attach limit, deferred detaches and keyboard guard on the frames of
// lumaro-test-windows (LUMARO_TEST_WINDOWS), with this program playing the
// host (hook, attach message, query, detach message) and, for the pipe test,
// the host's pipe server.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/pipe_name.h"
#include "main_window_win.h"
#include "remote_module_win.h"
#include "test_windows_app.h"

namespace lumaro {
namespace {

constexpr LRESULT kAttachedAnswer = 0x5A1D0A11;
constexpr wchar_t kDllName[] = L"lumaro-hook.dll";

using HookProc = LRESULT(CALLBACK*)(int, WPARAM, LPARAM);

ULONGLONG now_ms() { return GetTickCount64(); }

// Polls a condition that belongs to another process (no event to wait on).
bool wait_until(DWORD timeout_ms, const std::function<bool()>& done) {
  const ULONGLONG end = now_ms() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (now_ms() >= end) return false;
    Sleep(10);
  }
}

std::wstring hook_path() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableW(L"LUMARO_TEST_HOOK", buffer, MAX_PATH * 2);
  return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}

UINT msg_attach() { return RegisterWindowMessageW(L"Lumaro.Attach.v1"); }
UINT msg_detach() { return RegisterWindowMessageW(L"Lumaro.Detach.v1"); }
UINT msg_query() { return RegisterWindowMessageW(L"Lumaro.Query.v1"); }

// The answer to the query, or -1 when the call failed or timed out.
LRESULT query(HWND window) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, msg_query(), 0, 0, SMTO_ABORTIFHUNG, 200, &answer)) return -1;
  return static_cast<LRESULT>(answer);
}

bool responsive(HWND window) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) != 0;
}

bool module_loaded_in(DWORD pid) {
  const std::optional<HMODULE> module = test::remote_module(pid, kDllName);
  return !module || *module;  // unknown counts as loaded
}

// A fresh per-user folder for this process and the children it starts, so
// each test reads only its own log files.
std::wstring fresh_data_root(const wchar_t* tag) {
  wchar_t tmp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, tmp);
  LARGE_INTEGER stamp;
  QueryPerformanceCounter(&stamp);
  const std::wstring dir = std::wstring(tmp) + L"lumaro-hook-" + tag + L"-" + std::to_wstring(stamp.QuadPart);
  CreateDirectoryW(dir.c_str(), nullptr);
  SetEnvironmentVariableW(L"LOCALAPPDATA", dir.c_str());
  return dir;
}

std::string read_hook_log(const std::wstring& root, DWORD pid) {
  const std::wstring path = root + L"\\Lumaro\\log\\lumaro-" + std::to_wstring(pid) + L".log";
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

size_t count_of(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}


bool running_on_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}


// Windows drops the reference its hook machinery took on the DLL in the
// target once the hook is removed; Wine's never does when its hook call is
// what mapped the DLL (it loads the hook's module and keeps it for good; a
// DLL already mapped is only borrowed for the call). Playing the host under
// Wine, the test drops that one reference itself, after the panel has taken
// its own, so the DLL's own release is what decides whether it leaves the
// process.
bool drop_wine_hook_reference(HANDLE process, DWORD pid) {
  if (!running_on_wine()) return true;
  HMODULE dll = test::remote_module(pid, kDllName).value_or(nullptr);
  HMODULE remote_kernel = test::remote_module(pid, L"kernel32.dll").value_or(nullptr);
  HMODULE local_kernel = GetModuleHandleW(L"kernel32.dll");
  if (!dll || !remote_kernel || !local_kernel) return false;
  const auto offset = reinterpret_cast<const char*>(GetProcAddress(local_kernel, "FreeLibrary")) -
                      reinterpret_cast<const char*>(local_kernel);
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(reinterpret_cast<char*>(remote_kernel) + offset));
  UniqueHandle thread(CreateRemoteThread(process, nullptr, 0, start, dll, 0, nullptr));
  if (!thread || WaitForSingleObject(thread.get(), 5000) != WAIT_OBJECT_0) return false;
  DWORD freed = 0;
  return GetExitCodeThread(thread.get(), &freed) && freed != 0;
}

// Handle and memory probes. Wine reports neither a handle count nor private
// bytes, so where the system answers 0 the probes measure for themselves:
// the value of a new handle (handles are handed out lowest-free-first, so a
// leaked handle pushes it up) and the committed private pages.
DWORD handle_probe(HANDLE process) {
  DWORD count = 0;
  if (GetProcessHandleCount(process, &count) && count != 0) return count;
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE remote = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), event.get(), process, &remote, 0, FALSE, DUPLICATE_SAME_ACCESS)) return 0;
  DuplicateHandle(process, remote, nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(remote) / 4);
}

size_t private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters) &&
      counters.PrivateUsage != 0) {
    return counters.PrivateUsage;
  }
  size_t committed = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;
       at = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) committed += info.RegionSize;
  }
  return committed;
}

// ---- target processes -------------------------------------------------------

// A target application started by a test, ended if it still runs when the
// test is over. Its windows all live on one GUI thread.
class TargetProcess {
 public:
  TargetProcess() = default;
  TargetProcess(const TargetProcess&) = delete;
  TargetProcess& operator=(const TargetProcess&) = delete;
  ~TargetProcess() {
    if (process_) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 5000);
    }
  }

  DWORD thread() const { return thread_; }
  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_.get(); }

 protected:
  bool launch(std::wstring command) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      return false;
    }
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    pid_ = pi.dwProcessId;
    WaitForInputIdle(process_.get(), 10000);
    return true;
  }

  UniqueHandle process_;
  DWORD pid_ = 0;
  DWORD thread_ = 0;
};

class Notepad : public TargetProcess {
 public:
  bool start() {
    if (!launch(L"notepad.exe")) return false;
    window_ = test::main_window(pid_, 10000, L"Notepad");
    if (!window_) return false;
    thread_ = GetWindowThreadProcessId(window_, nullptr);
    return true;
  }

  // Closes the way a user would; true when the process ended by itself.
  bool close() {
    if (!process_) return true;
    PostMessageW(window_, WM_CLOSE, 0, 0);
    const bool ended = WaitForSingleObject(process_.get(), 10000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process_.get(), 1);
    process_.reset();
    return ended;
  }

  HWND window() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// lumaro-test-windows with N frames and a stand-in panel (a window of the
// panel's class name with a child), whose frames answer the messages of
// test_windows_app.h.
class TestWindows : public TargetProcess {
 public:
  bool start(int frames, const std::wstring& folder) {
    wchar_t exe[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(L"LUMARO_TEST_WINDOWS", exe, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return false;
    const std::wstring list = folder + L"\\windows.txt";
    if (!launch(L"\"" + std::wstring(exe, n) + L"\" --frames " + std::to_wstring(frames) + L" \"" + list + L"\"")) {
      return false;
    }
    std::vector<HWND> windows;
    wait_until(10000, [&] {
      windows = read_handles(list);
      return !windows.empty();
    });
    if (windows.size() != static_cast<size_t>(frames) + 2) return false;
    panel_like_child_ = windows.back();
    windows.pop_back();
    panel_like_ = windows.back();
    windows.pop_back();
    frames_ = std::move(windows);
    thread_ = GetWindowThreadProcessId(frames_.front(), nullptr);
    return true;
  }

  const std::vector<HWND>& frames() const { return frames_; }
  HWND panel_like() const { return panel_like_; }
  HWND panel_like_child() const { return panel_like_child_; }

 private:
  static std::vector<HWND> read_handles(const std::wstring& file) {
    UniqueFile f(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return {};
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(f.get(), buffer, sizeof buffer - 1, &got, nullptr)) return {};
    buffer[got] = 0;
    std::vector<HWND> out;
    for (char* at = buffer; *at;) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(at, &end, 10);
      if (end == at) break;
      out.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(value)));
      at = end + (*end == '\n' ? 1 : 0);
    }
    return out;
  }

  std::vector<HWND> frames_;
  HWND panel_like_ = nullptr;
  HWND panel_like_child_ = nullptr;
};

// Loads the DLL into this process (as the host does) to install its hook.
class HookLibrary {
 public:
  HookLibrary() : module_(LoadLibraryW(hook_path().c_str())) {
    if (module_) proc_ = reinterpret_cast<HookProc>(reinterpret_cast<void*>(GetProcAddress(module_, "lumaro_getmsg_proc")));
  }
  ~HookLibrary() {
    if (module_) FreeLibrary(module_);
  }
  HookLibrary(const HookLibrary&) = delete;
  HookLibrary& operator=(const HookLibrary&) = delete;
  bool valid() const { return module_ && proc_; }

  // Hook, attach messages (`posts` to each window, in order) and wake-up,
  // then waits for `done`; the hook is removed as soon as it has done its
  // work.
  bool attach(const TargetProcess& target, const std::vector<HWND>& windows, const std::function<bool()>& done,
              int posts = 1) {
    const bool mapped_before = module_loaded_in(target.pid());
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, proc_, module_, target.thread());
    if (!hook) return false;
    for (HWND w : windows) {
      for (int i = 0; i < posts; ++i) PostMessageW(w, msg_attach(), 0, 0);
    }
    PostMessageW(windows.front(), WM_NULL, 0, 0);
    const bool ok = wait_until(5000, done);
    UnhookWindowsHookEx(hook);
    return ok && (mapped_before || drop_wine_hook_reference(target.process(), target.pid()));
  }

  bool attach(const Notepad& np, int posts = 1) {
    return attach(np, {np.window()}, [&] { return query(np.window()) == kAttachedAnswer; }, posts);
  }

 private:
  HMODULE module_;
  HookProc proc_ = nullptr;
};

// ---- a stand-in for the host's pipe server --------------------------------------

class TestPipeServer {
 public:
  // Serves the session's pipe name as its only instance.
  bool create() {
    pipe_.reset(CreateNamedPipeW(pipe_name().c_str(),
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                 65536, 65536, 0, nullptr));
    event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    splitter_ = LineSplitter();
    lines_.clear();
    return pipe_.valid() && event_.valid();
  }

  bool wait_for_client(DWORD timeout_ms) {
    OVERLAPPED ov = {};
    ov.hEvent = event_.get();
    if (ConnectNamedPipe(pipe_.get(), &ov)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return true;
    if (error != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(event_.get(), timeout_ms) != WAIT_OBJECT_0) CancelIoEx(pipe_.get(), &ov);
    DWORD ignored = 0;
    return GetOverlappedResult(pipe_.get(), &ov, &ignored, TRUE) != 0;
  }

  // Next complete line, or nothing after the time-out or a broken pipe.
  std::optional<std::string> read_line(DWORD timeout_ms) {
    const ULONGLONG end = now_ms() + timeout_ms;
    while (lines_.empty()) {
      OVERLAPPED ov = {};
      ov.hEvent = event_.get();
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(pipe_.get(), buffer, sizeof buffer, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
        return std::nullopt;
      }
      const ULONGLONG t = now_ms();
      const DWORD left = t >= end ? 0 : static_cast<DWORD>(end - t);
      const bool woke = WaitForSingleObject(event_.get(), left) == WAIT_OBJECT_0;
      if (!woke) CancelIoEx(pipe_.get(), &ov);
      const bool ok = GetOverlappedResult(pipe_.get(), &ov, &got, TRUE) != 0;
      if (ok && got > 0) {
        for (auto& line : splitter_.feed(std::string_view(buffer, got))) lines_.push_back(std::move(line));
      }
      if (!ok || !woke) break;
    }
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

  std::optional<Request> read_request(DWORD timeout_ms) {
    const auto line = read_line(timeout_ms);
    return line ? decode_request(*line) : std::nullopt;
  }

  void close() {
    if (pipe_) DisconnectNamedPipe(pipe_.get());
    pipe_.reset();
  }

 private:
  UniqueFile pipe_;
  UniqueHandle event_;
  LineSplitter splitter_;
  std::deque<std::string> lines_;
};

std::string process_image(HANDLE process) {
  wchar_t buffer[1024];
  DWORD size = 1024;
  if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) return {};
  return to_utf8(std::wstring_view(buffer, size));
}

// ---- tests --------------------------------------------------------------------

TEST(HookDll, ExportsTheHookProcedureByItsPlainName) {
  ASSERT_FALSE(hook_path().empty()) << "LUMARO_TEST_HOOK is not set";
  HMODULE dll = LoadLibraryW(hook_path().c_str());
  ASSERT_NE(dll, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(dll, "lumaro_getmsg_proc"), nullptr);
  FreeLibrary(dll);
  EXPECT_EQ(GetModuleHandleW(kDllName), nullptr);
}

// Loading and unloading must leave nothing behind: the host does it once per
// start, and every target process maps and unmaps the DLL over and over.
TEST(HookDll, TwoThousandLoadsLeaveNoTlsHandlesOrMemoryBehind) {
  const std::wstring path = hook_path();
  auto cycle = [&] {
    HMODULE dll = LoadLibraryW(path.c_str());
    if (!dll) return false;
    auto proc = reinterpret_cast<HookProc>(reinterpret_cast<void*>(GetProcAddress(dll, "lumaro_getmsg_proc")));
    // Harmless messages through the hook: a plain one and an attach
    // message without a window, which must be ignored.
    MSG plain = {};
    plain.message = WM_NULL;
    proc(HC_ACTION, PM_REMOVE, reinterpret_cast<LPARAM>(&plain));
    MSG attach = {};
    attach.message = msg_attach();
    proc(HC_ACTION, PM_REMOVE, reinterpret_cast<LPARAM>(&attach));
    FreeLibrary(dll);
    return GetModuleHandleW(kDllName) == nullptr;
  };
  auto tls_probe = [] {
    const DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
  };
  auto handles = [] { return handle_probe(GetCurrentProcess()); };

  for (int i = 0; i < 20; ++i) ASSERT_TRUE(cycle());  // warm-up: the loader's own caches
  const DWORD tls_before = tls_probe();
  const DWORD handles_before = handles();
  const SIZE_T memory_before = private_bytes();
  const ULONGLONG start = now_ms();
  int unloaded = 0;
  for (int i = 0; i < 2000; ++i) unloaded += cycle() ? 1 : 0;
  const ULONGLONG took = now_ms() - start;
  const DWORD tls_after = tls_probe();
  const DWORD handles_after = handles();
  const SIZE_T memory_after = private_bytes();

  std::printf("2000 cycles in %llu ms; TLS probe %lu -> %lu; handles %lu -> %lu; private bytes %zu -> %zu\n",
              took, tls_before, tls_after, handles_before, handles_after, static_cast<size_t>(memory_before),
              static_cast<size_t>(memory_after));
  EXPECT_EQ(unloaded, 2000);
  EXPECT_EQ(tls_after, tls_before);
  EXPECT_LE(handles_after, handles_before + 2);
  EXPECT_LE(memory_after, memory_before + 512 * 1024);  // under 262 bytes a cycle
}

TEST(HookDll, TwentyAttachReleaseCyclesInOneNotepadUnloadEachTime) {
  const std::wstring root = fresh_data_root(L"cycles");
  HookLibrary library;
  ASSERT_TRUE(library.valid());
  Notepad np;
  ASSERT_TRUE(np.start());

  EXPECT_EQ(query(np.window()), 0) << "a window without a panel answers what the application answers";

  DWORD handles_after_first = 0;
  ULONGLONG slowest_unload = 0;
  ULONGLONG total_unload = 0;
  constexpr int kCycles = 20;
  for (int i = 0; i < kCycles; ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    // Every other cycle posts the attach message twice: the second one
    // must be ignored, or the single release below would not unload.
    ASSERT_TRUE(library.attach(np, i % 2 ? 2 : 1));
    ASSERT_TRUE(module_loaded_in(np.pid())) << "the panel keeps the DLL loaded after the host's unhook";

    ASSERT_TRUE(PostMessageW(np.window(), msg_detach(), 1, 0));
    const ULONGLONG released = now_ms();
    ASSERT_TRUE(wait_until(5000, [&] { return !module_loaded_in(np.pid()); }));
    const ULONGLONG latency = now_ms() - released;
    slowest_unload = std::max(slowest_unload, latency);
    total_unload += latency;

    EXPECT_NE(query(np.window()), kAttachedAnswer);
    EXPECT_TRUE(responsive(np.window()));
    if (i == 0) handles_after_first = handle_probe(np.process());
  }
  const DWORD handles_after_last = handle_probe(np.process());
  std::printf("%d cycles; unload after release: average %llu ms, slowest %llu ms; notepad handles %lu -> %lu\n",
              kCycles, total_unload / kCycles, slowest_unload, handles_after_first, handles_after_last);
  EXPECT_LE(handles_after_last, handles_after_first + 3);

  const std::string log = read_hook_log(root, np.pid());
  EXPECT_EQ(count_of(log, "모듈 참조 잡음"), static_cast<size_t>(kCycles));
  EXPECT_EQ(count_of(log, "모듈 참조 놓음"), static_cast<size_t>(kCycles));
  EXPECT_EQ(count_of(log, "(해제 명령)"), static_cast<size_t>(kCycles));

  EXPECT_TRUE(np.close()) << "Notepad must close normally after the releases";
}

TEST(HookDll, PipeClientAnnouncesAndReconnectsAfterTheHostReturns) {
  // Nobody may serve the session's pipe yet (no resident host running).
  {
    UniqueFile probe(CreateFileW(pipe_name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
    ASSERT_FALSE(probe.valid()) << "another program serves the session pipe; stop the resident host first";
  }
  const std::wstring root = fresh_data_root(L"pipe");
  HookLibrary library;
  ASSERT_TRUE(library.valid());
  Notepad np;
  ASSERT_TRUE(np.start());
  ASSERT_TRUE(library.attach(np));
  const auto w = static_cast<WindowId>(reinterpret_cast<uintptr_t>(np.window()));
  const std::string exe = process_image(np.process());
  wchar_t caption_buffer[512];
  const int caption_units = GetWindowTextW(np.window(), caption_buffer, 512);
  const std::string caption = to_utf8(std::wstring_view(caption_buffer, caption_units > 0 ? caption_units : 0));

  // Host absent: one log line for the whole absence, however many retries.
  ASSERT_TRUE(wait_until(3000, [&] { return count_of(read_hook_log(root, np.pid()), "host 파이프 없음") == 1; }));
  Sleep(3200);  // two more retries at 1.5 s
  EXPECT_EQ(count_of(read_hook_log(root, np.pid()), "host 파이프 없음"), 1u);

  auto expect_handshake = [&](TestPipeServer& server) {
    const auto hello = server.read_request(3000);
    ASSERT_TRUE(hello && std::holds_alternative<HelloRequest>(*hello));
    const auto& h = std::get<HelloRequest>(*hello);
    EXPECT_EQ(h.pid, np.pid());
    EXPECT_EQ(h.bits, sizeof(void*) * 8);
    EXPECT_EQ(h.exe, exe);
    const auto open = server.read_request(3000);
    ASSERT_TRUE(open && std::holds_alternative<OpenRequest>(*open));
    EXPECT_EQ(std::get<OpenRequest>(*open).w, w);
    EXPECT_EQ(std::get<OpenRequest>(*open).title, caption);
  };

  TestPipeServer server;
  ASSERT_TRUE(server.create());
  ULONGLONG served = now_ms();
  ASSERT_TRUE(server.wait_for_client(3000));
  const ULONGLONG first_connect = now_ms() - served;
  expect_handshake(server);

  // The host goes away; the client notices, looks again after its pause,
  // finds nothing (a second "absent" line), and comes back when it returns.
  server.close();
  ASSERT_TRUE(wait_until(4000, [&] { return count_of(read_hook_log(root, np.pid()), "host 파이프 없음") == 2; }));
  EXPECT_EQ(count_of(read_hook_log(root, np.pid()), "host 파이프 끊김"), 1u);
  ASSERT_TRUE(server.create());
  served = now_ms();
  ASSERT_TRUE(server.wait_for_client(3000));
  const ULONGLONG reconnect = now_ms() - served;
  expect_handshake(server);
  std::printf("connected %llu ms after the server appeared; reconnected %llu ms after it returned\n", first_connect,
              reconnect);
  EXPECT_LE(first_connect, 1800u);
  EXPECT_LE(reconnect, 1800u);

  // Release: "close" for the window, then the unload stops the client.
  ASSERT_TRUE(PostMessageW(np.window(), msg_detach(), 1, 0));
  const auto close = server.read_request(3000);
  ASSERT_TRUE(close && std::holds_alternative<CloseRequest>(*close));
  EXPECT_EQ(std::get<CloseRequest>(*close).w, w);
  EXPECT_TRUE(wait_until(5000, [&] { return !module_loaded_in(np.pid()); }));
  EXPECT_FALSE(server.read_line(2000).has_value()) << "the client hung up as the DLL unloaded";
  server.close();

  const std::string log = read_hook_log(root, np.pid());
  EXPECT_EQ(count_of(log, "host 파이프 접속"), 2u);
  EXPECT_EQ(count_of(log, "host 파이프 없음"), 2u) << "no new attempt after the stop";
  EXPECT_EQ(count_of(log, "모듈 참조 놓음"), 1u);
  EXPECT_TRUE(responsive(np.window()));
  EXPECT_TRUE(np.close());
}

// ---- attach limit, deferred detaches, keyboard guard ---------------------------

// A window handle the way the DLL writes it in its log.
std::string hex(HWND w) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
  return buffer;
}

// The frame's answer to one of the test program's own messages, or -1.
LRESULT ask(HWND frame, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(frame, message, wparam, lparam, SMTO_ABORTIFHUNG, 1000, &answer)) return -1;
  return static_cast<LRESULT>(answer);
}

// Returns once the program's loop has taken everything posted so far off its
// queue. Twice, because keys translated on the way post their characters
// behind the first marker.
bool drain(HWND frame) {
  for (int round = 0; round < 2; ++round) {
    const LRESULT seen = ask(frame, test::kMarkersSeen);
    if (seen < 0 || !PostMessageW(frame, test::kMarker, 0, 0)) return false;
    if (!wait_until(3000, [&] { return ask(frame, test::kMarkersSeen) == seen + 1; })) return false;
  }
  return true;
}

TEST(HookLifecycle, SixtyFifthAttachIsRefusedUntilAPanelIsReleased) {
  const std::wstring root = fresh_data_root(L"limit");
  HookLibrary library;
  ASSERT_TRUE(library.valid());
  TestWindows app;
  ASSERT_TRUE(app.start(65, root));
  const std::vector<HWND>& f = app.frames();
  const HWND last = f.back();
  const std::string refused = "붙기 거절(상한 또는 참조 실패) hwnd=" + hex(last);
  auto log = [&] { return read_hook_log(root, app.pid()); };
  auto panels = [&] { return std::count_if(f.begin(), f.end(), [](HWND w) { return query(w) == kAttachedAnswer; }); };

  // The attach messages are taken in order, so the refusal comes last.
  ASSERT_TRUE(library.attach(app, f, [&] { return count_of(log(), refused) == 1; })) << log();
  EXPECT_EQ(panels(), 64);
  EXPECT_NE(query(last), kAttachedAnswer);

  ASSERT_TRUE(PostMessageW(f.front(), msg_detach(), 0, 0));
  ASSERT_TRUE(wait_until(3000, [&] { return query(f.front()) != kAttachedAnswer; }));
  ASSERT_TRUE(library.attach(app, {last}, [&] { return query(last) == kAttachedAnswer; }));
  EXPECT_EQ(panels(), 64);
  EXPECT_EQ(count_of(log(), "붙기 거절"), 1u);

  for (HWND w : f) PostMessageW(w, msg_detach(), 0, 0);
  EXPECT_TRUE(wait_until(5000, [&] { return !module_loaded_in(app.pid()); }));
  const std::string text = log();
  EXPECT_EQ(count_of(text, "(해제 명령)"), 65u);
  EXPECT_EQ(count_of(text, "모듈 참조 잡음"), 1u) << "one reference for the whole time any panel existed";
  EXPECT_EQ(count_of(text, "모듈 참조 놓음"), 1u);
}

// A release asked for while the frame's window procedure is running waits
// until the outermost call returns, then happens once; the module still
// leaves the process afterwards.
TEST(HookLifecycle, ReleaseInsideTheWindowProcedureWaitsForItToReturn) {
  struct Case {
    const char* name;
    UINT trigger;  // posted to the frame
    bool frame_survives;
    std::vector<std::string> lines;  // in order; {} stands for the frame
  };
  const std::vector<Case> cases = {
      {"the frame asks for its own release twice from a handler", test::kAskDetachTwice, true,
       {"해제 미룸 hwnd={} 깊이=2 (해제 명령) 기록=true", "해제 미룸 hwnd={} 깊이=2 (해제 명령) 기록=false",
        "해제 hwnd={} (해제 명령)"}},
      {"the user closes the frame", WM_CLOSE, false,
       {"해제 미룸 hwnd={} 깊이=2 (창 닫힘) 기록=true", "해제 hwnd={} (창 닫힘)"}},
      {"the application destroys the frame from its message loop", test::kDestroyFromLoop, false,
       {"해제 hwnd={} (창 닫힘)"}},
  };
  const std::wstring root = fresh_data_root(L"deferred");
  HookLibrary library;
  ASSERT_TRUE(library.valid());
  TestWindows app;
  ASSERT_TRUE(app.start(static_cast<int>(cases.size()) + 1, root));
  const HWND bystander = app.frames().back();

  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const HWND frame = app.frames()[i];
    ASSERT_TRUE(library.attach(app, {frame}, [&] { return query(frame) == kAttachedAnswer; }));
    ASSERT_TRUE(PostMessageW(frame, c.trigger, 0, 0));
    EXPECT_TRUE(wait_until(5000, [&] { return !module_loaded_in(app.pid()); })) << "the module leaves afterwards";

    const std::string log = read_hook_log(root, app.pid());
    size_t at = 0;
    size_t deferred = 0;
    for (std::string line : c.lines) {
      line.replace(line.find("{}"), 2, hex(frame));
      deferred += line.starts_with("해제 미룸") ? 1 : 0;
      EXPECT_EQ(count_of(log, line), 1u) << line << "\n" << log;
      const size_t found = log.find(line, at);
      EXPECT_NE(found, std::string::npos) << "out of order: " << line;
      if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(count_of(log, "해제 미룸 hwnd=" + hex(frame) + " "), deferred);
    EXPECT_EQ(count_of(log, "해제 hwnd=" + hex(frame) + " "), 1u) << "released exactly once";

    EXPECT_EQ(IsWindow(frame) != FALSE, c.frame_survives);
    if (c.frame_survives) {
      EXPECT_EQ(query(frame), 0);
      EXPECT_GE(ask(frame, test::kMarkersSeen), 0) << "the frame's own procedure still answers";
    }
    EXPECT_TRUE(responsive(bystander));
  }
}

// While a panel exists on the thread, the keys of any window whose root has
// the panel's class go straight to that window and never reach the
// application's own loop (its accelerators and dialog navigation); system
// keys and keys of other windows still do. The guard goes with the last panel.
TEST(HookLifecycle, KeyGuardHidesPanelKeysFromTheApplicationWhilePanelsExist) {
  const std::wstring root = fresh_data_root(L"keys");
  HookLibrary library;
  ASSERT_TRUE(library.valid());
  TestWindows app;
  ASSERT_TRUE(app.start(2, root));
  const HWND first = app.frames()[0];
  const HWND second = app.frames()[1];

  struct Key {
    UINT message;
    WPARAM wparam;
    bool guarded;
  };
  const Key keys[] = {
      {WM_KEYDOWN, 'A', true},  {WM_KEYUP, 'A', true},     {WM_CHAR, 'a', true},
      {WM_DEADCHAR, '^', true}, {WM_SYSKEYDOWN, 'A', false}, {WM_SYSCHAR, 'a', false},
  };
  const HWND panel_windows[] = {app.panel_like(), app.panel_like_child()};

  auto release = [&](HWND frame) {
    ASSERT_TRUE(PostMessageW(frame, msg_detach(), 0, 0));
    ASSERT_TRUE(wait_until(3000, [&] { return query(frame) != kAttachedAnswer; }));
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    bool guard;
  };
  const Step steps[] = {
      {"before any panel", [] {}, false},
      {"two panels on the thread",
       [&] {
         ASSERT_TRUE(library.attach(app, {first, second}, [&] {
           return query(first) == kAttachedAnswer && query(second) == kAttachedAnswer;
         }));
       },
       true},
      {"one of the two released", [&] { release(first); }, true},
      {"the last one released",
       [&] {
         release(second);
         ASSERT_TRUE(wait_until(5000, [&] { return !module_loaded_in(app.pid()); }));
       },
       false},
  };

  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    if (HasFatalFailure()) return;
    // Counts are cumulative; each step looks at what its own keys added.
    auto loop_saw = [&](HWND w, UINT m) { return ask(first, test::kLoopSaw, m, reinterpret_cast<LPARAM>(w)); };
    auto proc_got = [&](HWND w, UINT m) { return ask(first, test::kProcGot, m, reinterpret_cast<LPARAM>(w)); };
    std::vector<std::pair<LRESULT, LRESULT>> before;
    for (HWND w : panel_windows) {
      for (const Key& k : keys) before.emplace_back(loop_saw(w, k.message), proc_got(w, k.message));
    }
    const LRESULT frame_before = loop_saw(second, WM_KEYDOWN);

    for (HWND w : panel_windows) {
      for (const Key& k : keys) PostMessageW(w, k.message, k.wparam, 1);
    }
    PostMessageW(second, WM_KEYDOWN, 'A', 1);
    ASSERT_TRUE(drain(first));

    size_t i = 0;
    for (HWND w : panel_windows) {
      for (const Key& k : keys) {
        SCOPED_TRACE("window " + hex(w) + " message " + std::to_string(k.message));
        const auto [saw, got] = before[i++];
        EXPECT_GT(proc_got(w, k.message), got) << "every key reaches its window";
        const bool hidden = step.guard && k.guarded;
        EXPECT_EQ(loop_saw(w, k.message) == saw, hidden);
      }
    }
    EXPECT_GT(loop_saw(second, WM_KEYDOWN), frame_before) << "keys of other windows are the application's";
  }
  EXPECT_TRUE(responsive(first));
  EXPECT_EQ(count_of(read_hook_log(root, app.pid()), "창 생성 실패"), 0u)
      << "the real panels were made beside the stand-in's class of the same name";
}

}  // namespace
}  // namespace lumaro
