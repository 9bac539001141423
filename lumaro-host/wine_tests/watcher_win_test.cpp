// The watcher, the helper host and the panel commands with the real
// lumaro-host.exe (LUMARO_TEST_HOST), Wine's Notepad and small test programs
// (LUMARO_TEST_WINDOWS) whose windows live in processes of their own. Every
// host gets a private LOCALAPPDATA, so its log and target list are the
// test's. Tests run one after another: one resident host per session.
// Tests that need a panel are skipped while lumaro-hook.dll is not beside
// the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "paths/user_paths.h"
#include "test_process_win.h"
#include "main_window_win.h"
#include "remote_module_win.h"

namespace lumaro {
namespace {

constexpr DWORD kWaitMs = 20000;
constexpr LRESULT kAck = 0x5A1D0A11;

std::wstring env_path(const wchar_t* name) { return read_env(name).value_or(L""); }
std::wstring host_exe() { return env_path(L"LUMARO_TEST_HOST"); }
std::wstring windows_exe() { return env_path(L"LUMARO_TEST_WINDOWS"); }
std::wstring folder_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }
bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool hook_library_present() { return exists(folder_of(host_exe()) + L"\\lumaro-hook.dll"); }
std::string hex(HWND w) {
  char buf[24];
  snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
  return buf;
}

// A started process; one still running when its owner goes is ended, so no
// test leaves windows or hosts behind for the next.
struct Process : TestProcess {
  Process() = default;
  explicit Process(TestProcess started) : TestProcess(std::move(started)) {}
  Process(Process&&) = default;
  Process& operator=(Process&&) = default;
  ~Process() { kill(); }
  void kill() {
    if (process && !wait(0)) {
      TerminateProcess(process.get(), 9);
      wait(5000);
    }
  }
};

// A scratch data folder with its own target list; every process started
// through it sees it as LOCALAPPDATA.
class Sandbox {
 public:
  explicit Sandbox(const std::string& targets = "") : data_(fresh_dir(L"lumaro-watch-")) {
    CreateDirectoryW((data_ + L"\\Lumaro").c_str(), nullptr);
    if (!targets.empty()) {
      EXPECT_FALSE(write_whole_file(data_ + L"\\Lumaro\\targets.txt", targets));
    }
  }
  const std::wstring& dir() const { return data_; }

  Process start(const std::wstring& exe, const std::wstring& args) const {
    std::wstring block = environment_block({{L"LOCALAPPDATA", data_}, {L"LUMARO_MOCK", L"1"}});
    Process p(start_process(exe, args, &block));
    if (!p.process) ADD_FAILURE() << "cannot start " << to_utf8(exe) << ": " << GetLastError();
    return p;
  }

  // Runs a short host command to its end; its exit code, or ~0 on a hang.
  DWORD run(const std::wstring& exe, const std::wstring& args, DWORD* pid = nullptr) const {
    Process p = start(exe, args);
    if (pid) *pid = p.pid;
    if (!p.process || !p.wait(kWaitMs)) {
      p.kill();
      return ~0u;
    }
    return p.exit_code();
  }

  std::string log(DWORD pid) const {
    return read_small_file(data_ + L"\\Lumaro\\log\\lumaro-" + std::to_wstring(pid) + L".log", 16u << 20)
        .value_or("");
  }
  bool wait_for_log(DWORD pid, const std::string& text, DWORD ms = kWaitMs) const {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      if (log(pid).find(text) != std::string::npos) return true;
      Sleep(20);
    }
    return false;
  }

 private:
  std::wstring data_;
};

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Handles a test-windows program wrote to its file.
std::vector<HWND> read_handles(const std::wstring& file) {
  const ULONGLONG end = GetTickCount64() + kWaitMs;
  while (GetTickCount64() < end) {
    if (auto text = read_small_file(file, 4096)) {
      std::vector<HWND> out;
      size_t at = 0;
      while (at < text->size()) {
        const size_t nl = text->find('\n', at);
        out.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(text->substr(at, nl - at)))));
        at = nl + 1;
      }
      return out;
    }
    Sleep(20);
  }
  ADD_FAILURE() << "no window list in " << to_utf8(file);
  return {};
}

bool answers(HWND w, DWORD ms = 200) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(w, RegisterWindowMessageW(L"Lumaro.Query.v1"), 0, 0, SMTO_ABORTIFHUNG, ms, &result) &&
         static_cast<LRESULT>(result) == kAck;
}

bool module_loaded(DWORD pid, const wchar_t* name) {
  return test::remote_module(pid, name).value_or(nullptr) != nullptr;
}

HWND main_window(DWORD pid) { return test::main_window(pid, kWaitMs); }

