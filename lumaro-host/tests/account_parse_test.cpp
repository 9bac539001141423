#include "runner/account_parse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace lumaro {
namespace {

ToolRun ran(uint32_t exit_code, std::string out, std::string err = {}) {
  return ToolRun{true, exit_code, std::move(out), std::move(err)};
}

const ToolRun kNotStarted{};

TEST(AccountLoginState, FromEachToolsRun) {
  struct Case {
    const char* what;
    CliKind kind;
    ToolRun run;
    LoginState state;
  };
  const Case cases[] = {
      {"claude true", CliKind::ClaudeCode, ran(0, R"({"loggedIn":true,"email":"u1"})"), LoginState::in},
      {"claude exit code ignored", CliKind::ClaudeCode, ran(1, R"({"loggedIn":true})"), LoginState::in},
      {"claude around unicode space", CliKind::ClaudeCode, ran(0, "\xE3\x80\x80\n {\"loggedIn\":true}\r\n\xC2\xA0"),
       LoginState::in},
      {"claude stray byte in a string", CliKind::ClaudeCode, ran(0, "{\"email\":\"a\xFF\",\"loggedIn\":true}"),
       LoginState::in},
      {"claude false", CliKind::ClaudeCode, ran(0, R"({"loggedIn":false})"), LoginState::out},
      {"claude string true", CliKind::ClaudeCode, ran(0, R"({"loggedIn":"true"})"), LoginState::out},
      {"claude number", CliKind::ClaudeCode, ran(0, R"({"loggedIn":1})"), LoginState::out},
      {"claude member missing", CliKind::ClaudeCode, ran(0, R"({"email":"u1"})"), LoginState::out},
      {"claude text after the object", CliKind::ClaudeCode, ran(0, "{\"loggedIn\":true}\nUpdate available\n"),
       LoginState::out},
      {"claude array", CliKind::ClaudeCode, ran(0, R"([{"loggedIn":true}])"), LoginState::out},
      {"claude empty", CliKind::ClaudeCode, ran(0, ""), LoginState::out},
      {"claude not started", CliKind::ClaudeCode, kNotStarted, LoginState::missing},
      {"codex 0", CliKind::Codex, ran(0, "Not logged in"), LoginState::in},
      {"codex 1", CliKind::Codex, ran(1, "Logged in using ChatGPT"), LoginState::out},
      {"codex not started", CliKind::Codex, kNotStarted, LoginState::missing},
      {"agy listing", CliKind::Agy, ran(0, "gemini-3-pro\n"), LoginState::in},
      {"agy sign in on stdout", CliKind::Agy, ran(0, "Please sign in first\n"), LoginState::out},
      {"agy sign in on stderr", CliKind::Agy, ran(0, "models:\n", "please sign in"), LoginState::out},
      {"agy capital S", CliKind::Agy, ran(0, "Sign in to continue"), LoginState::in},
      {"agy split across streams", CliKind::Agy, ran(0, "please sign", " in"), LoginState::out},
      {"agy failure", CliKind::Agy, ran(2, "gemini-3-pro"), LoginState::out},
      {"agy not started", CliKind::Agy, kNotStarted, LoginState::missing},
  };
  for (const Case& c : cases) EXPECT_EQ(login_state_from_run(c.kind, c.run), c.state) << c.what;
  EXPECT_EQ(gemini_cli_login_state(true), LoginState::in);
  EXPECT_EQ(gemini_cli_login_state(false), LoginState::out);
}

TEST(AccountLoginState, ProbeArgumentsAndFiles) {
  EXPECT_EQ(login_probe_args(CliKind::ClaudeCode), (std::vector<std::string>{"auth", "status", "--json"}));
  EXPECT_EQ(login_probe_args(CliKind::Codex), (std::vector<std::string>{"login", "status"}));
  EXPECT_EQ(login_probe_args(CliKind::Agy), (std::vector<std::string>{"models"}));
  EXPECT_TRUE(login_probe_args(CliKind::GeminiCli).empty());
  EXPECT_EQ(gemini_oauth_creds_path("C:\\D"), "C:\\D\\gemini-home\\.gemini\\oauth_creds.json");
  EXPECT_EQ(gemini_accounts_path("C:\\D"), "C:\\D\\gemini-home\\.gemini\\google_accounts.json");
  EXPECT_EQ(gemini_settings_path("C:\\D"), "C:\\D\\gemini-home\\.gemini\\settings.json");
  EXPECT_EQ(codex_models_cache_path("C:\\U"), "C:\\U\\.codex\\models_cache.json");
}

TEST(AccountStatus, ExactDescriptionPerCase) {
  struct Case {
    const char* what;
    nlohmann::json description;
    std::string note;
  };
  const Case cases[] = {
      {"not installed", account_not_installed(1), R"(§account:{"installed":false,"provider":"chatgpt"})"},
      {"claude", claude_account(ran(0, R"({"loggedIn":true,"email":"u1","subscriptionType":"x"})")),
       R"(§account:{"email":"u1","expires":"","installed":true,"loggedIn":true,"method":"","plan":"x","provider":"claude"})"},
      {"claude all members",
       claude_account(ran(0, " \t{\"loggedIn\":true,\"email\":\"a@b\",\"subscriptionType\":\"max\","
                             "\"authMethod\":\"claude.ai\",\"loginExpiresAt\":\"2026-01-01\"}\r\n")),
       R"(§account:{"email":"a@b","expires":"2026-01-01","installed":true,"loggedIn":true,"method":"claude.ai","plan":"max","provider":"claude"})"},
      {"claude followed by text", claude_account(ran(0, "{\"loggedIn\":true,\"email\":\"u1\"}\nmore\n")),
       R"(§account:{"email":"","expires":"","installed":true,"loggedIn":false,"method":"","plan":"","provider":"claude"})"},
      {"claude mistyped members", claude_account(ran(0, R"({"loggedIn":"true","email":5,"subscriptionType":null})")),
       R"(§account:{"email":"","expires":"","installed":true,"loggedIn":false,"method":"","plan":"","provider":"claude"})"},
      {"claude not started", claude_account(kNotStarted),
       R"(§account:{"email":"","expires":"","installed":true,"loggedIn":false,"method":"","plan":"","provider":"claude"})"},
      {"chatgpt none", chatgpt_account(false, {}),
       R"(§account:{"installed":true,"loggedIn":false,"models":[],"provider":"chatgpt"})"},
      {"chatgpt one", chatgpt_account(true, {{"gpt-5", "GPT-5", "d", "medium", {"low", "high"}}}),
       R"(§account:{"installed":true,"loggedIn":true,"models":[{"default":"medium","desc":"d","efforts":["low","high"],"name":"GPT-5","slug":"gpt-5"}],"provider":"chatgpt"})"},
      {"gemini cli", gemini_cli_account(true, R"({"active":"u1","old":["u0"]})"),
       R"(§account:{"email":"u1","installed":true,"loggedIn":true,"method":"google","provider":"gemini"})"},
      {"gemini cli no accounts file", gemini_cli_account(false, std::nullopt),
       R"(§account:{"email":"","installed":true,"loggedIn":false,"method":"google","provider":"gemini"})"},
      {"gemini cli active null", gemini_cli_account(true, R"({"active":null})"),
       R"(§account:{"email":"","installed":true,"loggedIn":true,"method":"google","provider":"gemini"})"},
      {"agy", agy_account(true), R"(§account:{"installed":true,"loggedIn":true,"provider":"gemini"})"},
  };
  for (const Case& c : cases) EXPECT_EQ(account_note(c.description), c.note) << c.what;
}

TEST(AccountStatus, GeminiActiveAccount) {
  struct Case {
    std::optional<std::string> text;
    std::string email;
  };
  const Case cases[] = {
      {R"({"active":"u1"})", "u1"},
      {"\xEF\xBB\xBF{\"active\":\"u1\"}", "u1"},  // byte order mark
      {R"({"active":["u1"]})", ""},
      {R"(["u1"])", ""},
      {"{\"active\":\"u1\"", ""},
      {"", ""},
      {std::nullopt, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(gemini_active_account(c.text), c.email) << c.text.value_or("(none)");
}

std::string cache_with(const std::string& model) { return R"({"fetched_at":1,"models":[)" + model + "]}"; }

TEST(AccountModels, WhichEntriesAreListedAndHow) {
  struct Case {
    const char* what;
    std::string element;
    std::vector<CodexModel> models;
  };
  const std::string slug64(64, 'a');
  const std::string slug65(65, 'a');
  const Case cases[] = {
      {"full",
       R"({"slug":"gpt-5.1-codex","display_name":"GPT-5.1 Codex","description":"d","visibility":"list",
           "default_reasoning_level":"medium",
           "supported_reasoning_levels":[{"effort":"low","description":"x"},{"effort":"high"}]})",
       {{"gpt-5.1-codex", "GPT-5.1 Codex", "d", "medium", {"low", "high"}}}},
      {"bare: name is the slug", R"({"slug":"A_b-9.z","visibility":"list"})", {{"A_b-9.z", "A_b-9.z", "", "", {}}}},
      {"64-byte slug", R"({"slug":")" + slug64 + R"(","visibility":"list"})", {{slug64, slug64, "", "", {}}}},
      {"65-byte slug", R"({"slug":")" + slug65 + R"(","visibility":"list"})", {}},
      {"empty slug", R"({"slug":"","visibility":"list"})", {}},
      {"slug with space", R"({"slug":"gpt 5","visibility":"list"})", {}},
      {"slug with slash", R"({"slug":"openai/gpt-5","visibility":"list"})", {}},
      {"slug not ascii", R"({"slug":"gpt-5é","visibility":"list"})", {}},
      {"slug number", R"({"slug":5,"visibility":"list"})", {}},
      {"hidden", R"({"slug":"gpt-5","visibility":"hide"})", {}},
      {"visibility List", R"({"slug":"gpt-5","visibility":"List"})", {}},
      {"no visibility", R"({"slug":"gpt-5"})", {}},
      {"not an object", R"("gpt-5")", {}},
      {"efforts filtered",
       R"({"slug":"m","visibility":"list","supported_reasoning_levels":
           [{"effort":"High"},{"effort":""},{"effort":"x-high"},{"effort":3},{},"low",{"effort":"minimal"}]})",
       {{"m", "m", "", "", {"", "minimal"}}}},
      {"levels not an array", R"({"slug":"m","visibility":"list","supported_reasoning_levels":{"effort":"low"}})",
       {{"m", "m", "", "", {}}}},
      {"mistyped texts",
       R"({"slug":"m","visibility":"list","display_name":null,"description":1,"default_reasoning_level":[]})",
       {{"m", "m", "", "", {}}}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_models_cache(cache_with(c.element)), c.models) << c.what;
}

TEST(AccountModels, FileOrderAndUnusableFiles) {
  const auto two = parse_models_cache(cache_with(
      R"({"slug":"b","visibility":"list"},{"slug":"x","visibility":"none"},{"slug":"a","visibility":"list"})"));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].slug, "b");
  EXPECT_EQ(two[1].slug, "a");

  const std::optional<std::string> unusable[] = {std::nullopt, "", "not json", R"({"models":{}})", R"([])",
                                                 R"({"models":[{"slug":"a","visibility":"list"}]} trailing)"};
  for (const auto& text : unusable) EXPECT_TRUE(parse_models_cache(text).empty()) << text.value_or("(none)");
}

}  // namespace
}  // namespace lumaro
