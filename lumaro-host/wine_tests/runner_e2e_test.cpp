// The real host running stand-in AI tools (lumaro-fake-tool copied under the
// tools' names), outside mock mode: what the tool receives, what the panel
// gets back, stop, resume, and hostile text that must stay one argument.
#include <gtest/gtest.h>

#include "../tests/support/crt_split.h"
#include "host_harness_win.h"
#include "tool_fixture_win.h"

namespace lumaro {
namespace {

std::string claude_stream(const std::string& session, const std::string& text) {
  return "out {\"type\":\"system\",\"subtype\":\"init\",\"session_id\":\"" + session +
         "\",\"model\":\"claude-sonnet\",\"mcp_servers\":[]}\n"
         "out {\"type\":\"stream_event\",\"event\":{\"type\":\"message_start\",\"message\":{\"id\":\"m1\"}}}\n"
         "out {\"type\":\"stream_event\",\"event\":{\"type\":\"content_block_delta\",\"delta\":{\"type\":\"text_delta\",\"text\":\"" +
         text +
         "\"}}}\n"
         "out {\"type\":\"assistant\",\"message\":{\"id\":\"m1\",\"content\":[{\"type\":\"text\",\"text\":\"" + text +
         "\"}]}}\n"
         "out {\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,\"result\":\"" + text +
         "\",\"session_id\":\"" + session + "\"}\n";
}

class RunnerE2E : public testing::Test {
 protected:
  void start(EnvChanges extra) {
    data = fresh_dir();
    profile = tools.dir() + L"\\profile";
    create_directories(profile);
    extra.insert(extra.begin(), {{L"LUMARO_MOCK", L""}, {L"USERPROFILE", profile}, {L"APPDATA", tools.dir() + L"\\roaming"},
                                 {L"PATH", L"C:\\windows\\system32;C:\\windows"}});
    host = start_host(data, L"", extra);
    ASSERT_TRUE(host.process);
    ASSERT_TRUE(wait_for_log(data, host.pid, "파이프 서버 "));
  }
  void TearDown() override {
    if (host.process && !host.wait(0)) {
      HostProcess quit = start_host(data, L"--quit");
      quit.wait(kWaitMs);
      if (!host.wait(10000)) TerminateProcess(host.process.get(), 9);
    }
  }
  void open_panel(Client& c, WindowId w, const std::string& title) {
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.send(HelloRequest{GetCurrentProcessId(), 64, "C:\\windows\\system32\\notepad.exe"}));
    ASSERT_TRUE(c.send(OpenRequest{w, title}));
    ASSERT_TRUE(c.next_of<ConnEvent>());
  }
  // Events of one turn, up to and including "done".
  std::vector<Event> turn(Client& c, const SendRequest& send) {
    std::vector<Event> events;
    EXPECT_TRUE(c.send(send));
    while (auto e = c.next()) {
      if (std::holds_alternative<StateEvent>(*e)) continue;
      events.push_back(*e);
      if (std::holds_alternative<DoneEvent>(*e)) break;
    }
    return events;
  }

  ToolFolder tools;
  std::wstring data, profile;
  HostProcess host;
};

std::vector<std::string> encoded(const std::vector<Event>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) out.push_back(encode(e));
  return out;
}

TEST_F(RunnerE2E, ClaudeTurnCarriesItsCommandLineAndStreamsBack) {
  const std::wstring claude = tools.install(L"bin\\claude.exe", claude_stream("s-1", "안녕하세요"));
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 5, "메모 \"따옴표\" & | > ^ ( ! %PATH% 끝\\");
  auto events = turn(c, SendRequest{5, "질문", "문서 본문", "claude", "sonnet@high", ""});
  EXPECT_EQ(encoded(events), (std::vector<std::string>{
                                 R"({"t":"note","text":"§effort:high","w":5})",
                                 R"({"t":"note","text":"§model:claude-sonnet","w":5})",
                                 R"({"new":true,"t":"text","text":"안녕하세요","w":5})",
                                 R"({"t":"note","text":"§session:s-1","w":5})",
                                 R"({"error":"","t":"done","w":5})",
                             }));
  const auto record = tools.last_record_with(L"bin\\claude", "-p");
  const auto argv = record["argv"].get<std::vector<std::string>>();
  ASSERT_GE(argv.size(), 12u);
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 1, argv.begin() + 8),
            (std::vector<std::string>{"-p", "--output-format", "stream-json", "--verbose", "--include-partial-messages",
                                      "--strict-mcp-config", "--tools"}));
  EXPECT_EQ(argv[8], "");
  EXPECT_EQ(argv[9], "--append-system-prompt");
  EXPECT_NE(argv[10].find("The window is titled \"메모 \"따옴표\" & | > ^ ( ! %PATH% 끝\\\"."), std::string::npos) << argv[10];
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 11, argv.end()),
            (std::vector<std::string>{"--model", "sonnet", "--effort", "high"}));
  EXPECT_EQ(record["stdin"], "[문서]\n문서 본문\n[/문서]\n\n질문");
  EXPECT_EQ(record["env"]["MCP_TIMEOUT"], "60000");
  EXPECT_EQ(record["env"]["CLAUDE_CONFIG_DIR"], to_utf8(data + L"\\Lumaro\\claude"));
  EXPECT_EQ(record["cwd"], to_utf8(profile));

  // The next turn continues the conversation.
  turn(c, SendRequest{5, "또", "", "claude", "", ""});
  const auto again = tools.last_record_with(L"bin\\claude", "--resume")["argv"].get<std::vector<std::string>>();
  ASSERT_GE(again.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(again.end() - 2, again.end()), (std::vector<std::string>{"--resume", "s-1"}));
}

