#include "runner/cli_command.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "chat/prompt.h"
#include "runner/cli_args.h"

namespace lumaro {
namespace {

using Args = std::vector<std::string>;
using Env = std::vector<std::pair<std::string, std::string>>;

PathExists existing(std::set<std::string> paths) {
  return [paths = std::move(paths)](const std::string& p) { return paths.count(p) > 0; };
}

// ---- finding the tools -------------------------------------------------------

TEST(CliKind, ByProviderAndFileStem) {
  struct Case {
    int provider;
    std::string path;
    CliKind kind;
  };
  const Case cases[] = {
      {0, "C:\\npm\\claude.cmd", CliKind::ClaudeCode},
      {1, "C:\\npm\\codex.cmd", CliKind::Codex},
      {2, "C:\\npm\\gemini.cmd", CliKind::GeminiCli},
      {2, "C:\\x\\GEMINI.CMD", CliKind::GeminiCli},
      {2, "C:\\x\\Gemini", CliKind::GeminiCli},
      {2, "C:\\gemini\\agy.exe", CliKind::Agy},
      {2, "C:\\x\\gemini-cli.cmd", CliKind::Agy},
      {2, "C:\\x\\gemini.cmd.bak", CliKind::Agy},
      {7, "C:\\x\\gemini.cmd", CliKind::ClaudeCode},  // out of range reads as claude
  };
  for (const Case& c : cases) EXPECT_EQ(cli_kind(c.provider, c.path), c.kind) << c.provider << " " << c.path;
}

CliEnvironment full_environment() {
  CliEnvironment env;
  env.app_data = "C:\\U\\AppData\\Roaming";
  env.home_dir = "C:\\U";
  env.tool_local_app_data = "C:\\U\\AppData\\Local";
  env.host_dir = "C:\\Lumaro\\x64";
  return env;
}

TEST(FindCli, FixedCandidatesInOrderThenPath) {
  struct Case {
    const char* what;
    int provider;
    std::optional<std::string> lumaro_claude;
    std::optional<std::string> path;
    std::set<std::string> files;
    std::optional<std::string> found;
  };
  const std::string roaming_npm = "C:\\U\\AppData\\Roaming\\npm\\";
  const std::string local = "C:\\U\\AppData\\Local\\";
  const Case cases[] = {
      {"override first", 0, "D:\\tools\\claude.exe", std::nullopt,
       {"D:\\tools\\claude.exe", "C:\\U\\.local\\bin\\claude.exe"}, "D:\\tools\\claude.exe"},
      {"override naming a missing file", 0, "D:\\gone\\claude.exe", std::nullopt,
       {"C:\\U\\.local\\bin\\claude.exe", roaming_npm + "claude.cmd"}, "C:\\U\\.local\\bin\\claude.exe"},
      {"npm claude", 0, std::nullopt, "C:\\bin", {roaming_npm + "claude.cmd", "C:\\bin\\claude.exe"},
       roaming_npm + "claude.cmd"},
      {"path: folders before names", 0, std::nullopt, "C:\\a;C:\\b", {"C:\\b\\claude.exe", "C:\\a\\claude.cmd"},
       "C:\\a\\claude.cmd"},
      {"path: quoted, empty and relative entries", 0, std::nullopt, ";.;bin;\"C:\\Program Files\\c\";",
       {".\\claude.exe", "bin\\claude.exe", "C:\\Program Files\\c\\claude.cmd"},
       "C:\\Program Files\\c\\claude.cmd"},
      {"nothing", 0, std::nullopt, "C:\\a", {"C:\\a\\codex.exe"}, std::nullopt},
      {"codex standalone", 1, std::nullopt, std::nullopt,
       {local + "Programs\\OpenAI\\Codex\\bin\\codex.exe", roaming_npm + "codex.cmd"},
       local + "Programs\\OpenAI\\Codex\\bin\\codex.exe"},
      {"codex npm", 1, std::nullopt, std::nullopt, {roaming_npm + "codex.cmd"}, roaming_npm + "codex.cmd"},
      {"codex path", 1, std::nullopt, "C:\\a", {"C:\\a\\codex.cmd"}, "C:\\a\\codex.cmd"},
      {"gemini beside the host", 2, std::nullopt, std::nullopt,
       {"C:\\Lumaro\\gemini\\gemini.cmd", local + "agy\\bin\\agy.exe"}, "C:\\Lumaro\\gemini\\gemini.cmd"},
      {"gemini from nodejs", 2, std::nullopt, std::nullopt,
       {local + "Programs\\nodejs\\gemini.cmd", roaming_npm + "gemini.cmd"}, local + "Programs\\nodejs\\gemini.cmd"},
      {"gemini npm before agy", 2, std::nullopt, std::nullopt,
       {roaming_npm + "gemini.cmd", local + "agy\\bin\\agy.exe"}, roaming_npm + "gemini.cmd"},
      {"agy", 2, std::nullopt, "C:\\a", {local + "agy\\bin\\agy.exe", "C:\\a\\gemini.cmd"},
       local + "agy\\bin\\agy.exe"},
      {"agy on path", 2, std::nullopt, "C:\\a;C:\\b", {"C:\\b\\gemini.cmd", "C:\\a\\agy.exe"}, "C:\\a\\agy.exe"},
  };
  for (const Case& c : cases) {
    CliEnvironment env = full_environment();
    env.lumaro_claude = c.lumaro_claude;
    env.path = c.path;
    EXPECT_EQ(find_cli(c.provider, env, existing(c.files)), c.found) << c.what;
  }
}

TEST(FindCli, CandidatesOfMissingVariablesAreSkipped) {
  CliEnvironment env;  // no APPDATA, no PATH, no folders known
  const PathExists anything_relative = [](const std::string& p) { return p.find(':') == std::string::npos; };
  for (int provider = 0; provider < 3; ++provider) {
    EXPECT_EQ(find_cli(provider, env, anything_relative), std::nullopt) << provider;
  }
  env.host_dir = "x64";  // no parent folder to look in
  EXPECT_EQ(find_cli(2, env, anything_relative), std::nullopt);
}

// ---- preparing the process ---------------------------------------------------

TEST(BuildCliCommand, NpmClaudeRunsAsNodeWithItsScriptWhenBothExist) {
  const std::string dir = "C:\\U\\AppData\\Roaming\\npm";
  const std::string cmd = dir + "\\claude.cmd";
  const std::string cli_js = dir + "\\node_modules\\@anthropic-ai\\claude-code\\cli.js";
  const std::optional<std::string> path_env = "C:\\nodejs;C:\\other";
  struct Case {
    const char* what;
    std::string tool;
    std::set<std::string> files;
    std::string program;
    Args args;
  };
  const Case cases[] = {
      {"node beside", cmd, {cmd, cli_js, dir + "\\node.exe", "C:\\nodejs\\node.exe"}, dir + "\\node.exe", {cli_js}},
      {"node from PATH", cmd, {cmd, cli_js, "C:\\other\\node.exe"}, "C:\\other\\node.exe", {cli_js}},
      {"no node at all", cmd, {cmd, cli_js}, cmd, {}},
      {"no cli.js", cmd, {cmd, dir + "\\node.exe"}, cmd, {}},
      {"batch spelling", dir + "\\Claude.BAT", {cli_js, dir + "\\node.exe"}, dir + "\\node.exe", {cli_js}},
      {"native claude", "C:\\U\\.local\\bin\\claude.exe", {cli_js, "C:\\U\\.local\\bin\\node.exe"},
       "C:\\U\\.local\\bin\\claude.exe", {}},
      {"other npm tool", dir + "\\codex.cmd", {cli_js, dir + "\\node.exe"}, dir + "\\codex.cmd", {}},
  };
  for (const Case& c : cases) {
    const CliCommand command = build_cli_command(c.tool, "C:\\L", existing(c.files), path_env);
    EXPECT_EQ(command.program, c.program) << c.what;
    EXPECT_EQ(command.args, c.args) << c.what;
    EXPECT_EQ(command.creation_flags, 0x08000000u) << c.what;
  }
}

TEST(BuildCliCommand, PrivateProfilesForClaudeAndTheGeminiCli) {
  struct Case {
    std::string tool;
    Env env;
    Args dirs;
  };
  const Case cases[] = {
      {"C:\\npm\\claude.cmd", {{"CLAUDE_CONFIG_DIR", "C:\\L\\claude"}}, {"C:\\L\\claude"}},
      {"C:\\b\\CLAUDE.exe", {{"CLAUDE_CONFIG_DIR", "C:\\L\\claude"}}, {"C:\\L\\claude"}},
      {"C:\\npm\\gemini.cmd",
       {{"USERPROFILE", "C:\\L\\gemini-home"}, {"HOME", "C:\\L\\gemini-home"}},
       {"C:\\L\\gemini-home\\.gemini"}},
      {"C:\\a\\agy.exe", {}, {}},
      {"C:\\a\\codex.exe", {}, {}},
  };
  for (const Case& c : cases) {
    const CliCommand command = build_cli_command(c.tool, "C:\\L", existing({}), std::nullopt);
    EXPECT_EQ(command.program, c.tool);
    EXPECT_EQ(command.env, c.env) << c.tool;
    EXPECT_EQ(command.dirs_to_create, c.dirs) << c.tool;
  }
}

// ---- turns -------------------------------------------------------------------

TurnRequest request(std::string model = "") {
  TurnRequest r;
  r.system_prompt = "SYS";
  r.message = "질문";
  r.model = std::move(model);
  return r;
}

TurnInputs inputs() {
  TurnInputs in;
  in.host_pid = 4242;
  in.now_ms = 1700000000123;
  in.turn_number = 7;
  in.temp_dir = "C:\\T";
  in.home_dir = "C:\\U";
  return in;
}

TurnConnector cellwick(std::string program = "C:\\App\\cellwick-cli.exe") {
  return {"cellwick", ConnectorSpec{std::move(program), {"mcp", "--connect", "127.0.0.1:7979"}, 7979}};
}

TurnInvocation plan(CliKind kind, const TurnRequest& r, const TurnInputs& in = inputs()) {
  auto result = build_turn_invocation(kind, r, in);
  EXPECT_TRUE(std::holds_alternative<TurnInvocation>(result));
  return std::holds_alternative<TurnInvocation>(result) ? std::get<TurnInvocation>(result) : TurnInvocation{};
}

const Args kClaudeHead = {"-p", "--output-format", "stream-json", "--verbose", "--include-partial-messages",
                          "--strict-mcp-config", "--tools", ""};

Args concat(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ClaudeTurn, ModelAndEffort) {
  struct Case {
    std::string model;
    Args tail;
    std::string effort;
  };
  const Case cases[] = {
      {"", {}, ""},
      {"opus", {"--model", "opus"}, ""},
      {"sonnet@high", {"--model", "sonnet", "--effort", "high"}, "high"},
      {"@max", {"--effort", "max"}, "max"},
      {"sonnet@fast", {"--model", "sonnet"}, ""},
      {"sonnet@High", {"--model", "sonnet"}, ""},
      {"sonnet@", {"--model", "sonnet"}, ""},
      {"@", {}, ""},
      {"a@b@high", {"--model", "a"}, ""},
  };
  for (const Case& c : cases) {
    const TurnInvocation t = plan(CliKind::ClaudeCode, request(c.model));
    EXPECT_EQ(t.args, concat(concat(kClaudeHead, {"--append-system-prompt", "SYS"}), c.tail)) << c.model;
    EXPECT_EQ(t.effort, c.effort) << c.model;
  }
}

TEST(ClaudeTurn, PlainQuestionWithResumeAndConnector) {
  TurnRequest r = request("sonnet@high");
  r.resume_id = "sess-1";
  r.connector = cellwick();
  const TurnInvocation t = plan(CliKind::ClaudeCode, r);
  const std::string config = "C:\\T\\lumaro-4242-cellwick-7.json";
  EXPECT_EQ(t.args, concat(kClaudeHead, {"--allowedTools", "mcp__cellwick", "--mcp-config", config,
                                         "--append-system-prompt", "SYS", "--model", "sonnet", "--effort", "high",
                                         "--resume", "sess-1"}));
  // The message alone: Claude Code takes the system prompt as an argument.
  EXPECT_EQ(t.stdin_text, std::optional<std::string>("질문"));
  EXPECT_EQ(t.env, (Env{{"MCP_TIMEOUT", "60000"}}));
  ASSERT_EQ(t.files.size(), 1u);
  EXPECT_EQ(t.files[0].path, config);
  EXPECT_EQ(t.files[0].contents,
            "{\"mcpServers\":{\"cellwick\":{\"args\":[\"mcp\",\"--connect\",\"127.0.0.1:7979\"],"
            "\"command\":\"C:\\\\App\\\\cellwick-cli.exe\"}}}");
  EXPECT_TRUE(t.files[0].temporary);
  EXPECT_EQ(t.files[0].failure_template, "설정 파일을 쓰지 못했습니다: {}");
}

TEST(ClaudeTurn, ImagesGoAsOneStreamJsonLine) {
  TurnRequest r = request();
  r.images = {"data:image/png;base64,iVBO", "http://not-a-data-url", "data:image/gif,nobase64",
              "data:image/jpeg;base64,/9j/"};
  const TurnInvocation t = plan(CliKind::ClaudeCode, r);
  EXPECT_EQ(Args(t.args.begin(), t.args.begin() + 5),
            (Args{"-p", "--input-format", "stream-json", "--output-format", "stream-json"}));
  EXPECT_EQ(t.stdin_text,
            std::optional<std::string>(
                "{\"message\":{\"content\":["
                "{\"source\":{\"data\":\"iVBO\",\"media_type\":\"image/png\",\"type\":\"base64\"},\"type\":\"image\"},"
                "{\"source\":{\"data\":\"/9j/\",\"media_type\":\"image/jpeg\",\"type\":\"base64\"},\"type\":\"image\"},"
                "{\"text\":\"질문\",\"type\":\"text\"}],\"role\":\"user\"},\"type\":\"user\"}\n"));
  EXPECT_TRUE(t.files.empty());
}

const Args kCodexTail = {"--disable", "shell_tool"};

TEST(CodexTurn, OverridesModelAndResume) {
  struct Case {
    std::string model;
    Args overrides;
    Args model_args;
  };
  const Case cases[] = {
      {"", {}, {}},
      {"M@high", {"-c", "model_reasoning_effort=\"high\""}, {"-m", "M"}},
      {"M@High", {}, {"-m", "M"}},
      {"M@x1", {}, {"-m", "M"}},
      {"@low", {"-c", "model_reasoning_effort=\"low\""}, {}},
      {"gpt-5", {}, {"-m", "gpt-5"}},
  };
  for (const Case& c : cases) {
    const TurnInvocation t = plan(CliKind::Codex, request(c.model));
    Args expected = {"exec", "--json", "--skip-git-repo-check", "-s", "read-only", "-c", "approval_policy=\"never\""};
    expected = concat(concat(concat(concat(expected, c.overrides), kCodexTail), c.model_args), {"-"});
    EXPECT_EQ(t.args, expected) << c.model;
    EXPECT_EQ(t.effort, "") << c.model;
  }

  TurnRequest resumed = request("M");
  resumed.resume_id = "th-9";
  const TurnInvocation t = plan(CliKind::Codex, resumed);
  EXPECT_EQ(Args(t.args.end() - 5, t.args.end()), (Args{"-m", "M", "resume", "th-9", "-"}));
  EXPECT_EQ(t.stdin_text, std::optional<std::string>("질문"));
  EXPECT_EQ(plan(CliKind::Codex, request()).stdin_text, combined_prompt("SYS", "질문", false));
}

TEST(CodexTurn, ConnectorOverridesQuoteThePaths) {
  struct Case {
    std::string program;
    std::string command_override;
  };
  const Case cases[] = {
      {"C:\\App\\cellwick-cli.exe", "mcp_servers.lumaro_cellwick.command='C:\\App\\cellwick-cli.exe'"},
      {"C:\\Kim's \"App\"\\cellwick-cli.exe",
       "mcp_servers.lumaro_cellwick.command=\"C:\\\\Kim's \\\"App\\\"\\\\cellwick-cli.exe\""},
  };
  for (const Case& c : cases) {
    TurnRequest r = request();
    r.connector = cellwick(c.program);
    const TurnInvocation t = plan(CliKind::Codex, r);
    EXPECT_EQ(Args(t.args.begin() + 7, t.args.begin() + 15),
              (Args{"-c", c.command_override, "-c",
                    "mcp_servers.lumaro_cellwick.args=['mcp', '--connect', '127.0.0.1:7979']", "-c",
                    "mcp_servers.lumaro_cellwick.default_tools_approval_mode=\"approve\"", "-c",
                    "mcp_servers.lumaro_cellwick.tool_timeout_sec=180"}));
    EXPECT_TRUE(t.files.empty());
  }
}

TEST(CodexTurn, ImagesAreWrittenAndPassedInReverseOrder) {
  TurnRequest r = request();
  r.images = {"data:image/png;base64,QUJD", "data:image/bmp;base64,QUJD", "data:image/webp;base64,RE!=",
              "data:image/jpeg;base64,REVG"};
  const TurnInvocation t = plan(CliKind::Codex, r);
  const std::string first = "C:\\T\\lumaro-img-4242-1700000000123-0-7.png";
  const std::string last = "C:\\T\\lumaro-img-4242-1700000000123-3-7.jpg";
  EXPECT_EQ(Args(t.args.begin(), t.args.begin() + 6), (Args{"exec", "-i", last, "-i", first, "--json"}));
  EXPECT_EQ(t.files, (std::vector<TurnFile>{{first, "ABC", true, false, ""}, {last, "DEF", true, false, ""}}));
}

TEST(TurnFiles, TurnsRunningAtOnceNeverShareAFile) {
  // Same host, same connector, same millisecond: only the turn differs. A
  // shared name would let the first turn to end delete the other's file.
  TurnRequest r = request();
  r.connector = cellwick();
  r.images = {"data:image/png;base64,QUJD"};
  for (const CliKind kind : {CliKind::ClaudeCode, CliKind::Codex}) {
    TurnInputs other = inputs();
    other.turn_number = 8;
    const TurnInvocation a = plan(kind, r), b = plan(kind, r, other);
    ASSERT_EQ(a.files.size(), 1u);
    ASSERT_EQ(b.files.size(), 1u);
    EXPECT_NE(a.files[0].path, b.files[0].path);
  }
}

TEST(GeminiCliTurn, ArgumentsAndAlwaysTheWholePrompt) {
  TurnRequest r = request("gemini-2.5-pro@high");
  r.images = {"data:image/png;base64,QUJD"};
  const TurnInvocation t = plan(CliKind::GeminiCli, r);
  EXPECT_EQ(t.args, (Args{"-p", " ", "--output-format", "stream-json", "--approval-mode", "plan", "--skip-trust",
                          "--model", "gemini-2.5-pro"}));
  EXPECT_EQ(t.stdin_text, combined_prompt("SYS", "질문", false));
  EXPECT_TRUE(t.files.empty());

  // A stored id cannot be passed on, so the turn starts afresh with the
  // system prompt rather than a bare message.
  r.resume_id = "g-1";
  r.model = "";
  const TurnInvocation resumed = plan(CliKind::GeminiCli, r);
  EXPECT_EQ(resumed.args.size(), 7u);
  EXPECT_EQ(resumed.stdin_text, combined_prompt("SYS", "질문", false));
}

const std::string kAgySettingsPlain = "{\"permissions\":{\"allow\":[],\"deny\":[\"write_file(*)\",\"command(*)\"]}}";

TEST(AgyTurn, PromptInAnArgumentModelWholeAndConversation) {
  TurnRequest r = request("gemini-3@high");
  const TurnInvocation t = plan(CliKind::Agy, r);
  EXPECT_EQ(t.args, (Args{"--print=" + combined_prompt("SYS", "질문", false), "--output-format", "stream-json",
                          "--settings", kAgySettingsPlain, "--print-timeout", "600s", "--model", "gemini-3@high"}));
  EXPECT_EQ(t.stdin_text, std::nullopt);

  r.resume_id = "c-7";
  r.model = "";
  const TurnInvocation resumed = plan(CliKind::Agy, r);
  EXPECT_EQ(resumed.args, (Args{"--print=질문", "--output-format", "stream-json", "--settings", kAgySettingsPlain,
                                "--print-timeout", "600s", "--conversation", "c-7"}));
}

TEST(AgyTurn, ConnectorUpdatesTheSharedConfigurationOnlyWhenNeeded) {
  TurnRequest r = request();
  r.connector = cellwick();
  TurnInputs in = inputs();
  const TurnInvocation first = plan(CliKind::Agy, r, in);
  EXPECT_EQ(first.args[4],
            "{\"permissions\":{\"allow\":[\"mcp(lumaro_cellwick/*)\"],\"deny\":[\"write_file(*)\",\"command(*)\"]}}");
  ASSERT_EQ(first.files.size(), 1u);
  EXPECT_EQ(first.files[0].path, "C:\\U\\.gemini\\config\\mcp_config.json");
  EXPECT_FALSE(first.files[0].temporary);
  EXPECT_TRUE(first.files[0].create_parent);
  EXPECT_EQ(first.files[0].failure_template, "Gemini 설정을 쓰지 못했습니다: {}");

  in.agy_mcp_config = {ExistingFile::State::read, first.files[0].contents};
  EXPECT_TRUE(plan(CliKind::Agy, r, in).files.empty());

  in.agy_mcp_config = {ExistingFile::State::read, "{ not json"};
  EXPECT_EQ(build_turn_invocation(CliKind::Agy, r, in),
            (std::variant<TurnInvocation, std::string>(
                "Gemini 설정을 쓰지 못했습니다: 기존 mcp_config.json 파일을 읽을 수 없어 덮어쓰지 않았습니다")));
}

// ---- the pieces ----------------------------------------------------------------

TEST(MergeAgyMcpConfig, KeepsEverythingElse) {
  using json = nlohmann::json;
  const ConnectorSpec server{"C:\\A\\c.exe", {"mcp"}, 1};
  const json ours{{"args", json::array({"mcp"})}, {"command", "C:\\A\\c.exe"}, {"disabled", false}};
  struct Case {
    const char* what;
    ExistingFile existing;
    std::optional<json> written;  // nothing: unchanged
  };
  const Case cases[] = {
      {"missing", {}, json{{"mcpServers", {{"S", ours}}}}},
      {"blank", {ExistingFile::State::read, " \n"}, json{{"mcpServers", {{"S", ours}}}}},
      {"other servers and members kept",
       {ExistingFile::State::read, "// mine\n{\"theme\":1,\"mcpServers\":{\"x\":{\"command\":\"x.exe\"}}}"},
       json{{"theme", 1}, {"mcpServers", {{"x", {{"command", "x.exe"}}}, {"S", ours}}}}},
      {"stale entry replaced",
       {ExistingFile::State::read, "{\"mcpServers\":{\"S\":{\"command\":\"old.exe\",\"args\":[],\"disabled\":true}}}"},
       json{{"mcpServers", {{"S", ours}}}}},
      {"servers not an object", {ExistingFile::State::read, "{\"mcpServers\":[1]}"},
       json{{"mcpServers", {{"S", ours}}}}},
      {"already there", {ExistingFile::State::read, "{\"mcpServers\":{\"S\":" + ours.dump() + "}}"}, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto result = merge_agy_mcp_config(c.existing, "S", server);
    ASSERT_TRUE(std::holds_alternative<AgyConfigText>(result)) << c.what;
    const std::optional<std::string>& text = std::get<AgyConfigText>(result).text;
    ASSERT_EQ(text.has_value(), c.written.has_value()) << c.what;
    if (text) {
      EXPECT_EQ(*text, c.written->dump(2) + "\n") << c.what;
    }
  }
  for (const ExistingFile& refused : {ExistingFile{ExistingFile::State::read, "[1,2]"},
                                      ExistingFile{ExistingFile::State::read, "{\"a\":"},
                                      ExistingFile{ExistingFile::State::read, "\xFF"},
                                      ExistingFile{ExistingFile::State::unreadable, ""}}) {
    EXPECT_EQ(merge_agy_mcp_config(refused, "S", server),
              (std::variant<AgyConfigText, std::string>(std::string(kAgyConfigUnreadable))))
        << refused.text;
  }
}

TEST(DecodeBase64, StandardAlphabetSkippingPadding) {
  struct Case {
    std::string text;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"", ""},
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QQ==", "A"},
      {"QQ", "A"},
      {"Q=Q=", "A"},
      {"+/+/", "\xFB\xFF\xBF"},
      {"AAEC/w==", std::string("\x00\x01\x02\xFF", 4)},
      {"QUJD\n", std::nullopt},
      {"QU JD", std::nullopt},
      {"QU-_", std::nullopt},
      {"QUJDR", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(decode_base64(c.text), c.bytes) << c.text;
}

TEST(QuoteCodexValue, SingleQuotesUnlessTheTextHasOne) {
  EXPECT_EQ(quote_codex_value("C:\\a b\\c.exe"), "'C:\\a b\\c.exe'");
  EXPECT_EQ(quote_codex_value("say \"x\""), "'say \"x\"'");
  EXPECT_EQ(quote_codex_value("it's C:\\x \"y\""), "\"it's C:\\\\x \\\"y\\\"\"");
}

TEST(WriteTurnFiles, OptionalFilesDropOutRequiredOnesStop) {
  TurnRequest r = request();
  r.images = {"data:image/png;base64,QUJD", "data:image/png;base64,REVG"};
  TurnInvocation t = plan(CliKind::Codex, r);
  const std::string failing = t.files[0].path;
  const auto write = [&](const TurnFile& f) -> std::optional<std::string> {
    if (f.path == failing) return "디스크가 가득 찼습니다";
    return std::nullopt;
  };
  EXPECT_EQ(write_turn_files(t, write), std::nullopt);
  ASSERT_EQ(t.files.size(), 1u);
  EXPECT_EQ(Args(t.args.begin(), t.args.begin() + 4), (Args{"exec", "-i", t.files[0].path, "--json"}));

  TurnInvocation two;
  two.files = {{"C:\\T\\a.png", "x", true, false, ""}, {"C:\\T\\b.json", "{}", true, false, kClaudeConfigWriteError},
               {"C:\\T\\c.png", "x", true, false, ""}};
  const auto fail_json = [](const TurnFile& f) -> std::optional<std::string> {
    if (f.path.ends_with(".json")) return "액세스가 거부되었습니다";
    return std::nullopt;
  };
  EXPECT_EQ(write_turn_files(two, fail_json), "설정 파일을 쓰지 못했습니다: 액세스가 거부되었습니다");
  ASSERT_EQ(two.files.size(), 1u);  // what the caller has to delete
  EXPECT_EQ(two.files[0].path, "C:\\T\\a.png");
}

}  // namespace
}  // namespace lumaro
