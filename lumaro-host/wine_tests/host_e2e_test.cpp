// End-to-end: the real lumaro-host.exe as a resident host in mock mode, with
// a private data folder, and test clients on the session's pipe. The host's
// path comes from LUMARO_TEST_HOST. Tests run one after another: there is one
// resident host per session and bitness.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/pipe_name.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

constexpr DWORD kWaitMs = 15000;

std::wstring host_exe() { return read_env(L"LUMARO_TEST_HOST").value_or(L""); }

std::wstring fresh_dir() {
  wchar_t tmp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, tmp);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::wstring dir = std::wstring(tmp) + L"lumaro-e2e-" + std::to_wstring(now.QuadPart);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

// A started lumaro-host process with its own LOCALAPPDATA.
struct HostProcess {
  UniqueHandle process;
  DWORD pid = 0;
  DWORD exit_code() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &code);
    return code;
  }
  bool wait(DWORD ms) const { return WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0; }
};

HostProcess start_host(const std::wstring& local_app_data, const std::wstring& args = L"") {
  // Environment: ours, with LOCALAPPDATA replaced and mock mode on.
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    std::wstring entry(p);
    if (_wcsnicmp(p, L"LOCALAPPDATA=", 13) == 0 || _wcsnicmp(p, L"LUMARO_MOCK=", 12) == 0) continue;
    block += entry;
    block.push_back(L'\0');
  }
  FreeEnvironmentStringsW(env);
  block += L"LOCALAPPDATA=" + local_app_data;
  block.push_back(L'\0');
  block += L"LUMARO_MOCK=1";
  block.push_back(L'\0');
  block.push_back(L'\0');

  std::wstring cmd = L"\"" + host_exe() + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  HostProcess host;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                      nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << to_utf8(host_exe()) << ": " << GetLastError();
    return host;
  }
  CloseHandle(pi.hThread);
  host.process.reset(pi.hProcess);
  host.pid = pi.dwProcessId;
  return host;
}

std::string host_log(const std::wstring& local_app_data, DWORD pid) {
  return read_small_file(local_app_data + L"\\Lumaro\\log\\lumaro-" + std::to_wstring(pid) + L".log", 16u << 20)
      .value_or("");
}

// Waits until the host's log holds `text` (the log is how we see the host's steps).
bool wait_for_log(const std::wstring& local_app_data, DWORD pid, const std::string& text, DWORD ms = kWaitMs) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    if (host_log(local_app_data, pid).find(text) != std::string::npos) return true;
    Sleep(50);
  }
  return false;
}

// One pipe client with its own read buffer.
class Client {
 public:
  bool connect(DWORD ms = kWaitMs) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      pipe_.reset(CreateFileW(pipe_name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
      if (pipe_) return true;
      Sleep(50);
    }
    return false;
  }
  bool send(const Request& r) { return write_raw(encode(r) + "\n"); }
  bool write_raw(const std::string& bytes) {
    OVERLAPPED ov{};
    UniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = ev.get();
    DWORD n = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    return GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) && n == bytes.size();
  }
  // The next event, or nothing after `ms` or when the pipe ends.
  std::optional<Event> next(DWORD ms = kWaitMs) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (pending_.empty()) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end || !read_some(static_cast<DWORD>(end - now))) return std::nullopt;
    }
    auto line = pending_.front();
    pending_.erase(pending_.begin());
    auto event = decode_event(line);
    EXPECT_TRUE(event) << line;
    return event;
  }
  // Skips events until one of type T arrives.
  template <typename T>
  std::optional<T> next_of(DWORD ms = kWaitMs) {
    while (auto e = next(ms)) {
      if (auto* t = std::get_if<T>(&*e)) return *t;
    }
    return std::nullopt;
  }
  // True when the host closed this pipe.
  bool closed_by_host(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      if (!read_some(100) && eof_) return true;
    }
    return false;
  }
  void close() { pipe_.reset(); }

 private:
  bool read_some(DWORD ms) {
    char buf[16384];
    OVERLAPPED ov{};
    UniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = ev.get();
    DWORD n = 0;
    if (!ReadFile(pipe_.get(), buf, sizeof buf, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
      eof_ = true;
      return false;
    }
    if (WaitForSingleObject(ev.get(), ms) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &ov);
      GetOverlappedResult(pipe_.get(), &ov, &n, TRUE);
      if (n == 0) return false;
    } else if (!GetOverlappedResult(pipe_.get(), &ov, &n, FALSE)) {
      eof_ = true;
      return false;
    }
    for (auto& line : splitter_.feed(std::string_view(buf, n))) pending_.push_back(std::move(line));
    return true;
  }

  UniqueFile pipe_;
  LineSplitter splitter_;
  std::vector<std::string> pending_;
  bool eof_ = false;
};

