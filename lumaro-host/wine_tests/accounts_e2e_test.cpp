// The real host checking, logging in and out of, and asking usage of
// stand-in AI tools (lumaro-fake-tool under the tools' names), outside mock
// mode: the states and notes the panel sees and what the tools receive.
#include <gtest/gtest.h>

#include <algorithm>

#include "tool_host_fixture_win.h"

namespace lumaro {
namespace {

constexpr char kClaudeStatusIn[] = R"(out {"loggedIn":true,"email":"u1","subscriptionType":"x"})"
                                   "\n";

// The arguments of the tool's start number `i`, without the program.
std::vector<std::string> argv_of(const std::vector<nlohmann::json>& records, size_t i) {
  if (i >= records.size() || !records[i]["argv"].is_array() || records[i]["argv"].empty()) return {"<missing>"};
  auto argv = records[i]["argv"].get<std::vector<std::string>>();
  return std::vector<std::string>(argv.begin() + 1, argv.end());
}

class AccountsE2E : public ToolHostTest {
 protected:
  void start(EnvChanges extra = {}) {
    extra.insert(extra.begin(), {L"PATH", tools.dir() + L"\\bin;C:\\windows\\system32;C:\\windows"});
    ToolHostTest::start(std::move(extra));
  }
  void open_panel(Client& c, WindowId w, const std::string& exe) {
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.send(HelloRequest{GetCurrentProcessId(), 64, exe}));
    ASSERT_TRUE(c.send(OpenRequest{w, "t"}));
    ASSERT_TRUE(c.next_of<ConnEvent>());
  }
  // The notes, and the state events as they arrive, up to and including the
  // first note that starts with `last`.
  struct Seen {
    std::vector<std::string> notes;
    std::vector<StateEvent> states;
  };
  Seen until_note(Client& c, const std::string& last) {
    Seen seen;
    while (auto e = c.next()) {
      if (auto* s = std::get_if<StateEvent>(&*e)) seen.states.push_back(*s);
      if (auto* n = std::get_if<NoteEvent>(&*e)) {
        seen.notes.push_back(n->text);
        if (n->text.starts_with(last)) return seen;
      }
    }
    ADD_FAILURE() << "no note " << last;
    return seen;
  }
  // The tool's starts whose arguments hold `arg`.
  size_t starts_with_arg(const std::wstring& stem, const std::string& arg) {
    size_t n = 0;
    for (const auto& r : tools.records(stem)) {
      const auto argv = r["argv"].get<std::vector<std::string>>();
      n += std::find(argv.begin(), argv.end(), arg) != argv.end();
    }
    return n;
  }
  size_t log_count(const std::string& text) {
    const std::string log = host_log(data, host.pid);
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
};

TEST_F(AccountsE2E, RefreshReadsTheToolsAndAccountDescribesThem) {
  const std::wstring claude = tools.install(L"bin\\claude.exe", kClaudeStatusIn);
  tools.install(L"bin\\codex.exe", "out Logged in using ChatGPT\nexit 1\n");
  tools.write(L"profile\\.codex\\models_cache.json",
              R"({"models":[{"slug":"gpt-5","display_name":"GPT-5","visibility":"list",)"
              R"("default_reasoning_level":"medium","supported_reasoning_levels":[{"effort":"low"},{"effort":"High"}]},)"
              R"({"slug":"hidden","visibility":"hide"}]})");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 3, "C:\\windows\\system32\\notepad.exe");

  // The refresh publishes each provider as soon as it is known.
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini Missing"));
  EXPECT_EQ(log_count("로그인 상태 Claude LoggedIn"), 1u);
  EXPECT_EQ(log_count("로그인 상태 ChatGPT LoggedOut"), 1u);
  EXPECT_EQ(argv_of(tools.records(L"bin\\claude"), 0), (std::vector<std::string>{"auth", "status", "--json"}));
  EXPECT_EQ(argv_of(tools.records(L"bin\\codex"), 0), (std::vector<std::string>{"login", "status"}));

