// The real host running stand-in AI tools (lumaro-fake-tool copied under the
// tools' names), outside mock mode: the exact command line, input,
// environment and files each install layout gets, images, stop, resume,
// turns running at once, and hostile text that must stay one argument. After
// every turn nothing it wrote to the temporary folder or started is left.
#include <gtest/gtest.h>

#include <functional>

#include "../tests/support/crt_split.h"
#include "apps/target_app.h"
#include "chat/prompt.h"
#include "runner/cli_kind.h"
#include "tool_host_fixture_win.h"

namespace lumaro {
namespace {

using Args = std::vector<std::string>;
using json = nlohmann::json;

constexpr char kNotepad[] = "C:\\windows\\system32\\notepad.exe";

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

std::string codex_stream(const std::string& thread) {
  return "out {\"type\":\"thread.started\",\"thread_id\":\"" + thread +
         "\"}\n"
         "out {\"type\":\"item.completed\",\"item\":{\"id\":\"i0\",\"type\":\"agent_message\",\"text\":\"ok\"}}\n"
         "out {\"type\":\"turn.completed\"}\n";
}

std::string gemini_stream(const std::string& session) {
  return "out {\"type\":\"init\",\"session_id\":\"" + session +
         "\",\"model\":\"gemini-2.5-pro\"}\n"
         "out {\"type\":\"message\",\"role\":\"assistant\",\"content\":\"ok\",\"delta\":true}\n"
         "out {\"type\":\"result\",\"status\":\"success\"}\n";
}

std::string agy_stream(const std::string& conversation) {
  return "out {\"type\":\"start\",\"conversation_id\":\"" + conversation +
         "\"}\n"
         "out {\"type\":\"text\",\"text\":\"ok\"}\n"
         "out {\"type\":\"result\",\"error\":null}\n";
}

// A .cmd shim in the way npm writes them: it runs the program beside it with
// all its arguments.
std::string shim_for(const std::string& program) { return "@\"%~dp0" + program + "\" %*\r\n"; }

WindowId window_of(const Event& e) {
  return std::visit(
      [](const auto& event) -> WindowId {
        if constexpr (requires { event.w; }) return event.w;
        else return 0;
      },
      e);
}

std::vector<std::string> encoded(const std::vector<Event>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) out.push_back(encode(e));
  return out;
}

// The tool's arguments after its program, read the way a program of the
// current C runtime reads its command line.
Args tool_args(const json& record) {
  if (!record["cmdline"].is_string()) return {};
  Args argv = testing_support::crt_split(record["cmdline"].get<std::string>());
  if (!argv.empty()) argv.erase(argv.begin());
  return argv;
}

// The argument after `flag`, or empty.
std::string arg_after(const Args& args, const std::string& flag) {
  auto it = std::find(args.begin(), args.end(), flag);
  return it == args.end() || it + 1 == args.end() ? std::string() : *(it + 1);
}

std::wstring temp_dir() {
  wchar_t tmp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
  return std::wstring(tmp, n);
}

std::vector<std::string> temp_files(const std::wstring& pattern) {
  std::vector<std::string> out;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((temp_dir() + pattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return out;
  do out.push_back(to_utf8(found.cFileName));
  while (FindNextFileW(find, &found));
  FindClose(find);
  return out;
}

bool file_exists(const std::string& path) { return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

class RunnerE2E : public ToolHostTest {
 protected:
  void start(EnvChanges extra = {}) {
    extra.insert(extra.begin(), {L"CELLWICK_CONTROL_PORT", L"8123"});
    ToolHostTest::start(std::move(extra));
  }
  void TearDown() override {
    if (host_running()) expect_turns_left_nothing();
    ToolHostTest::TearDown();
  }

  // Whatever a turn writes or starts ends with it: no temporary file of this
  // host's turns is left, and nothing started from the tool folder runs.
  void expect_turns_left_nothing() {
    const std::wstring pid = std::to_wstring(host.pid);
    EXPECT_EQ(temp_files(L"lumaro-" + pid + L"-*"), Args{});
    EXPECT_EQ(temp_files(L"lumaro-img-" + pid + L"-*"), Args{});
    expect_no_tool_running();
  }

  void open_panel(Client& c, WindowId w, const std::string& title, const std::string& exe = kNotepad) {
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.send(HelloRequest{GetCurrentProcessId(), 64, exe}));
    add_panel(c, w, title);
    // The hello starts the account checks, which run the tools as well; the
    // turns of a test start after them, so only their own tools run.
    ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini ")) << host_log(data, host.pid);
  }
  void add_panel(Client& c, WindowId w, const std::string& title) {
    ASSERT_TRUE(c.send(OpenRequest{w, title}));
    ASSERT_TRUE(c.next_of<ConnEvent>());
  }
  // Events of one turn's panel, up to and including its "done".
  std::vector<Event> turn(Client& c, const SendRequest& send) {
    EXPECT_TRUE(c.send(send));
    return rest_of_turn(c, send.w);
  }
  std::vector<Event> rest_of_turn(Client& c, WindowId w) {
    std::vector<Event> events;
    while (auto e = c.next()) {
      if (std::holds_alternative<StateEvent>(*e) || window_of(*e) != w) continue;
      events.push_back(*e);
      if (std::holds_alternative<DoneEvent>(*e)) return events;
    }
    ADD_FAILURE() << "no done for window " << w;
    return events;
  }
  static std::string done_error(const std::vector<Event>& events) {
    return events.empty() || !std::holds_alternative<DoneEvent>(events.back()) ? "(no done)"
                                                                                : std::get<DoneEvent>(events.back()).error;
  }
  // The start of the tool `stem` whose arguments hold `arg`, once it is there.
  json wait_for_start(const std::wstring& stem, const std::string& arg) {
    for (const ULONGLONG end = GetTickCount64() + kWaitMs; GetTickCount64() < end; Sleep(50)) {
      if (auto record = tools.last_record_with(stem, arg); !record.is_null()) return record;
    }
    ADD_FAILURE() << to_utf8(stem) << " never started with " << arg;
    return json();
  }
};

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
  EXPECT_EQ(std::vector<std::string>(argv.end() - 4, argv.end()),
            (std::vector<std::string>{"--model", "sonnet", "--effort", "high"}));
  EXPECT_NE(argv[10].find("The window is titled \"메모 \"따옴표\" & | > ^ ( ! %PATH% 끝\\\"."), std::string::npos) << argv[10];
  EXPECT_EQ(record["stdin"], "[문서]\n문서 본문\n[/문서]\n\n질문");
  expect_turns_left_nothing();

  // The next turn continues the conversation.
  turn(c, SendRequest{5, "또", "", "claude", "", ""});
  const auto again = tools.last_record_with(L"bin\\claude", "--resume")["argv"].get<std::vector<std::string>>();
  ASSERT_GE(again.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(again.end() - 2, again.end()), (std::vector<std::string>{"--resume", "s-1"}));
}

// ---- the command line of every install layout -------------------------------

// What a turn's tool should have been given, known once the host runs.
struct Given {
  std::string system, message, combined;  // the question's prompt
  std::string cli_js, connector;          // paths in the tool folder
  std::string mcp_config;                 // the configuration file named on the command line, if any
};

struct Layout {
  const char* name;
  CliKind kind;
  const wchar_t* tool;  // the stand-in, relative to the tool folder
  std::vector<std::pair<const wchar_t*, std::string>> files;  // other files to write there
  const wchar_t* path_dir;  // a folder of the tool folder added to PATH, or nullptr
  bool connector;           // asked from the spreadsheet, whose connector the tool gets
  std::string model;
  std::string turn_arg;  // an argument of the turn's start, not of the account checks
  std::function<Args(const Given&)> args;
  std::function<std::string(const Given&)> input;
  std::vector<std::pair<std::string, std::string>> env;  // "{data}": the host's data folder, "{profile}": home
  Args resumed_tail;  // how the next turn in the panel ends its arguments; empty: not asked

  std::string provider() const {
    return kind == CliKind::ClaudeCode ? "claude" : kind == CliKind::Codex ? "chatgpt" : "gemini";
  }
  // What the tool prints: an answer with the conversation id "id-1".
  std::string script() const {
    switch (kind) {
      case CliKind::ClaudeCode: return claude_stream("id-1", "ok");
      case CliKind::Codex: return codex_stream("id-1");
      case CliKind::GeminiCli: return gemini_stream("id-1");
      case CliKind::Agy: return agy_stream("id-1");
    }
    return "";
  }
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

const wchar_t kClaudeCmd[] = L"roaming\\npm\\claude.cmd";
const wchar_t kCliJs[] = L"roaming\\npm\\node_modules\\@anthropic-ai\\claude-code\\cli.js";
// Were the shim run instead of node.exe, the turn would fail.
const std::string kShimThatFails = "@exit /b 9\r\n";

Args claude_head() {
  return {"-p", "--output-format", "stream-json", "--verbose", "--include-partial-messages", "--strict-mcp-config",
          "--tools", ""};
}
Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::string doubled_backslashes(std::string s) {
  for (size_t at = 0; (at = s.find('\\', at)) != std::string::npos; at += 2) s.insert(at, 1, '\\');
  return s;
}

const Layout kLayouts[] = {
    {"ClaudeCmdRunsNodeBesideItWithCliJs",
     CliKind::ClaudeCode,
     L"roaming\\npm\\node.exe",
     {{kClaudeCmd, kShimThatFails}, {kCliJs, "// cli\n"}},
     nullptr,
     false,
     "@max",
     "-p",
     [](const Given& g) { return Args{g.cli_js} + claude_head() + Args{"--append-system-prompt", g.system, "--effort", "max"}; },
     [](const Given& g) { return g.message; },
     {{"MCP_TIMEOUT", "60000"}, {"CLAUDE_CONFIG_DIR", "{data}\\claude"}, {"USERPROFILE", "{profile}"}},
     {}},
    {"ClaudeCmdTakesNodeFromPathAndGetsTheConnector",
     CliKind::ClaudeCode,
     L"nodejs\\node.exe",
     {{kClaudeCmd, kShimThatFails}, {kCliJs, "// cli\n"}},
     L"nodejs",
     true,
     "sonnet@fast",
     "-p",
     [](const Given& g) {
       return Args{g.cli_js} + claude_head() +
              Args{"--allowedTools", "mcp__cellwick", "--mcp-config", g.mcp_config, "--append-system-prompt", g.system,
                   "--model", "sonnet"};
     },
     [](const Given& g) { return g.message; },
     {{"MCP_TIMEOUT", "60000"}, {"CLAUDE_CONFIG_DIR", "{data}\\claude"}},
     {}},
    {"CodexExeWithEffortAndConnector",
     CliKind::Codex,
     L"local\\Programs\\OpenAI\\Codex\\bin\\codex.exe",
     {},
     nullptr,
     true,
     "gpt-5@high",
     "exec",
     [](const Given& g) {
       // The connector's folder holds "'": the path is written in double
       // quotes with its backslashes doubled.
       return Args{"exec", "--json", "--skip-git-repo-check", "-s", "read-only", "-c", "approval_policy=\"never\"", "-c",
                   "model_reasoning_effort=\"high\"", "-c",
                   "mcp_servers.lumaro_cellwick.command=\"" + doubled_backslashes(g.connector) + "\"", "-c",
                   "mcp_servers.lumaro_cellwick.args=['mcp', '--connect', '127.0.0.1:8123']", "-c",
                   "mcp_servers.lumaro_cellwick.default_tools_approval_mode=\"approve\"", "-c",
                   "mcp_servers.lumaro_cellwick.tool_timeout_sec=180", "--disable", "shell_tool", "-m", "gpt-5", "-"};
     },
     [](const Given& g) { return g.combined; },
     {{"MCP_TIMEOUT", ""}, {"CLAUDE_CONFIG_DIR", ""}, {"USERPROFILE", "{profile}"}},
     {"-m", "gpt-5", "resume", "id-1", "-"}},
    {"CodexCmdWithAnEffortItDoesNotTake",
     CliKind::Codex,
     L"roaming\\npm\\codex-real.exe",
     {{L"roaming\\npm\\codex.cmd", shim_for("codex-real.exe")}},
     nullptr,
     false,
     "gpt-5@High",
     "exec",
     [](const Given& g) {
       return Args{"exec", "--json", "--skip-git-repo-check", "-s", "read-only", "-c", "approval_policy=\"never\"",
                   "--disable", "shell_tool", "-m", "gpt-5", "-"};
     },
     [](const Given& g) { return g.combined; },
     {{"MCP_TIMEOUT", ""}, {"USERPROFILE", "{profile}"}},
     {"resume", "id-1", "-"}},
    {"GeminiCmdWithItsOwnHome",
     CliKind::GeminiCli,
     L"roaming\\npm\\gemini-real.exe",
     {{L"roaming\\npm\\gemini.cmd", shim_for("gemini-real.exe")}},
     nullptr,
     false,
     "gemini-2.5-pro@high",
     "--skip-trust",
     [](const Given& g) {
       return Args{"-p", " ", "--output-format", "stream-json", "--approval-mode", "plan", "--skip-trust", "--model",
                   "gemini-2.5-pro"};
     },
     [](const Given& g) { return g.combined; },
     {{"USERPROFILE", "{data}\\gemini-home"}, {"HOME", "{data}\\gemini-home"}, {"MCP_TIMEOUT", ""}},
     {}},
    {"AgyPrintsTheDocumentAndGetsTheConnector",
     CliKind::Agy,
     L"local\\agy\\bin\\agy.exe",
     {},
     nullptr,
     true,
     "gemini-3-pro@high",
     "--output-format",
     [](const Given& g) {
       return Args{"--print=" + g.combined,
                   "--output-format",
                   "stream-json",
                   "--settings",
                   R"json({"permissions":{"allow":["mcp(lumaro_cellwick/*)"],"deny":["write_file(*)","command(*)"]}})json",
                   "--print-timeout",
                   "600s",
                   "--model",
                   "gemini-3-pro@high"};
     },
     [](const Given&) { return std::string(); },
     {{"USERPROFILE", "{profile}"}, {"MCP_TIMEOUT", ""}},
     {"--model", "gemini-3-pro@high", "--conversation", "id-1"}},
};

class RunnerCommandLines : public RunnerE2E, public testing::WithParamInterface<Layout> {};

TEST_P(RunnerCommandLines, TheToolGetsExactlyItsCommandLineInputAndEnvironment) {
  const Layout& layout = GetParam();
  tools.install(layout.tool, layout.script());
  for (const auto& [relative, bytes] : layout.files) tools.write(relative, bytes);
  const std::wstring app = tools.dir() + L"\\Kim's App";
  tools.write(L"Kim's App\\cellwick-cli.exe", "x");
  EnvChanges env;
  if (layout.path_dir) env.push_back({L"PATH", L"C:\\windows\\system32;C:\\windows;" + tools.dir() + L"\\" + layout.path_dir});
  start(env);

  const std::string exe = layout.connector ? to_utf8(app + L"\\cellwick.exe") : std::string(kNotepad);
  const std::string title = "표 \"따옴표\" & | ^ % ! 끝\\";
  const std::string text = "요약해 줘 \"지금\"";
  const std::string context = "첫 줄 \"인용\" \\\" 탈출\n둘째 줄 끝\\";
  Client c;
  open_panel(c, 9, title, exe);
  auto events = turn(c, SendRequest{9, text, context, layout.provider(), layout.model, ""});
  EXPECT_EQ(done_error(events), "");

  const std::wstring stem = std::wstring(layout.tool).substr(0, std::wstring(layout.tool).find_last_of(L'.'));
  const json record = tools.last_record_with(stem, layout.turn_arg);
  ASSERT_FALSE(record.is_null()) << "the tool did not start";
  const Args args = tool_args(record);
  const auto prompt = build_prompt(classify(exe), title, text, context, "");
  ASSERT_TRUE(prompt);
  Given given{prompt->system_prompt, prompt->message, combined_prompt(prompt->system_prompt, prompt->message, false),
              to_utf8(tools.dir() + L"\\" + kCliJs), to_utf8(app + L"\\cellwick-cli.exe"), arg_after(args, "--mcp-config")};
  EXPECT_EQ(args, layout.args(given));
  EXPECT_EQ(record["stdin"], layout.input(given));
  for (auto [name, value] : layout.env) {
    for (const auto& [token, folder] : {std::pair{"{data}", data + L"\\Lumaro"}, std::pair{"{profile}", profile}}) {
      if (value.starts_with(token)) value = to_utf8(folder) + value.substr(std::string_view(token).size());
    }
    EXPECT_EQ(record["env"][name], value) << name;
  }
  EXPECT_EQ(record["cwd"], to_utf8(profile));

  // The connector's configuration: Claude Code reads a file made for the
  // turn, agy its own list in the home folder, which stays.
  const json server{{"command", given.connector}, {"args", {"mcp", "--connect", "127.0.0.1:8123"}}};
  if (!given.mcp_config.empty()) {
    EXPECT_TRUE(given.mcp_config.starts_with(to_utf8(temp_dir()) + "lumaro-" + std::to_string(host.pid) + "-cellwick-"))
        << given.mcp_config;
    const auto seen = ToolFolder::file_seen(record, given.mcp_config);
    ASSERT_TRUE(seen) << "the tool did not find its configuration";
    EXPECT_EQ(json::parse(*seen, nullptr, false), (json{{"mcpServers", {{"cellwick", server}}}}));
  }
  const auto agy_config = read_small_file(profile + L"\\.gemini\\config\\mcp_config.json", 1u << 20);
  EXPECT_EQ(agy_config.has_value(), layout.kind == CliKind::Agy && layout.connector);
  if (agy_config) {
    json with_state = server;
    with_state["disabled"] = false;
    EXPECT_EQ(json::parse(*agy_config, nullptr, false), (json{{"mcpServers", {{"lumaro_cellwick", with_state}}}}));
  }
  expect_turns_left_nothing();

  if (layout.resumed_tail.empty()) return;
  events = turn(c, SendRequest{9, "또", "", layout.provider(), layout.model, ""});
  EXPECT_EQ(done_error(events), "");
  const Args again = tool_args(tools.last_record_with(stem, layout.turn_arg));
  ASSERT_GE(again.size(), layout.resumed_tail.size());
  EXPECT_EQ(Args(again.end() - static_cast<std::ptrdiff_t>(layout.resumed_tail.size()), again.end()),
            layout.resumed_tail);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RunnerCommandLines, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// ---- images ----------------------------------------------------------------

TEST_F(RunnerE2E, ImagesReachClaudeAsInputBlocksAndCodexAsFilesInReverseOrder) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n\0\0", 10), png64 = "iVBORw0KGgoAAA==";
  const std::string jpeg = std::string("\xff\xd8\xff\xe0\0\x10JFIF\0", 11), jpeg64 = "/9j/4AAQSkZJRgA=";
  const std::wstring claude = tools.install(L"claude.exe", claude_stream("s-3", "ok"));
  tools.install(L"local\\Programs\\OpenAI\\Codex\\bin\\codex.exe", codex_stream("c-3"));
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 11, "t");
  add_panel(c, 12, "t");
  for (const WindowId w : {11, 12}) {
    ASSERT_TRUE(c.send(ImageRequest{w, "data:image/png;base64," + png64}));
    ASSERT_TRUE(c.send(ImageRequest{w, "data:image/jpeg;base64," + jpeg64}));
  }

  EXPECT_EQ(done_error(turn(c, SendRequest{11, "그림 설명", "", "claude", "", ""})), "");
  const json claude_start = tools.last_record_with(L"claude", "-p");
  const Args claude_args = tool_args(claude_start);
  ASSERT_GE(claude_args.size(), 4u);
  EXPECT_EQ(Args(claude_args.begin(), claude_args.begin() + 4), (Args{"-p", "--input-format", "stream-json", "--output-format"}));
  const std::string line = claude_start["stdin"];
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
  const auto image = [](const char* type, const std::string& data) {
    return json{{"type", "image"}, {"source", {{"type", "base64"}, {"media_type", type}, {"data", data}}}};
  };
  EXPECT_EQ(json::parse(line, nullptr, false),
            (json{{"type", "user"},
                  {"message",
                   {{"role", "user"},
                    {"content", {image("image/png", png64), image("image/jpeg", jpeg64), {{"type", "text"}, {"text", "그림 설명"}}}}}}}));
  expect_turns_left_nothing();

  EXPECT_EQ(done_error(turn(c, SendRequest{12, "그림 설명", "", "chatgpt", "", ""})), "");
  const json codex_start = tools.last_record_with(L"local\\Programs\\OpenAI\\Codex\\bin\\codex", "exec");
  const Args codex_args = tool_args(codex_start);
  ASSERT_GE(codex_args.size(), 6u);
  EXPECT_EQ(codex_args[0], "exec");
  EXPECT_EQ(codex_args[1], "-i");
  EXPECT_EQ(codex_args[3], "-i");
  EXPECT_EQ(codex_args[5], "--json");
  const std::string& second = codex_args[2];
  const std::string& first = codex_args[4];
  const std::string prefix = to_utf8(temp_dir()) + "lumaro-img-" + std::to_string(host.pid) + "-";
  EXPECT_TRUE(first.starts_with(prefix) && first.ends_with(".png")) << first;
  EXPECT_TRUE(second.starts_with(prefix) && second.ends_with(".jpg")) << second;
  EXPECT_EQ(ToolFolder::file_seen(codex_start, first), png);
  EXPECT_EQ(ToolFolder::file_seen(codex_start, second), jpeg);
  // The images went with the turn that took them.
  EXPECT_EQ(done_error(turn(c, SendRequest{12, "또", "", "chatgpt", "", ""})), "");
  EXPECT_EQ(tool_args(tools.last_record_with(L"local\\Programs\\OpenAI\\Codex\\bin\\codex", "exec"))[1], "--json");
}

// ---- stop, failure, turns at once -------------------------------------------

TEST_F(RunnerE2E, StopTerminatesTheToolAndFailuresReachThePanel) {
  const std::wstring claude = tools.install(L"claude.exe", "only -p\nerr 곧 멈춥니다\nwait\n");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 6, "t");
  ASSERT_TRUE(c.send(SendRequest{6, "q", "", "claude", "", ""}));
  wait_for_start(L"claude", "-p");
  ASSERT_TRUE(c.send(StopRequest{6}));
  EXPECT_EQ(done_error(rest_of_turn(c, 6)), "멈췄습니다");
  expect_turns_left_nothing();

  // A tool that only complains on stderr ends the turn with that text (the
  // stand-in reads its script at each start).
  tools.write(L"claude.script", "err 인증이 필요합니다\nexit 1\n");
  EXPECT_EQ(done_error(turn(c, SendRequest{6, "q", "", "claude", "", ""})), "인증이 필요합니다");
}

TEST_F(RunnerE2E, StopEndsToolsBehindBatchFilesWithAllTheyStartedAndTheirFiles) {
  // Behind an npm shim the tool runs as cmd.exe and the program the shim
  // starts, which holds the output pipes: ending cmd.exe alone would leave it
  // running and the turn without an end.
  tools.install(L"roaming\\npm\\claude-real.exe", "only -p\nout {\"type\":\"system\",\"subtype\":\"init\",\"session_id\":\"s-4\"}\nwait\n");
  tools.write(L"roaming\\npm\\claude.cmd", shim_for("claude-real.exe"));
  tools.install(L"roaming\\npm\\codex-real.exe", "only exec\nout {\"type\":\"thread.started\",\"thread_id\":\"c-4\"}\nwait\n");
  tools.write(L"roaming\\npm\\codex.cmd", shim_for("codex-real.exe"));
  tools.write(L"app\\cellwick-cli.exe", "x");
  start();
  Client sheet, notes;
  open_panel(sheet, 31, "t", to_utf8(tools.dir() + L"\\app\\cellwick.exe"));
  open_panel(notes, 32, "t");
  ASSERT_TRUE(notes.send(ImageRequest{32, "data:image/png;base64,iVBORw0KGgoAAA=="}));
  ASSERT_TRUE(sheet.send(SendRequest{31, "q", "", "claude", "", ""}));
  ASSERT_TRUE(notes.send(SendRequest{32, "q", "", "chatgpt", "", ""}));

  // While the tools run, the files they were given are there.
  const std::string config = arg_after(tool_args(wait_for_start(L"roaming\\npm\\claude-real", "-p")), "--mcp-config");
  const std::string image = arg_after(tool_args(wait_for_start(L"roaming\\npm\\codex-real", "exec")), "-i");
  EXPECT_TRUE(file_exists(config)) << config;
  EXPECT_TRUE(file_exists(image)) << image;
  EXPECT_EQ(tools.running().size(), 2u) << "the programs behind the shims run";

  ASSERT_TRUE(sheet.send(StopRequest{31}));
  ASSERT_TRUE(notes.send(StopRequest{32}));
  EXPECT_EQ(done_error(rest_of_turn(sheet, 31)), "멈췄습니다");
  EXPECT_EQ(done_error(rest_of_turn(notes, 32)), "멈췄습니다");
  expect_turns_left_nothing();
}

TEST_F(RunnerE2E, TurnsAtOnceWithOneConnectorKeepTheirOwnConfiguration) {
  // The opus turn waits until stopped; the haiku turn ends at once.
  const std::wstring claude = tools.install(L"claude.exe", "only -p\n" + claude_stream("s-5", "ok") + "only opus\nwait\n");
  tools.write(L"app\\cellwick-cli.exe", "x");
  start({{L"LUMARO_CLAUDE", claude}});
  const std::string exe = to_utf8(tools.dir() + L"\\app\\cellwick.exe");
  Client first, second;
  open_panel(first, 41, "t", exe);
  open_panel(second, 42, "t", exe);
  ASSERT_TRUE(first.send(SendRequest{41, "q", "", "claude", "opus", ""}));
  const std::string waiting = arg_after(tool_args(wait_for_start(L"claude", "opus")), "--mcp-config");

  EXPECT_EQ(done_error(turn(second, SendRequest{42, "q", "", "claude", "haiku", ""})), "");
  const std::string ended = arg_after(tool_args(tools.last_record_with(L"claude", "haiku")), "--mcp-config");
  EXPECT_NE(waiting, ended);
  // The turn that ended took only its own file away.
  EXPECT_TRUE(file_exists(waiting)) << waiting;
  EXPECT_FALSE(file_exists(ended)) << ended;

  ASSERT_TRUE(first.send(StopRequest{41}));
  EXPECT_EQ(done_error(rest_of_turn(first, 41)), "멈췄습니다");
  expect_turns_left_nothing();
}

TEST_F(RunnerE2E, MissingToolIsReportedByName) {
  const std::wstring claude = tools.install(L"claude.exe", "");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 7, "t");
  // The account check found no Codex CLI: the question is refused up front.
  EXPECT_EQ(done_error(turn(c, SendRequest{7, "q", "", "chatgpt", "", ""})),
            "Codex CLI (OpenAI) 이 설치되어 있지 않습니다. 설치 후 다시 시도하십시오.");
  // A tool removed after the check is missed by the runner itself.
  ASSERT_TRUE(DeleteFileW(claude.c_str()));
  EXPECT_EQ(done_error(turn(c, SendRequest{7, "q", "", "claude", "", ""})), "Claude Code (Anthropic) 이 설치되어 있지 않습니다");
}

TEST_F(RunnerE2E, HostileTextThroughABatchFileStaysOneArgument) {
  // claude.cmd in %APPDATA%\npm without cli.js runs through cmd.exe; the
  // script forwards its arguments to the stand-in. Were any of them parsed
  // as commands, the marker file would appear.
  tools.install(L"roaming\\npm\\claude-real.exe", claude_stream("s-2", "ok"));
  tools.write(L"roaming\\npm\\claude.cmd", shim_for("claude-real.exe"));
  const std::wstring marker = tools.dir() + L"\\marker.txt";
  start();
  Client c;
  const std::string title = "a\" & echo pwned > \"" + to_utf8(marker) + "\" & \" | (x) ^ !y! <z>";
  open_panel(c, 8, title);
  EXPECT_EQ(done_error(turn(c, SendRequest{8, "q", "", "claude", "", ""})), "");
  EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "a command ran";
  const Args args = tool_args(tools.last_record_with(L"roaming\\npm\\claude-real", "--append-system-prompt"));
  EXPECT_NE(arg_after(args, "--append-system-prompt").find("The window is titled \"" + title + "\"."), std::string::npos);
}

}  // namespace
}  // namespace lumaro