class HostE2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(host_exe().empty()) << "LUMARO_TEST_HOST is not set";
    data = fresh_dir();
    host = start_host(data);
    ASSERT_TRUE(host.process);
    ASSERT_TRUE(wait_for_log(data, host.pid, "파이프 서버 ")) << host_log(data, host.pid);
  }
  void TearDown() override {
    if (host.process && !host.wait(0)) {
      run_host_command(L"--quit");
      if (!host.wait(10000)) TerminateProcess(host.process.get(), 9);
    }
  }
  DWORD run_host_command(const std::wstring& args, DWORD* pid = nullptr) {
    HostProcess p = start_host(data, args);
    if (pid) *pid = p.pid;
    if (!p.process || !p.wait(kWaitMs)) return 0xFFFFFFFF;
    return p.exit_code();
  }
  // hello + open for a Notepad panel; returns after its "conn".
  void open_notepad(Client& c, WindowId w) {
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.send(HelloRequest{GetCurrentProcessId(), 64, "C:\\windows\\system32\\notepad.exe"}));
    ASSERT_TRUE(c.next_of<StateEvent>());
    ASSERT_TRUE(c.send(OpenRequest{w, "제목 없음 - 메모장"}));
    auto conn = c.next_of<ConnEvent>();
    ASSERT_TRUE(conn);
    EXPECT_EQ(conn->text, "메모장 연결됨 · 선택 영역 읽기");
  }
  std::string log() { return host_log(data, host.pid); }

  std::wstring data;
  HostProcess host;
};

TEST_F(HostE2E, MockAnswerStreamsInOrderWithItsTiming) {
  Client c;
  open_notepad(c, 0x1234);
  ASSERT_TRUE(c.send(SendRequest{0x1234, "정리해 줘", "a\n b \n", "claude", "", ""}));
  auto tool = c.next_of<ToolEvent>();
  ASSERT_TRUE(tool);
  EXPECT_EQ(tool->name, "read_document");
  EXPECT_EQ(tool->args, "6자");
  std::string text;
  std::vector<ULONGLONG> arrivals;
  for (int i = 0; i < 7; ++i) {
    auto piece = c.next_of<TextEvent>();
    ASSERT_TRUE(piece);
    EXPECT_EQ(piece->new_block, i == 0);
    EXPECT_EQ(piece->w, 0x1234u);
    arrivals.push_back(GetTickCount64());
    text += piece->text;
  }
  EXPECT_EQ(text, "○ a\n○ b");
  auto note = c.next_of<NoteEvent>();
  ASSERT_TRUE(note);
  EXPECT_EQ(note->text, "§session:mock-" + std::to_string(host.pid));
  auto done = c.next_of<DoneEvent>();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->error, "");
  // Seven pieces about 228 ms apart: the six gaps add up to well over a second.
  EXPECT_GE(arrivals.back() - arrivals.front(), 1000u);
  EXPECT_NE(log().find("요청 Claude 창 0x1234 글자 5 문맥 6바이트"), std::string::npos) << log();
}

TEST_F(HostE2E, StopAndBusyPanel) {
  Client c;
  open_notepad(c, 7);
  ASSERT_TRUE(c.send(SendRequest{7, "q", "line", "claude", "", ""}));
  ASSERT_TRUE(c.send(SendRequest{7, "again", "", "claude", "", ""}));
  auto busy = c.next_of<DoneEvent>();
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->error, "응답 중입니다. 멈춘 뒤 다시 보내십시오.");
  ASSERT_TRUE(c.next_of<TextEvent>());  // streaming has started
  ASSERT_TRUE(c.send(StopRequest{7}));
  auto done = c.next_of<DoneEvent>();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->error, "멈췄습니다");
}

TEST_F(HostE2E, SelectBroadcastsAndWritesSettings) {
  Client a, b;
  open_notepad(a, 1);
  open_notepad(b, 2);
  ASSERT_TRUE(a.send(SelectRequest{"chatgpt", "gpt-x@high"}));
  for (Client* c : {&a, &b}) {
    std::optional<StateEvent> state;
    while ((state = c->next_of<StateEvent>()) && state->provider != "chatgpt") {
    }
    ASSERT_TRUE(state);
    EXPECT_EQ(state->model, "gpt-x@high");
  }
  auto file = read_small_file(data + L"\\Lumaro\\settings.json", 1 << 20);
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, "{\n  \"model\": \"gpt-x@high\",\n  \"models\": {},\n  \"provider\": \"chatgpt\"\n}\n");
}