// The UTC time of a log line ("2026-03-01 09:15:02.042 [host x64] …") that
// contains `text`, as FILETIME units.
std::optional<int64_t> log_time(const std::string& log, const std::string& text) {
  const size_t at = log.find(text);
  if (at == std::string::npos) return std::nullopt;
  const size_t start = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
  SYSTEMTIME st{};
  unsigned y, mo, d, h, mi, s, ms;
  if (sscanf(log.c_str() + start, "%u-%u-%u %u:%u:%u.%u", &y, &mo, &d, &h, &mi, &s, &ms) != 7) return std::nullopt;
  st = {static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
        static_cast<WORD>(mi), static_cast<WORD>(s), static_cast<WORD>(ms)};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int64_t now_filetime() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  return (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// A copy of the host in a folder without the hook library.
std::wstring lone_host(const std::wstring& dir) {
  CreateDirectoryW((dir + L"\\x64").c_str(), nullptr);
  const std::wstring copy = dir + L"\\x64\\lumaro-host.exe";
  EXPECT_TRUE(CopyFileW(host_exe().c_str(), copy.c_str(), FALSE));
  return copy;
}

void quit_host(const Sandbox& box, const std::wstring& exe, Process& host) {
  EXPECT_EQ(box.run(exe, L"--quit"), 0u);
  EXPECT_TRUE(host.wait(kWaitMs));
}

class Watcher : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(host_exe().empty()) << "LUMARO_TEST_HOST is not set";
    ASSERT_FALSE(windows_exe().empty()) << "LUMARO_TEST_WINDOWS is not set";
  }
};

TEST_F(Watcher, OnlyApplicationFramesOfListedProgramsAreTried) {
  // No hook library beside this host: the attempt fails for good, but the
  // detection line shows exactly which windows the watcher took.
  Sandbox box("lumaro-test-windows.exe\nwinword.exe\n");
  const std::wstring host_path = lone_host(box.dir());
  const std::wstring word = box.dir() + L"\\winword.exe";
  ASSERT_TRUE(CopyFileW(windows_exe().c_str(), word.c_str(), FALSE));

  Process kinds = box.start(windows_exe(), L"--kinds \"" + box.dir() + L"\\kinds.txt\"");
  Process office = box.start(word, L"--kinds \"" + box.dir() + L"\\word.txt\"");
  const std::vector<HWND> k = read_handles(box.dir() + L"\\kinds.txt");
  const std::vector<HWND> w = read_handles(box.dir() + L"\\word.txt");
  ASSERT_EQ(k.size(), 5u);
  ASSERT_EQ(w.size(), 5u);

  Process host = box.start(host_path, L"");
  ASSERT_TRUE(box.wait_for_log(host.pid, "주입 불가 hwnd=" + hex(k[0]) + ". hook DLL 없음")) << box.log(host.pid);
  // Showing the other windows again gives the watcher fresh events for them.
  for (HWND x : {k[1], k[2], k[3], k[4], w[0]}) {
    ShowWindow(x, SW_HIDE);
    ShowWindow(x, SW_SHOWNOACTIVATE);
  }
  Sleep(1500);
  const std::string log = box.log(host.pid);
  EXPECT_NE(log.find("hook DLL 로드 실패 " + to_utf8(box.dir()) + "\\x64\\lumaro-hook.dll 오류 "), std::string::npos)
      << log;
  EXPECT_NE(log.find("대상 창 감지 hwnd=" + hex(k[0]) + " pid=" + std::to_string(kinds.pid) + " tid="),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("lumaro-test-windows.exe 시도 1\r\n"), std::string::npos) << log;
  EXPECT_EQ(count(log, "대상 창 감지"), 1u) << "tool window, owned dialog, small window, child, Word: " << log;
  EXPECT_EQ(count(log, "주입 불가"), 1u) << "given up windows are not tried again: " << log;

  quit_host(box, host_path, host);
}

TEST_F(Watcher, HelperArgumentsAndMissingLibrary) {
  Sandbox box;
  const std::wstring host_path = lone_host(box.dir());
  EXPECT_EQ(box.run(host_path, L"--helper"), 1u);
  EXPECT_EQ(box.run(host_path, L"--helper --hwnd 0x10"), 1u);
  DWORD pid = 0;
  EXPECT_EQ(box.run(host_path, L"--helper --hwnd +123", &pid), 1u);
  EXPECT_NE(box.log(pid).find("hook DLL 로드 실패 "), std::string::npos) << box.log(pid);
}

