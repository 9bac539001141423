#include "runner/codex_sessions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumaro {
namespace {

constexpr const char* kId = "0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17";

std::string rollout(const char* stamp) { return std::string("rollout-") + stamp + "-" + kId + ".jsonl"; }

TEST(CodexSessionFile, ConversationIdsThatMayBeSearched) {
  EXPECT_TRUE(codex_conversation_id_ok(kId));
  EXPECT_TRUE(codex_conversation_id_ok("ABC-123"));
  for (const char* bad : {"", "a_b", "a.b", "..\\x", "a b", "가", "a/b", "*"}) {
    EXPECT_FALSE(codex_conversation_id_ok(bad)) << bad;
  }
}

TEST(CodexSessionFile, NewestDatesFirstAndFirstMatchWins) {
  const std::vector<SessionFileEntry> tree = {
      {"", "2024", true},
      {"", "2025", true},
      {"", "notes.txt", false},
      {"2024", "12", true},
      {"2024\\12", "31", true},
      {"2024\\12\\31", rollout("2024-12-31T23-59-00"), false},
      {"2025", "09", true},
      {"2025", "10", true},
      {"2025\\09", "30", true},
      {"2025\\09\\30", rollout("2025-09-30T10-00-00"), false},
      {"2025\\10", "02", true},
      {"2025\\10", "01", true},
      {"2025\\10\\02", "rollout-2025-10-02T08-00-00-ffff.jsonl", false},
      {"2025\\10\\02", rollout("2025-10-02T09-00-00") + ".bak", false},
      {"2025\\10\\01", rollout("2025-10-01T07-00-00"), false},
      {"2025\\10\\01", rollout("2025-10-01T18-30-00"), false},
  };
  EXPECT_EQ(find_codex_session_file(kId, tree), "2025\\10\\01\\" + rollout("2025-10-01T18-30-00"));
  EXPECT_EQ(find_codex_session_file("ffff", tree), "2025\\10\\02\\rollout-2025-10-02T08-00-00-ffff.jsonl");
  EXPECT_EQ(find_codex_session_file("0000", tree), std::nullopt);
}

TEST(CodexSessionFile, DepthLimitAndLazyListing) {
  const std::vector<SessionFileEntry> tree = {
      {"", "z", true},
      {"z", "y", true},
      {"z\\y", "x", true},
      {"z\\y\\x", "w", true},
      {"z\\y\\x\\w", rollout("too-deep"), false},
      {"", "a", true},
      {"a", rollout("shallow"), false},
      {"", "b", true},
  };
  std::vector<std::string> listed;
  const auto lister = [&](const std::string& dir) {
    listed.push_back(dir);
    std::vector<SessionDirEntry> out;
    for (const auto& e : tree) {
      if (e.dir == dir) out.push_back({e.name, e.is_dir});
    }
    return out;
  };
  EXPECT_EQ(find_codex_session_file(kId, lister), "a\\" + rollout("shallow"));
  // The folder at depth 4 is never opened; "b" sorts before "a" and is
  // visited, nothing after the match is.
  EXPECT_EQ(listed, (std::vector<std::string>{"", "z", "z\\y", "z\\y\\x", "b", "a"}));

  listed.clear();
  EXPECT_EQ(find_codex_session_file("a_b", lister), std::nullopt);
  EXPECT_TRUE(listed.empty());
}

TEST(CodexTurnSettings, FirstTurnContextLineDecides) {
  struct Case {
    const char* what;
    std::string text;
    std::optional<CodexTurnSettings> want;
  };
  const std::string meta =
      R"({"timestamp":"2025-10-01T09:30:12.118Z","type":"session_meta","payload":{"id":"0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17","cwd":"C:\\Users\\minji","originator":"codex_exec","cli_version":"0.46.0"}})"
      "\n";
  const std::string context =
      R"({"timestamp":"2025-10-01T09:30:12.120Z","type":"turn_context","payload":{"cwd":"C:\\Users\\minji","approval_policy":"never","sandbox_policy":{"mode":"read-only"},"model":"gpt-5-codex","effort":"high","summary":"auto"}})";
  const Case cases[] = {
      {"session file",
       meta + context + "\n" + R"({"type":"turn_context","payload":{"model":"gpt-5","effort":"low"}})" + "\n",
       CodexTurnSettings{"gpt-5-codex", "high"}},
      {"CRLF lines", meta + context + "\r\n", CodexTurnSettings{"gpt-5-codex", "high"}},
      {"broken line skipped",
       R"({"type":"turn_context","payload":)"
       "\n" +
           context,
       CodexTurnSettings{"gpt-5-codex", "high"}},
      {"line without payload skipped",
       R"({"type":"turn_context"})"
       "\n" +
           context,
       CodexTurnSettings{"gpt-5-codex", "high"}},
      {"unquoted word does not count", R"({"type":"turn_context_v2","payload":{"model":"x"}})", std::nullopt},
      {"payload not an object", R"({"type":"turn_context","payload":null})", CodexTurnSettings{"", ""}},
      {"members not strings", R"({"type":"turn_context","payload":{"model":5,"effort":null}})",
       CodexTurnSettings{"", ""}},
      {"effort missing", R"({"type":"turn_context","payload":{"model":"o3"}})", CodexTurnSettings{"o3", ""}},
      {"not UTF-8", meta + context + "\n\xFF", std::nullopt},
      {"no such line", meta, std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(codex_turn_settings_from_text(c.text), c.want) << c.what;
}

TEST(CodexTurnSettings, NotesBeforeTheSession) {
  EXPECT_EQ(codex_turn_settings_notes({"gpt-5-codex", "high"}),
            (std::vector<std::string>{"§effort:high", "§model:gpt-5-codex"}));
  EXPECT_EQ(codex_turn_settings_notes({"", ""}), (std::vector<std::string>{"§effort:"}));
  EXPECT_EQ(codex_turn_settings_notes({"", "medium"}), (std::vector<std::string>{"§effort:medium"}));
}

}  // namespace
}  // namespace lumaro