TEST_F(HostE2E, ConnectionLimitRefusesThe257thAndNumbersWithoutGaps) {
  std::vector<Client> clients(256);
  for (auto& c : clients) ASSERT_TRUE(c.connect());
  ASSERT_TRUE(wait_for_log(data, host.pid, "파이프 연결 256\r\n"));
  Client extra;
  ASSERT_TRUE(extra.connect());
  EXPECT_TRUE(extra.closed_by_host(kWaitMs));
  EXPECT_TRUE(wait_for_log(data, host.pid, "파이프 연결 상한 초과, 거절"));
  clients[0].close();
  ASSERT_TRUE(wait_for_log(data, host.pid, "파이프 연결 끊김 1\r\n"));
  Client next;
  ASSERT_TRUE(next.connect());
  EXPECT_TRUE(wait_for_log(data, host.pid, "파이프 연결 257\r\n")) << "refused clients take no number";
}

TEST_F(HostE2E, AStalledClientDoesNotHoldUpOthers) {
  Client stalled;
  open_notepad(stalled, 1);
  // Each select broadcasts a state line to the stalled client, which never
  // reads: its pipe fills up and its connection thread waits on the write.
  for (int i = 0; i < 400; ++i) ASSERT_TRUE(stalled.send(SelectRequest{"claude", std::string(200, 'm')}));
  Client c;
  open_notepad(c, 2);  // within the usual time-outs
  ASSERT_TRUE(c.send(UsageRequest{2, "gemini"}));
  auto note = c.next_of<NoteEvent>();
  ASSERT_TRUE(note);
  EXPECT_EQ(note->text, "§usage:[]");
}

TEST_F(HostE2E, SingleInstanceAndQuit) {
  DWORD second_pid = 0;
  EXPECT_EQ(run_host_command(L"", &second_pid), 0u);
  EXPECT_NE(host_log(data, second_pid).find("이미 실행 중, 종료"), std::string::npos);

  Client c;
  open_notepad(c, 3);
  DWORD quit_pid = 0;
  EXPECT_EQ(run_host_command(L"--quit", &quit_pid), 0u);
  EXPECT_NE(host_log(data, quit_pid).find("종료 요청 host 1개"), std::string::npos) << host_log(data, quit_pid);
  ASSERT_TRUE(host.wait(kWaitMs));
  EXPECT_EQ(host.exit_code(), 0u);
  const std::string text = log();
  const size_t request = text.find("종료 요청\r\n"), gone = text.find("파이프 연결 끊김 1"), end = text.rfind("종료\r\n");
  EXPECT_NE(request, std::string::npos) << text;
  EXPECT_NE(end, std::string::npos) << text;
  EXPECT_LT(request, end);
  (void)gone;  // connection threads end on their own; the process may exit first
}

TEST_F(HostE2E, StartUpLogsArgumentsAndTargetsAndTheHotkeyStopsTheHost) {
  const std::string text = log();
  EXPECT_NE(text.find("[host x64] 시작, 인자 [\""), std::string::npos) << text;
  EXPECT_NE(text.find("[host x64] 대상 목록 [\"notepad.exe\", \"cellwick.exe\", \"hwp.exe\"]"), std::string::npos) << text;
  EXPECT_NE(text.find("[host x64] 파이프 서버 \\\\.\\pipe\\lumaro-"), std::string::npos) << text;

  // The emergency hotkey arrives as WM_HOTKEY on the host's message-only window.
  HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"Lumaro.Host.x64", nullptr);
  ASSERT_TRUE(window);
  ASSERT_TRUE(PostMessageW(window, WM_HOTKEY, 0x5A1D, 0));
  ASSERT_TRUE(host.wait(kWaitMs));
  EXPECT_EQ(host.exit_code(), 0u);
  const std::string after = log();
  const size_t hotkey = after.find("비상 해제 단축키"), end = after.rfind("] 종료\r\n");
  EXPECT_NE(hotkey, std::string::npos);
  EXPECT_NE(end, std::string::npos);
  EXPECT_LT(hotkey, end);
}

TEST(HostE2ETargets, TargetListComesFromTheDataFolder) {
  const std::wstring data = fresh_dir();
  CreateDirectoryW((data + L"\\Lumaro").c_str(), nullptr);
  ASSERT_FALSE(write_whole_file(data + L"\\Lumaro\\targets.txt",
                                "# my editors\n  \"C:\\Apps\\HWP.EXE\"   # word processor\nEditor.exe\nhwp.exe\n"));
  DWORD pid = 0;
  HostProcess p = start_host(data, L"--release");
  pid = p.pid;
  ASSERT_TRUE(p.wait(kWaitMs));
  EXPECT_NE(host_log(data, pid).find("대상 목록 [\"hwp.exe\", \"editor.exe\"]"), std::string::npos) << host_log(data, pid);
}

}  // namespace
}  // namespace lumaro
