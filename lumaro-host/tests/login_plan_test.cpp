#include "runner/login_plan.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace lumaro {
namespace {

using Args = std::vector<std::string>;

constexpr int kClaude = 0, kChatgpt = 1, kGemini = 2;

TEST(LoginCommand, ArgumentsFolderAndInputPerTool) {
  struct Case {
    CliKind kind;
    std::string method;
    LoginCommand command;
  };
  const std::string prompt = "로그인 확인입니다. OK 한 단어로만 답하세요.";
  const Case cases[] = {
      {CliKind::ClaudeCode, "", {{"auth", "login", "--claudeai"}, "C:\\U", false}},
      {CliKind::ClaudeCode, "sso", {{"auth", "login", "--sso"}, "C:\\U", false}},
      {CliKind::ClaudeCode, "SSO", {{"auth", "login", "--claudeai"}, "C:\\U", false}},
      {CliKind::ClaudeCode, "console", {{"auth", "login", "--console"}, "C:\\U", false}},
      {CliKind::ClaudeCode, " console", {{"auth", "login", "--claudeai"}, "C:\\U", false}},
      {CliKind::Codex, "sso", {{"login"}, "C:\\U", false}},
      {CliKind::GeminiCli, "console", {{"-p", prompt, "--skip-trust"}, "C:\\D\\gemini-home", true}},
      {CliKind::Agy, "", {{"--print=" + prompt}, "C:\\U", false}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(login_command(c.kind, c.method, "C:\\U", "C:\\D"), c.command)
        << static_cast<int>(c.kind) << " [" << c.method << "]";
  }
  EXPECT_EQ(std::string(kGeminiLoginInput), "Y\n");
  EXPECT_EQ(kGeminiInputKeep.count(), 330);
}

TEST(LoginGeminiSettings, SelectedTypeSetEverythingElseKept) {
  struct Case {
    const char* what;
    std::optional<std::string> old_text;
    std::string new_text;
  };
  const std::string only_ours =
      "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\"\n    }\n  }\n}";
  const Case cases[] = {
      {"no file", std::nullopt, only_ours},
      {"empty file", "", only_ours},
      {"not json", "{ui:", only_ours},
      {"an array", "[1]", only_ours},
      {"security null", R"({"security":null})", only_ours},
      {"ui kept",
       R"({"ui":{"theme":"Dark","hideTips":true}})",
       "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\"\n    }\n  },\n"
       "  \"ui\": {\n    \"hideTips\": true,\n    \"theme\": \"Dark\"\n  }\n}"},
      {"other type replaced, siblings kept",
       R"({"security":{"auth":{"selectedType":"gemini-api-key","useExternal":false},"folderTrust":{"enabled":true}}})",
       "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\",\n"
       "      \"useExternal\": false\n    },\n    \"folderTrust\": {\n      \"enabled\": true\n    }\n  }\n}"},
      {"auth not an object", R"({"security":{"auth":"x","a":1}})",
       "{\n  \"security\": {\n    \"a\": 1,\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\"\n    }\n  }\n}"},
      {"security not an object, comments", "// mine\n{\"security\":[1],\"z\":0}",
       "{\n  \"security\": {\n    \"auth\": {\n      \"selectedType\": \"oauth-personal\"\n    }\n  },\n"
       "  \"z\": 0\n}"},
  };
  for (const Case& c : cases) EXPECT_EQ(gemini_login_settings(c.old_text), c.new_text) << c.what;
}

TEST(LoginGeminiSettings, NodeOptionsFromTheToolsFolder) {
  const std::set<std::string> files{"C:\\Program Files\\nodejs\\inside-hook.cjs", "D:\\x\\inside-hook.cjs"};
  const PathExists exists = [&](const std::string& p) { return files.count(p) > 0; };
  struct Case {
    std::string tool;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"C:\\Program Files\\nodejs\\gemini.cmd", "--require \"C:/Program Files/nodejs/inside-hook.cjs\""},
      {"D:\\x\\gemini", "--require \"D:/x/inside-hook.cjs\""},
      {"C:\\Users\\u\\AppData\\Roaming\\npm\\gemini.cmd", std::nullopt},
      {"gemini.cmd", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(gemini_login_node_options(c.tool, exists), c.value) << c.tool;
}

TEST(LoginAddress, FromOneLine) {
  struct Case {
    std::string line;
    int provider;
    std::optional<std::string> address;
  };
  const Case cases[] = {
      {"Browser didn't open? Use the url below to sign in:", kClaude, std::nullopt},
      {"https://claude.ai/oauth/authorize?code=true&x=1", kClaude, "https://claude.ai/oauth/authorize?code=true&x=1"},
      {"see https://docs.example.com/terms now", kClaude, "https://docs.example.com/terms"},
      {"see https://docs.example.com/terms now", kChatgpt, std::nullopt},
      {"open https://auth.openai.com/oauth/authorize?a=b and wait", kChatgpt,
       "https://auth.openai.com/oauth/authorize?a=b"},
      {"https://accounts.google.com/o/x\tnext", kGemini, "https://accounts.google.com/o/x"},
      {"https://example.com/Login", kGemini, std::nullopt},  // case-sensitive marks
      {"https://example.com/login", kGemini, "https://example.com/login"},
      {"go: https://example.com/auth\xE3\x80\x80(ideographic space)", kChatgpt, "https://example.com/auth"},
      {"https://example.com/auth\xC2\xA0nbsp", kChatgpt, "https://example.com/auth"},
      {"https://example.com/auth\xE2\x80\x8Bzero-width", kChatgpt,
       "https://example.com/auth\xE2\x80\x8Bzero-width"},  // U+200B is not white space
      {"http://example.com/auth https://b/login", kChatgpt, "https://b/login"},
      {"https://a/docs https://b/login", kChatgpt, std::nullopt},  // only the first address counts
      {"https://", kClaude, "https://"},
  };
  for (const Case& c : cases) EXPECT_EQ(sign_in_address(c.line, c.provider), c.address) << c.line;
}

std::vector<std::string> scan(int provider, const std::vector<std::string>& chunks, bool* stopped = nullptr) {
  LoginOutputScanner scanner(provider);
  std::vector<std::string> found;
  for (const std::string& chunk : chunks) {
    for (std::string& a : scanner.feed(chunk)) found.push_back(std::move(a));
  }
  for (std::string& a : scanner.finish()) found.push_back(std::move(a));
  if (stopped) *stopped = scanner.stopped();
  return found;
}

TEST(LoginAddress, StreamCutIntoLines) {
  struct Case {
    const char* what;
    int provider;
    std::vector<std::string> chunks;
    std::vector<std::string> found;
    bool stopped;
  };
  const std::string long_line(kMaxLoginLine, 'x');
  const Case cases[] = {
      {"codex docs line then oauth line", kChatgpt,
       {"Visit https://platform.example.com/docs\n", "Open https://auth.example.com/oauth?x=1 in your browser\n"},
       {"https://auth.example.com/oauth?x=1"}, false},
      {"address split across reads, CRLF", kClaude, {"go to https://cla", "ude.ai/o?a=1\r", "\nok\r\n"},
       {"https://claude.ai/o?a=1"}, false},
      {"last line without line feed", kClaude, {"x\nhttps://claude.ai/o"}, {"https://claude.ai/o"}, false},
      {"every line offers its address", kClaude, {"https://a/1\nhttps://a/2\n"}, {"https://a/1", "https://a/2"},
       false},
      {"invalid line stops the scan", kClaude, {"bad \xFF\nhttps://claude.ai/o\n"}, {}, true},
      {"invalid bytes after the address line", kClaude, {"https://claude.ai/o\n\xC0\xAF\nhttps://b\n"},
       {"https://claude.ai/o"}, true},
      {"line at the bound is read", kClaude, {long_line.substr(11) + "https://a/", "b\n"},
       {"https://a/" + std::string("b")}, false},
      {"overlong line dropped, next read", kClaude, {long_line, "https://a/x\nhttps://a/y\n"}, {"https://a/y"},
       false},
  };
  for (const Case& c : cases) {
    bool stopped = false;
    EXPECT_EQ(scan(c.provider, c.chunks, &stopped), c.found) << c.what;
    EXPECT_EQ(stopped, c.stopped) << c.what;
  }
}

TEST(AccountLogout, ActionsArgumentsAndErrors) {
  EXPECT_EQ(logout_action(CliKind::ClaudeCode), LogoutAction::run_tool);
  EXPECT_EQ(logout_action(CliKind::Codex), LogoutAction::run_tool);
  EXPECT_EQ(logout_action(CliKind::GeminiCli), LogoutAction::delete_gemini_files);
  EXPECT_EQ(logout_action(CliKind::Agy), LogoutAction::refuse);
  EXPECT_EQ(logout_args(CliKind::ClaudeCode), (Args{"auth", "logout"}));
  EXPECT_EQ(logout_args(CliKind::Codex), (Args{"logout"}));

  struct Case {
    ToolRun run;
    std::optional<std::string> error;
  };
  const Case cases[] = {
      {{true, 0, "bye", "warning"}, std::nullopt},
      {{true, 1, "", "  not logged in\r\n"}, "로그아웃 실패 not logged in"},
      {{true, 3, "", "\xE3\x80\x80x\xFFy\n"}, "로그아웃 실패 x\xEF\xBF\xBDy"},
      {{false, 0, "", ""}, "로그아웃하지 못했습니다: 지정된 파일을 찾을 수 없습니다."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(logout_error(c.run, "지정된 파일을 찾을 수 없습니다."), c.error) << c.run.err;
  }
}

TEST(LoginMessages, FilledByteForByte) {
  EXPECT_EQ(fill_message(kToolNotInstalled, "Codex CLI (OpenAI)"), "Codex CLI (OpenAI) 이 설치되어 있지 않습니다");
  EXPECT_EQ(fill_message(kLoginStarted, "Claude"), "Claude 로그인을 시작했습니다. 브라우저에서 로그인을 마치십시오.");
  EXPECT_EQ(fill_message(kLoggedOut, "Gemini"), "Gemini 에서 로그아웃했습니다");
  EXPECT_EQ(fill_message(kOpenNote, "https://a/b"), "§open:https://a/b");
  EXPECT_EQ(fill_message(kLogLoginState, "ChatGPT", "LoggedIn"), "로그인 상태 ChatGPT LoggedIn");
  EXPECT_EQ(fill_message(kLogLoginFinished, "Claude", "Missing"), "로그인 끝 Claude Missing");
  EXPECT_EQ(fill_message(kLogOpenAddress, "Claude"), "로그인 주소 열기 (Claude)");
}

}  // namespace
}  // namespace lumaro
