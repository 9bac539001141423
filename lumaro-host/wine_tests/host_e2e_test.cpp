// End-to-end: the real lumaro-host.exe as a resident host in mock mode, with
// a private data folder, and test clients on the session's pipe. The host's
// path comes from LUMARO_TEST_HOST. Tests run one after another: there is one
// resident host per session and bitness.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "base/file_win.h"
#include "base/thread_win.h"
#include "host_harness_win.h"

namespace lumaro {
namespace {

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

TEST_F(HostE2E, AClientSendingAheadGetsEveryAnswer) {
  // The writer keeps thousands of requests ahead of the answers; the host
  // must interleave its writes with its reads instead of letting the
  // connection's outbox overflow.
  Client c;
  open_notepad(c, 4);
  constexpr int kRequests = 12000, kBatch = 200;
  std::string batch;
  for (int i = 0; i < kBatch; ++i) batch += encode(UsageRequest{4, "gemini"}) + "\n";
  UniqueHandle writer = start_thread([&c, &batch] {
    for (int sent = 0; sent < kRequests; sent += kBatch) {
      if (!c.write_raw(batch)) return;
    }
  });
  ASSERT_TRUE(writer);
  int notes = 0;
  while (notes < kRequests) {
    auto note = c.next_of<NoteEvent>(20000);
    if (!note) break;
    ++notes;
  }
  WaitForSingleObject(writer.get(), 20000);
  EXPECT_EQ(notes, kRequests);
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