  ASSERT_TRUE(c.send(AccountRequest{3, "claude"}));
  Seen seen = until_note(c, "§account:");
  ASSERT_FALSE(seen.states.empty());
  const auto& last = seen.states.back().providers;
  EXPECT_EQ(last[0].login, LoginState::in);
  EXPECT_EQ(last[1].login, LoginState::out);
  EXPECT_EQ(last[2].login, LoginState::missing);
  EXPECT_EQ(seen.notes.back(),
            R"(§account:{"email":"u1","expires":"","installed":true,"loggedIn":true,"method":"","plan":"x","provider":"claude"})");
  // The description's run is made in the user's home folder.
  EXPECT_EQ(tools.last_record(L"bin\\claude")["cwd"], to_utf8(profile));

  ASSERT_TRUE(c.send(AccountRequest{3, "chatgpt"}));
  EXPECT_EQ(until_note(c, "§account:").notes.back(),
            R"(§account:{"installed":true,"loggedIn":false,"models":[{"default":"medium","desc":"","efforts":["low"],)"
            R"("name":"GPT-5","slug":"gpt-5"}],"provider":"chatgpt"})");
  ASSERT_TRUE(c.send(AccountRequest{3, "gemini"}));
  EXPECT_EQ(until_note(c, "§account:").notes.back(), R"(§account:{"installed":false,"provider":"gemini"})");
}

TEST_F(AccountsE2E, BrowserLoginOpensTheFirstAddressOnce) {
  const std::string url = "https://claude.ai/oauth/authorize?code=1";
  const std::wstring claude = tools.install(L"bin\\claude.exe", "out {\"loggedIn\":false}\n");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 4, "browser:chrome");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini"));
  tools.install(L"bin\\claude.exe", "out Open " + url + " to sign in\nout again: " + url + "\nerr " + url + "\nsleep 300\n");
  ASSERT_TRUE(c.send(LoginRequest{4, "claude", ""}));
  Seen seen = until_note(c, "§account:");
  const auto opens = std::count_if(seen.notes.begin(), seen.notes.end(),
                                   [](const std::string& n) { return n.starts_with("§open:"); });
  EXPECT_EQ(opens, 1);
  ASSERT_GE(seen.notes.size(), 3u);
  EXPECT_EQ(seen.notes[0], "Claude 로그인을 시작했습니다. 브라우저에서 로그인을 마치십시오.");
  EXPECT_EQ(seen.notes[1], "§open:" + url);
  ASSERT_GE(seen.states.size(), 2u);
  // Earlier states of the refresh may come first; the login's own is there.
  EXPECT_TRUE(std::any_of(seen.states.begin(), seen.states.end(),
                          [](const StateEvent& s) { return s.providers[0].login == LoginState::logging_in; }));
  // The same stand-in answers the final check with no JSON: out.
  EXPECT_EQ(seen.states.back().providers[0].login, LoginState::out);
  EXPECT_EQ(log_count("로그인 주소 열기 (Claude)"), 1u);
  EXPECT_EQ(log_count("로그인 끝 Claude LoggedOut"), 1u);
  EXPECT_EQ(starts_with_arg(L"bin\\claude", "--claudeai"), 1u);
}