TEST_F(RunnerE2E, StopTerminatesTheToolAndFailuresReachThePanel) {
  const std::wstring claude = tools.install(L"claude.exe", "err 곧 멈춥니다\nwait\n");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 6, "t");
  ASSERT_TRUE(c.send(SendRequest{6, "q", "", "claude", "", ""}));
  ASSERT_TRUE(c.next_of<NoteEvent>());  // "§effort:" comes first, the tool runs
  ASSERT_TRUE(wait_for_log(data, host.pid, "요청 Claude 창 0x6"));
  ASSERT_TRUE(c.send(StopRequest{6}));
  auto done = c.next_of<DoneEvent>();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->error, "멈췄습니다");

  // A tool that only complains on stderr ends the turn with that text (the
  // stand-in reads its script at each start).
  tools.write(L"claude.script", "err 인증이 필요합니다\nexit 1\n");
  auto failed = turn(c, SendRequest{6, "q", "", "claude", "", ""});
  ASSERT_FALSE(failed.empty());
  EXPECT_EQ(std::get<DoneEvent>(failed.back()).error, "인증이 필요합니다");
}

TEST_F(RunnerE2E, MissingToolIsReportedByName) {
  start({{L"LUMARO_CLAUDE", tools.dir() + L"\\nothing.exe"}});
  Client c;
  open_panel(c, 7, "t");
  // Before the account check has run, the runner itself finds no tool.
  auto events = turn(c, SendRequest{7, "q", "", "chatgpt", "", ""});
  ASSERT_FALSE(events.empty());
  const std::string first = std::get<DoneEvent>(events.back()).error;
  // Once the check has marked the tool missing, the question is refused up front.
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 ChatGPT Missing")) << host_log(data, host.pid);
  events = turn(c, SendRequest{7, "q", "", "chatgpt", "", ""});
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(std::get<DoneEvent>(events.back()).error,
            "Codex CLI (OpenAI) 이 설치되어 있지 않습니다. 설치 후 다시 시도하십시오.");
  EXPECT_TRUE(first == "Codex CLI (OpenAI) 이 설치되어 있지 않습니다" ||
              first == "Codex CLI (OpenAI) 이 설치되어 있지 않습니다. 설치 후 다시 시도하십시오.")
      << first;
}

TEST_F(RunnerE2E, HostileTextThroughABatchFileStaysOneArgument) {
  // claude.cmd in %APPDATA%\npm without cli.js runs through cmd.exe; the
  // script forwards its arguments to the stand-in. Were any of them parsed
  // as commands, the marker file would appear.
  tools.install(L"roaming\\npm\\claude-real.exe", claude_stream("s-2", "ok"));
  tools.write(L"roaming\\npm\\claude.cmd", "@\"%~dp0claude-real.exe\" %*\r\n");
  const std::wstring marker = tools.dir() + L"\\marker.txt";
  start({{L"LUMARO_CLAUDE", L""}});
  Client c;
  const std::string title = "a\" & echo pwned > \"" + to_utf8(marker) + "\" & \" | (x) ^ !y! <z>";
  open_panel(c, 8, title);
  auto events = turn(c, SendRequest{8, "q", "", "claude", "", ""});
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(std::get<DoneEvent>(events.back()).error, "");
  EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "a command ran";
  // Tools behind .cmd shims are programs of the current C runtime: read the
  // command line they got the way they do.
  const auto argv =
      testing_support::crt_split(tools.last_record_with(L"roaming\\npm\\claude-real", "--append-system-prompt")["cmdline"].get<std::string>());
  auto it = std::find(argv.begin(), argv.end(), "--append-system-prompt");
  ASSERT_NE(it, argv.end());
  ASSERT_NE(it + 1, argv.end());
  EXPECT_NE((it + 1)->find("The window is titled \"" + title + "\"."), std::string::npos) << *(it + 1);
}

}  // namespace
}  // namespace lumaro