TEST_F(Watcher, ToggleAndReleaseWithNoPanels) {
  Sandbox box;
  DWORD pid = 0;
  EXPECT_EQ(box.run(host_exe(), L"--toggle", &pid), 0u);
  EXPECT_NE(box.log(pid).find("전환 명령 0개 창"), std::string::npos) << box.log(pid);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(box.run(host_exe(), L"--release", &pid), 0u);
  const ULONGLONG took = GetTickCount64() - start;
  const std::string log = box.log(pid);
  EXPECT_NE(log.find("해제 명령 0개 창"), std::string::npos) << log;
  EXPECT_EQ(log.find("해제 안 된 창"), std::string::npos) << log;
  EXPECT_EQ(log.find("lumaro-hook.dll"), std::string::npos) << log;
  EXPECT_GE(took, 1200u);
  EXPECT_LT(took, 5000u);
}

// The release's module line for the process agrees with a module snapshot,
// and the library let go of its own reference. (Wine keeps a hook library
// mapped in the hooked process after the hook is removed, where Windows
// unmaps it, so under Wine the line may say it is still there.)
void expect_module_verdict(const Sandbox& box, const std::string& release_log, DWORD pid) {
  EXPECT_NE(box.log(pid).find("모듈 참조 놓음"), std::string::npos) << box.log(pid);
  const std::string line = "pid=" + std::to_string(pid) + " lumaro-hook.dll ";
  const bool gone = release_log.find(line + "내려감 확인") != std::string::npos;
  const bool still = release_log.find(line + "아직 올라 있음") != std::string::npos;
  EXPECT_NE(gone, still) << release_log;
  EXPECT_EQ(module_loaded(pid, L"lumaro-hook.dll"), still);
  if (still) std::printf("note: pid %lu keeps lumaro-hook.dll mapped after its panel left\n", pid);
}

class WithPanels : public Watcher {
 protected:
  void SetUp() override {
    Watcher::SetUp();
    if (!hook_library_present()) GTEST_SKIP() << "lumaro-hook.dll is not beside the host yet";
  }
};

TEST_F(WithPanels, NotepadLifecycle) {
  Sandbox box;
  // Three Notepads, there before the host: Wine 8 reports no window events of
  // other processes, so the host's start-up enumeration is what finds them.
  Process pads[3];
  HWND windows[3];
  for (int i = 0; i < 3; ++i) {
    pads[i] = box.start(L"notepad.exe", L"");
    windows[i] = main_window(pads[i].pid);
    ASSERT_TRUE(windows[i]);
  }
  Process host = box.start(host_exe(), L"");
  // Each is hooked and confirmed; the time from its detection line to the
  // first answer of the query is the attach latency.
  int64_t answered[3] = {0, 0, 0};
  const ULONGLONG end = GetTickCount64() + kWaitMs;
  while (GetTickCount64() < end && std::count(std::begin(answered), std::end(answered), 0) > 0) {
    for (int i = 0; i < 3; ++i) {
      if (!answered[i] && answers(windows[i], 50)) answered[i] = now_filetime();
    }
    Sleep(2);
  }
  std::vector<double> latencies;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(answered[i]) << box.log(host.pid);
    const std::string detect = "대상 창 감지 hwnd=" + hex(windows[i]) + " pid=" + std::to_string(pads[i].pid);
    ASSERT_TRUE(box.wait_for_log(host.pid, "붙음 확인 hwnd=" + hex(windows[i]) + "\r\n")) << box.log(host.pid);
    const std::string log = box.log(host.pid);
    const size_t at = log.find(detect);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("\r\n", at), log.find("notepad.exe 시도 1\r\n", at) + strlen("notepad.exe 시도 1")) << log;
    if (auto seen = log_time(log, detect)) latencies.push_back((answered[i] - *seen) / 10000.0);
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::printf("attach latency ms (detection line to first answer):");
    for (double l : latencies) std::printf(" %.1f", l);
    std::printf("; median %.1f\n", latencies[latencies.size() / 2]);
  }

  // Activating a window again does not inject twice.
  SetForegroundWindow(windows[0]);
  ShowWindow(windows[0], SW_MINIMIZE);
  ShowWindow(windows[0], SW_RESTORE);
  Sleep(1000);
  EXPECT_EQ(count(box.log(host.pid), "대상 창 감지 hwnd=" + hex(windows[0]) + " "), 1u) << box.log(host.pid);

  // A new host (the first one gone without releasing) finds the panels there.
  host.kill();
  Process second = box.start(host_exe(), L"");
  ASSERT_TRUE(box.wait_for_log(second.pid, "대상 목록"));
  Sleep(1500);
  EXPECT_EQ(box.log(second.pid).find("대상 창 감지"), std::string::npos) << box.log(second.pid);
  for (HWND w : windows) EXPECT_TRUE(answers(w));

  // Toggle reaches every attached window.
  DWORD pid = 0;
  EXPECT_EQ(box.run(host_exe(), L"--toggle", &pid), 0u);
  EXPECT_NE(box.log(pid).find("전환 명령 3개 창"), std::string::npos) << box.log(pid);

  // Closing a Notepad detaches its panel inside it.
  PostMessageW(windows[2], WM_CLOSE, 0, 0);
  ASSERT_TRUE(pads[2].wait(kWaitMs));
  // (The library may log the detach as deferred: the process can end first.)
  EXPECT_NE(box.log(pads[2].pid).find("hwnd=" + hex(windows[2]) + " "), std::string::npos) << box.log(pads[2].pid);
  EXPECT_NE(box.log(pads[2].pid).find("(창 닫힘)"), std::string::npos) << box.log(pads[2].pid);

  // "--quit" ends the host, whose orderly stop releases the panels; the
  // release that follows finds none left.
  DWORD quit_pid = 0;
  EXPECT_EQ(box.run(host_exe(), L"--quit", &quit_pid), 0u);
  EXPECT_TRUE(second.wait(kWaitMs));
  const std::string quit = box.log(quit_pid);
  EXPECT_LT(quit.find("종료 요청 host 1개"), quit.find("해제 명령 0개 창")) << quit;
  const std::string stop = box.log(second.pid);
  EXPECT_LT(stop.find("종료 요청\r\n"), stop.find("해제 명령 2개 창")) << stop;
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(answers(windows[i]));
    expect_module_verdict(box, stop, pads[i].pid);
  }
}