TEST_F(AccountsE2E, DesktopLoginOpensOnceAndAnInstantExitEndsTheLogin) {
  // The address is opened with the system's browser here; the log tells it.
  const std::string url = "https://claude.ai/oauth/authorize?code=2";
  const std::wstring claude = tools.install(L"bin\\claude.exe", "out " + url + "\nout " + url + "\nerr " + url + "\n");
  tools.install(L"bin\\codex.exe", "exit 0\n");
  start({{L"LUMARO_CLAUDE", claude}, {L"WINEDLLOVERRIDES", L"winebrowser.exe=d"}});
  Client c;
  open_panel(c, 5, "C:\\windows\\system32\\notepad.exe");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini"));

  ASSERT_TRUE(c.send(LoginRequest{5, "claude", "sso"}));
  until_note(c, "§account:");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 끝 Claude"));
  EXPECT_EQ(log_count("로그인 주소 열기 (Claude)"), 1u);
  EXPECT_EQ(starts_with_arg(L"bin\\claude", "--sso"), 1u);

  // The login tool exits at once; the state that ends it is the last word.
  ASSERT_TRUE(c.send(LoginRequest{5, "chatgpt", ""}));
  Seen seen = until_note(c, "§account:");
  ASSERT_FALSE(seen.states.empty());
  EXPECT_EQ(seen.states.back().providers[1].login, LoginState::in);
  EXPECT_EQ(seen.notes.front(), "ChatGPT 로그인을 시작했습니다. 브라우저에서 로그인을 마치십시오.");
  // Nothing turns it back to logging_in afterwards.
  while (auto e = c.next(1000)) {
    if (auto* s = std::get_if<StateEvent>(&*e)) {
      EXPECT_NE(s->providers[1].login, LoginState::logging_in);
    }
  }
  const auto codex = tools.records(L"bin\\codex");
  ASSERT_EQ(codex.size(), 4u);  // refresh, login, final check, description
  EXPECT_EQ(argv_of(codex, 1), (std::vector<std::string>{"login"}));
  EXPECT_EQ(codex[1]["cwd"], to_utf8(profile));
}

TEST_F(AccountsE2E, GeminiCliLoginPreparesItsProfileAndAnswersTheTool) {
  // gemini.cmd (run through cmd.exe) forwards to the stand-in; the folder
  // also holds inside-hook.cjs, which the login preloads into node.
  const std::string address = "https://accounts.google.com/o/oauth2/v2/auth?client_id=1";
  tools.install(L"bin\\gemini-real.exe", "stdin line\nout https://example.com/help\nout Go to " + address +
                                             " now\nerr " + address + "\nexit 0\n");
  tools.write(L"bin\\gemini.cmd", "@\"%~dp0gemini-real.exe\" %*\r\n");
  tools.write(L"bin\\inside-hook.cjs", "");
  start();
  const std::wstring home = data + L"\\Lumaro\\gemini-home";
  create_directories(home + L"\\.gemini");
  ASSERT_FALSE(write_whole_file(home + L"\\.gemini\\settings.json", R"({"ui":{"theme":"Dark"}})"));
  Client c;
  open_panel(c, 8, "browser:chrome");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini LoggedOut"));

  ASSERT_TRUE(c.send(LoginRequest{8, "gemini", ""}));
  Seen seen = until_note(c, "§account:");
  ASSERT_GE(seen.notes.size(), 3u);
  EXPECT_EQ(seen.notes[0], "Gemini 로그인을 시작했습니다. 브라우저에서 로그인을 마치십시오.");
  EXPECT_EQ(seen.notes[1], "§open:" + address);
  EXPECT_EQ(std::count_if(seen.notes.begin(), seen.notes.end(), [](const std::string& n) { return n.starts_with("§open:"); }),
            1);
  const auto login = tools.records(L"bin\\gemini-real");
  ASSERT_FALSE(login.empty());
  const auto& r = login.back();
  EXPECT_EQ(argv_of(login, login.size() - 1),
            (std::vector<std::string>{"-p", "로그인 확인입니다. OK 한 단어로만 답하세요.", "--skip-trust"}));
  EXPECT_EQ(r["stdin"], "Y\n");
  EXPECT_EQ(r["cwd"], to_utf8(home));
  EXPECT_EQ(r["env"]["USERPROFILE"], to_utf8(home));
  std::string hook = to_utf8(tools.dir() + L"\\bin\\inside-hook.cjs");
  std::replace(hook.begin(), hook.end(), '\\', '/');
  EXPECT_EQ(r["env"]["NODE_OPTIONS"], "--require \"" + hook + "\"");
  // The user's own settings stay; the login method is set.
  EXPECT_EQ(read_small_file(home + L"\\.gemini\\settings.json", 1 << 20).value_or(""),
            "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\"\n    }\n  },\n"
            "  \"ui\": {\n    \"theme\": \"Dark\"\n  }\n}");
  // No credential files appeared: the login ends logged out.
  ASSERT_FALSE(seen.states.empty());
  EXPECT_EQ(seen.states.back().providers[2].login, LoginState::out);
  EXPECT_EQ(log_count("로그인 끝 Gemini LoggedOut"), 1u);
}