TEST_F(WithPanels, ReleaseDetachesAndTheLibraryLeaves) {
  Sandbox box;
  Process pad = box.start(L"notepad.exe", L"");
  HWND w = main_window(pad.pid);
  ASSERT_TRUE(w);
  // The helper on a window of its own bitness: hooks, confirms, ends with 0.
  DWORD pid = 0;
  const std::wstring arg = L"--helper --hwnd " + std::to_wstring(reinterpret_cast<uintptr_t>(w));
  EXPECT_EQ(box.run(host_exe(), arg, &pid), 0u);
  EXPECT_NE(box.log(pid).find("보조 host. hwnd=" + hex(w) + " 붙음 확인"), std::string::npos) << box.log(pid);
  EXPECT_TRUE(answers(w));
  EXPECT_TRUE(module_loaded(pad.pid, L"lumaro-hook.dll"));
  // Already attached: 0 at once, nothing hooked.
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(box.run(host_exe(), arg, &pid), 0u);
  EXPECT_LT(GetTickCount64() - start, 3000u);
  EXPECT_EQ(box.log(pid).find("보조 host."), std::string::npos) << box.log(pid);

  EXPECT_EQ(box.run(host_exe(), L"--release", &pid), 0u);
  const std::string log = box.log(pid);
  EXPECT_NE(log.find("해제 명령 1개 창"), std::string::npos) << log;
  EXPECT_FALSE(answers(w));
  expect_module_verdict(box, log, pad.pid);

  // A window that is gone.
  PostMessageW(w, WM_CLOSE, 0, 0);
  ASSERT_TRUE(pad.wait(kWaitMs));
  EXPECT_EQ(box.run(host_exe(), arg, &pid), 1u);
  EXPECT_NE(box.log(pid).find("보조 host. 창 없음 " + hex(w)), std::string::npos) << box.log(pid);
}

TEST_F(WithPanels, ATargetThatNeverAnswersGetsThreeAttempts) {
  Sandbox box("lumaro-test-windows.exe\n");
  Process deaf = box.start(windows_exe(), L"--deaf \"" + box.dir() + L"\\deaf.txt\"");
  const std::vector<HWND> w = read_handles(box.dir() + L"\\deaf.txt");
  ASSERT_EQ(w.size(), 1u);
  Process host = box.start(host_exe(), L"");
  const std::string third = "붙기 실패 hwnd=" + hex(w[0]) + " 시도 3 보조 종료코드 None";
  ASSERT_TRUE(box.wait_for_log(host.pid, third, 30000)) << box.log(host.pid);
  ShowWindow(w[0], SW_HIDE);
  ShowWindow(w[0], SW_SHOW);
  Sleep(1500);
  const std::string log = box.log(host.pid);
  EXPECT_EQ(count(log, "대상 창 감지 hwnd=" + hex(w[0]) + " "), 3u) << log;
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NE(log.find(" 시도 " + std::to_string(i) + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("붙기 실패 hwnd=" + hex(w[0]) + " 시도 " + std::to_string(i) + " 보조 종료코드 None"),
              std::string::npos)
        << log;
  }
  quit_host(box, host_exe(), host);
}

}  // namespace
}  // namespace lumaro