TEST_F(AccountsE2E, LogoutReportsSuccessOrTheToolsReason) {
  const std::wstring claude = tools.install(L"bin\\claude.exe", kClaudeStatusIn);
  tools.install(L"bin\\codex.exe", "err  not logged in \nexit 1\n");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 6, "browser:edge");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini"));

  tools.install(L"bin\\claude.exe", "exit 0\n");
  ASSERT_TRUE(c.send(LogoutRequest{6, "claude"}));
  Seen seen = until_note(c, "§account:");
  EXPECT_EQ(seen.notes, (std::vector<std::string>{
                            "Claude 에서 로그아웃했습니다",
                            R"(§account:{"email":"","expires":"","installed":true,"loggedIn":false,"method":"","plan":"","provider":"claude"})"}));
  ASSERT_FALSE(seen.states.empty());
  EXPECT_EQ(seen.states.back().providers[0].login, LoginState::out);
  EXPECT_EQ(starts_with_arg(L"bin\\claude", "logout"), 1u);
  EXPECT_EQ(log_count("로그아웃 Claude"), 1u);

  ASSERT_TRUE(c.send(LogoutRequest{6, "chatgpt"}));
  seen = until_note(c, "§account:");
  EXPECT_EQ(seen.notes, (std::vector<std::string>{
                            "로그아웃 실패 not logged in",
                            R"(§account:{"installed":true,"loggedIn":false,"models":[],"provider":"chatgpt"})"}));
  EXPECT_TRUE(seen.states.empty());

  ASSERT_TRUE(c.send(LogoutRequest{6, "gemini"}));
  EXPECT_EQ(until_note(c, "§account:").notes,
            (std::vector<std::string>{"Gemini CLI (Google) 이 설치되어 있지 않습니다",
                                      R"(§account:{"installed":false,"provider":"gemini"})"}));
  EXPECT_EQ(log_count("로그아웃 ChatGPT"), 0u);
}

TEST_F(AccountsE2E, UsageIsAnsweredAndKeptForAMinute) {
  const std::wstring claude = tools.install(
      L"bin\\claude.exe",
      R"(out {"result":"Current session: 23% used · resets 5pm (Asia/Seoul)\nCurrent week (all models): 41% used · resets Mar 3\nno colon here"})"
      "\n");
  start({{L"LUMARO_CLAUDE", claude}});
  Client c;
  open_panel(c, 7, "browser:chrome");
  ASSERT_TRUE(wait_for_log(data, host.pid, "로그인 상태 Gemini"));
  const std::string answer =
      R"x(§usage:[{"name":"세션","pct":23,"reset":"5pm (Asia/Seoul)"},{"name":"주간","pct":41,"reset":"Mar 3"}])x";
  ASSERT_TRUE(c.send(UsageRequest{7, "claude"}));
  EXPECT_EQ(until_note(c, "§usage:").notes.back(), answer);
  EXPECT_EQ(starts_with_arg(L"bin\\claude", "/usage"), 1u);
  const auto records = tools.records(L"bin\\claude");
  EXPECT_EQ(argv_of(records, records.size() - 1), (std::vector<std::string>{"-p", "/usage", "--output-format", "json"}));

  // Within the minute the cache answers, even though the tool now says otherwise.
  tools.install(L"bin\\claude.exe", "out {\"result\":\"Extra usage: 100% used\"}\n");
  ASSERT_TRUE(c.send(UsageRequest{7, "claude"}));
  EXPECT_EQ(until_note(c, "§usage:").notes.back(), answer);
  EXPECT_EQ(starts_with_arg(L"bin\\claude", "/usage"), 1u);
  ASSERT_TRUE(c.send(UsageRequest{7, "gemini"}));
  EXPECT_EQ(until_note(c, "§usage:").notes.back(), "§usage:[]");
}

}  // namespace
}  // namespace lumaro
