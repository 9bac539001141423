#include "runner/stream_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "base/overloaded.h"

#ifndef LUMARO_FIXTURE_DIR
#error "LUMARO_FIXTURE_DIR must name the folder of the stream fixtures"
#endif

namespace lumaro {
namespace {

using Lines = std::vector<std::string>;

std::string fixture(const char* name) {
  const std::string path = std::string(LUMARO_FIXTURE_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One line per delivered item, readable in a failure message.
std::string describe(const StreamItem& item) {
  return std::visit(Overloaded{
                        [](const TextItem& t) { return (t.new_block ? "text+ " : "text ") + t.text; },
                        [](const ToolItem& t) { return "tool " + t.name + " | " + t.args; },
                        [](const NoteItem& n) { return "note " + n.text; },
                        [](const FinishedItem& f) {
                          return "done id=" + f.conversation_id.value_or("-") +
                                 " error=" + (f.error ? "\"" + *f.error + "\"" : std::string("-"));
                        },
                    },
                    item);
}

void append(Lines& out, const std::vector<StreamItem>& items) {
  for (const StreamItem& item : items) out.push_back(describe(item));
}

struct Job {
  Job(CliKind k, std::string e = "", std::optional<std::string> r = std::nullopt, std::string err = "")
      : kind(k), effort(std::move(e)), resume(std::move(r)), stderr_text(std::move(err)) {}
  CliKind kind;
  std::string effort;
  std::optional<std::string> resume;
  std::string stderr_text;
};

// What the output thread does with a tool's standard output: lines cut at
// "\n" with one "\r" before it removed, reading stopped at the first line
// that is not UTF-8, then the end of the turn.
Lines run(const Job& job, std::string_view output) {
  StreamParser parser(job.kind, job.effort, job.resume);
  Lines out;
  append(out, parser.start());
  while (!output.empty() && !parser.reading_ended()) {
    const size_t end = output.find('\n');
    std::string_view line = output.substr(0, end);
    output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    append(out, parser.feed_line(line));
  }
  append(out, parser.finish(job.stderr_text));
  return out;
}

Lines run(CliKind kind, std::string_view output) { return run(Job(kind), output); }

const std::string kMcpHint = "). 앱이 제어 포트를 열었는지, 같은 앱이 두 개 켜져 있지 않은지 확인하십시오.";

TEST(StreamFixture, ClaudeCodePartialMessagesShowEachTextOnce) {
  const Lines got = run({CliKind::ClaudeCode, "high", "old-session"}, fixture("claude_partial.jsonl"));
  const Lines want = {
      "note §effort:high",
      "note §model:claude-sonnet-4-5-20250929",
      "note 앱 연결 실패 (cellwick: failed" + kMcpHint,
      "note 앱 연결 실패 (notes: " + kMcpHint,
      "text+ B열 합계를 ",
      "text B10에 넣겠습니다.",
      "tool set_cell | B10  =SUM(B2:B9)",
      "text+ 합계는 ",
      "text 4,812,000원입니다.",
      "done id=3f1c9a52-7be4-4d8e-9a31-5c0d2e6b8f14 error=-",
  };
  EXPECT_EQ(got, want);
}

TEST(StreamFixture, ClaudeCodeErrors) {
  EXPECT_EQ(run(CliKind::ClaudeCode, fixture("claude_result_error.jsonl")),
            (Lines{"note §effort:", "note §model:claude-opus-4-1-20250805", "text+ Invalid API key · Please run /login",
                   "done id=8d2e4b10-9a7c-4f3e-b5d1-06c2a9e7f3b8 error=\"Invalid API key · Please run /login\""}));
  EXPECT_EQ(run(CliKind::ClaudeCode, fixture("claude_error_without_text.jsonl")),
            (Lines{"note §effort:", "note §model:claude-sonnet-4-5-20250929",
                   "note 앱 연결 실패 (cellwick: pending" + kMcpHint,
                   "done id=8d2e4b10-9a7c-4f3e-b5d1-06c2a9e7f3b8 error=\"요청이 실패했습니다\""}));
}

TEST(StreamFixture, ClaudeCodeLongDeltaLineReadWhole) {
  const Lines got = run(CliKind::ClaudeCode, fixture("claude_long_delta.jsonl"));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], "note §effort:");
  EXPECT_EQ(got[1].size(), std::string("text+ ").size() + 4000 * 22 + 3);
  EXPECT_TRUE(got[1].starts_with("text+ 가나다라마바사 가나다"));
  EXPECT_TRUE(got[1].ends_with("사 끝"));
  EXPECT_EQ(got[2], "done id=3f1c9a52-7be4-4d8e-9a31-5c0d2e6b8f14 error=-");
}

TEST(StreamFixture, CodexExec) {
  EXPECT_EQ(
      run(CliKind::Codex, fixture("codex_exec.jsonl")),
      (Lines{"tool set_cell | B10  =SUM(B2:B9)  2025년 3분기 매출 집계표 (지점별, 부가세 포함, 본사 제출용 최종본)",
             "text+ B10에 `=SUM(B2:B9)`를 넣었습니다.\n합계는 4,812,000원입니다.",
             "done id=0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17 error=-"}));
  // Reconnect notices are progress; the failure that follows is the error.
  EXPECT_EQ(run(CliKind::Codex, fixture("codex_turn_failed.jsonl")),
            (Lines{"done id=0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17 error=\"stream disconnected before completion: "
                   "Your input exceeds the context window of this model.\""}));
}

TEST(StreamFixture, ReadingStopsAtTheFirstLineThatIsNotUtf8) {
  // The turn.failed after the bad line is never read.
  EXPECT_EQ(run(CliKind::Codex, fixture("codex_invalid_utf8.jsonl")),
            (Lines{"text+ 앞부분", "done id=0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17 error=-"}));
  StreamParser parser(CliKind::Codex, "", std::nullopt);
  EXPECT_TRUE(parser.feed_line("plain \xC0\xAF").empty());
  EXPECT_TRUE(parser.reading_ended());
  EXPECT_TRUE(parser.feed_line(R"({"type":"turn.completed"})").empty());
  EXPECT_FALSE(parser.produced_output());
}

TEST(StreamFixture, GeminiCli) {
  EXPECT_EQ(run(CliKind::GeminiCli, fixture("gemini_stream.jsonl")),
            (Lines{"note §model:gemini-2.5-pro",
                   "tool read_file | C:\\Users\\minji\\Documents\\보고서\\2025-3분기-실적-요약-최종본-수정.hwp",
                   "text+ **요약**: 3분기 매출은", "text  전 분기보다 12% 늘었습니다.\n",
                   "text   주요 원인은 신규 지점입니다.", "done id=c0a7e1f4-52d9-4b8a-a3e6-9f1d7b2c4e05 error=-"}));
  EXPECT_EQ(run(CliKind::GeminiCli, fixture("gemini_error.jsonl")),
            (Lines{"note §model:gemini-2.5-flash",
                   "done id=c0a7e1f4-52d9-4b8a-a3e6-9f1d7b2c4e05 error=\"Quota exceeded for quota metric "
                   "'Gemini 2.5 Pro Requests'\""}));
}

TEST(StreamFixture, AgyTolerantReader) {
  EXPECT_EQ(run(CliKind::Agy, fixture("agy_variants.jsonl")),
            (Lines{"tool get_range | A1:D20  Sheet1", "tool browse | ", "text+ 첫 줄\n둘째 줄", "text+ 짧은 조각",
                   "text+ 배열 content", "done id=a91f3e07-64bc-4d2a-8e15-b7c0d9f2a6e3 error=-"}));
  // An "error" member counts even when it is false.
  EXPECT_EQ(run(CliKind::Agy, fixture("agy_result_error.jsonl")),
            (Lines{"done id=a91f3e07-64bc-4d2a-8e15-b7c0d9f2a6e3 error=\"요청 한도를 넘었습니다\""}));
}

TEST(StreamFixture, PlainTextOutputBecomesTheAnswer) {
  const std::string output = fixture("plain_text.txt");
  const std::string answer = "text+ 안내: 이 도구는 JSON을 쓰지 않습니다.\n둘째 줄 굵게\n마지막 줄";
  EXPECT_EQ(run(CliKind::Codex, output), (Lines{answer, "done id=- error=-"}));
  EXPECT_EQ(run({CliKind::ClaudeCode, "low", "abc"}, output),
            (Lines{"note §effort:low", answer, "done id=abc error=-"}));
}

TEST(StreamEnd, FallbacksWhenTheToolSaysNothing) {
  struct Case {
    const char* what;
    Job job;
    std::string output;
    Lines want;
  };
  const std::string long_err = "오류 " + [] {
    std::string s;
    for (int i = 0; i < 600; ++i) s += "가";
    return s;
  }() + " 끝\n  ";
  std::string tail;
  for (int i = 0; i < 395; ++i) tail += "가";
  tail += " 끝";
  const Case cases[] = {
      {"nothing at all", {CliKind::Codex}, "", {"done id=- error=\"응답 없이 끝났습니다\""}},
      {"blank stderr",
       {CliKind::Codex, "", std::nullopt, " \r\n\t"},
       "\n\n",
       {"done id=- error=\"응답 없이 끝났습니다\""}},
      {"last 400 characters of stderr, then trimmed",
       {CliKind::Codex, "", std::nullopt, long_err},
       "",
       {"done id=- error=\"" + tail + "\""}},
      {"short stderr",
       {CliKind::GeminiCli, "", "s1", "\nError: spawn EPERM\n"},
       "",
       {"done id=s1 error=\"Error: spawn EPERM\""}},
      {"broken stderr bytes replaced",
       {CliKind::Agy, "", std::nullopt, "bad \xFF tail"},
       "",
       {"done id=- error=\"bad \xEF\xBF\xBD tail\""}},
      {"events without text keep the stderr fallback",
       {CliKind::Codex, "", std::nullopt, "boom"},
       R"({"type":"thread.started","thread_id":"t-1"})",
       {"done id=t-1 error=\"boom\""}},
      {"success without text needs no fallback",
       {CliKind::Codex, "", std::nullopt, "boom"},
       "loading...\n{\"type\":\"turn.completed\"}",
       {"done id=- error=-"}},
      {"an error wins over plain text",
       {CliKind::Codex},
       "Usage: codex exec\n{\"type\":\"error\",\"message\":\"bad flag\"}",
       {"done id=- error=\"bad flag\""}},
      {"success after an error clears it",
       {CliKind::GeminiCli},
       "{\"type\":\"error\",\"message\":\"retrying\"}\n{\"type\":\"result\",\"status\":\"success\"}",
       {"done id=- error=-"}},
      {"an error after success stands",
       {CliKind::GeminiCli},
       "{\"type\":\"result\",\"status\":\"success\"}\n{\"type\":\"error\"}",
       {"done id=- error=\"요청이 실패했습니다\""}},
      {"empty error text suppresses the fallbacks",
       {CliKind::ClaudeCode, "", std::nullopt, "boom"},
       "plain\n{\"type\":\"result\",\"is_error\":true,\"result\":\"\"}",
       {"note §effort:", "done id=- error=\"\""}},
      {"plain text that is only bold markers", {CliKind::Codex}, "****", {"text+ ", "done id=- error=-"}},
      {"resume id kept without a session event",
       {CliKind::Codex, "", "0199-old"},
       "{\"type\":\"turn.completed\"}",
       {"done id=0199-old error=-"}},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.job, c.output), c.want) << c.what;
}

TEST(StreamEnd, OtherOutputStopsGrowingAfterTheMark) {
  StreamParser parser(CliKind::Codex, "", std::nullopt);
  const std::string line(1000, 'x');  // 1001 bytes kept per line
  for (int i = 0; i < 70; ++i) parser.feed_line(line);
  // 65 lines stay below 65536 bytes, the 66th crosses the mark, no more.
  EXPECT_EQ(parser.other_output().size(), 66u * 1001u);

  StreamParser one(CliKind::Codex, "", std::nullopt);
  one.feed_line(std::string(70000, 'y'));
  one.feed_line("z");
  EXPECT_EQ(one.other_output(), std::string(70000, 'y') + "\n");
}

// Items of one line, described.
Lines feed(StreamParser& parser, std::string_view line) {
  Lines out;
  append(out, parser.feed_line(line));
  return out;
}

TEST(StreamClaude, StreamedMessageIds) {
  StreamParser p(CliKind::ClaudeCode, "", std::nullopt);
  // Text streamed before any message_start still opens a block.
  EXPECT_EQ(feed(p, R"({"type":"stream_event","event":{"type":"content_block_delta","delta":{"text":"a"}}})"),
            (Lines{"text+ a"}));
  EXPECT_EQ(feed(p, R"({"type":"stream_event","event":{"type":"content_block_delta","delta":{"text":""}}})"), Lines{});
  EXPECT_EQ(feed(p, R"({"type":"stream_event","event":{"type":"content_block_delta","delta":{"partial_json":"{"}}})"),
            Lines{});
  // Streamed under no id: an assistant message without id is the same one.
  EXPECT_EQ(feed(p, R"({"type":"assistant","message":{"content":[{"type":"text","text":"a"}]}})"), Lines{});
  EXPECT_EQ(feed(p, R"({"type":"assistant","message":{"id":"m9","content":[{"type":"text","text":"  **b**  "},)"
                    R"({"type":"text","text":" \n "},{"type":"tool_use","input":{"q":"x"}},{"type":"image"}]}})"),
            (Lines{"text+ b", "tool tool | x"}));
  EXPECT_EQ(feed(p, R"({"type":"user","session_id":"s-2","message":{"content":[{"type":"text","text":"q"}]}})"),
            Lines{});
  EXPECT_EQ(p.conversation_id(), "s-2");
  EXPECT_EQ(feed(p, R"({"session_id":"s-3"})"), Lines{});
  EXPECT_EQ(p.conversation_id(), "s-3");
}

TEST(StreamClaude, StreamedIdSetIsBounded) {
  StreamParser p(CliKind::ClaudeCode, "", std::nullopt);
  for (size_t i = 0; i <= kMaxStreamedMessageIds; ++i) {
    p.feed_line(R"({"type":"stream_event","event":{"type":"message_start","message":{"id":"m)" + std::to_string(i) +
                R"("}}})");
    p.feed_line(R"({"type":"stream_event","event":{"type":"content_block_delta","delta":{"text":"x"}}})");
  }
  auto assistant = [](size_t i) {
    return R"({"type":"assistant","message":{"id":"m)" + std::to_string(i) +
           R"(","content":[{"type":"text","text":"again"}]}})";
  };
  EXPECT_EQ(feed(p, assistant(0)), Lines{});
  EXPECT_EQ(feed(p, assistant(kMaxStreamedMessageIds - 1)), Lines{});
  // The 4097th id was not recorded, so its full text shows again.
  EXPECT_EQ(feed(p, assistant(kMaxStreamedMessageIds)), (Lines{"text+ again"}));
}

TEST(StreamClaude, SystemInitNotes) {
  StreamParser p(CliKind::ClaudeCode, "", std::nullopt);
  EXPECT_EQ(feed(p, R"({"type":"system","subtype":"init","model":"","mcp_servers":["x",{"name":5,"status":7},)"
                    R"({"name":"a","status":"connected"},{"name":"b","status":"needs-auth"}]})"),
            (Lines{"note §model:", "note 앱 연결 실패 (app: " + kMcpHint, "note 앱 연결 실패 (app: " + kMcpHint,
                   "note 앱 연결 실패 (b: needs-auth" + kMcpHint}));
  EXPECT_EQ(feed(p, R"({"type":"system","subtype":"compact_boundary","model":"m"})"), Lines{});
  EXPECT_EQ(feed(p, R"({"type":"system","subtype":"init","model":1,"mcp_servers":{}})"), Lines{});
}

TEST(StreamCodex, Mapping) {
  struct Case {
    const char* what;
    std::string line;
    Lines items;
    std::optional<std::string> id;
    std::optional<std::string> error;
  };
  const Case cases[] = {
      {"session_id when thread_id is absent", R"({"type":"thread.started","session_id":"s-1"})", {}, "s-1", {}},
      {"blank thread id hides the session id",
       R"({"type":"thread.started","thread_id":" ","session_id":"s-1"})",
       {},
       {},
       {}},
      {"reconnect", R"({"type":"error","message":"Reconnecting... 3/5"})", {}, {}, {}},
      {"error object first", R"({"type":"error","message":"outer","error":{"message":"inner"}})", {}, {}, "inner"},
      {"error string", R"({"type":"error","error":"plain"})", {}, {}, "plain"},
      {"blank message falls back", R"({"type":"error","message":""})", {}, {}, "요청이 실패했습니다"},
      {"turn failed does not skip reconnect text",
       R"({"type":"turn.failed","error":{"message":"Reconnecting failed"}})",
       {},
       {},
       "Reconnecting failed"},
      {"legacy item fields",
       R"({"type":"item.started","item":{"item_type":"mcp_tool_call","name":"mcp__x__find","arguments":"{\"q\":1}"}})",
       {"tool find | 1"},
       {},
       {}},
      {"tool name fallback", R"({"type":"item.started","item":{"type":"mcp_tool_call"}})", {"tool 도구 | "}, {}, {}},
      {"error item",
       R"({"type":"item.completed","item":{"type":"error","text":"model overloaded"}})",
       {},
       {},
       "model overloaded"},
      {"error item without text", R"({"type":"item.completed","item":{"type":"error"}})", {}, {}, {}},
      {"assistant_message",
       R"({"type":"item.completed","item":{"type":"assistant_message","text":"\n**hi**\n"}})",
       {"text+ hi"},
       {},
       {}},
      {"blank agent message",
       R"({"type":"item.completed","item":{"type":"agent_message","text":" \u3000"}})",
       {},
       {},
       {}},
      {"agent message on start is ignored",
       R"({"type":"item.started","item":{"type":"agent_message","text":"x"}})",
       {},
       {},
       {}},
      {"item not an object", R"({"type":"item.completed","item":"agent_message"})", {}, {}, {}},
      {"no type", R"({"thread_id":"t"})", {}, {}, {}},
  };
  for (const Case& c : cases) {
    StreamParser p(CliKind::Codex, "", std::nullopt);
    EXPECT_EQ(feed(p, c.line), c.items) << c.what;
    EXPECT_EQ(p.conversation_id(), c.id) << c.what;
    EXPECT_EQ(p.last_error(), c.error) << c.what;
  }
}

TEST(StreamGemini, OneBlockPerTurnAndToolArgs) {
  StreamParser p(CliKind::GeminiCli, "", std::nullopt);
  EXPECT_EQ(feed(p, R"({"type":"init","sessionId":"g-1"})"), Lines{});
  EXPECT_EQ(p.conversation_id(), "g-1");
  EXPECT_EQ(feed(p, R"({"type":"message","role":"assistant","content":"**a**"})"), (Lines{"text+ **a**"}));
  EXPECT_EQ(feed(p, R"({"type":"tool_use","name":"mcp__s__t","input":{"x":"y"}})"), (Lines{"tool t | y"}));
  EXPECT_EQ(feed(p, R"({"type":"tool_use","parameters":null,"input":{"x":"y"}})"), (Lines{"tool 도구 | "}));
  EXPECT_EQ(feed(p, R"({"type":"message","content":"b"})"), (Lines{"text b"}));
  EXPECT_EQ(feed(p, R"({"type":"message","role":"user","content":"q"})"), Lines{});
  EXPECT_EQ(feed(p, R"({"type":"result","status":"error","error":"quota"})"), Lines{});
  EXPECT_EQ(p.last_error(), "quota");
  EXPECT_EQ(feed(p, R"({"type":"result"})"), Lines{});
  EXPECT_EQ(p.last_error(), std::nullopt);
}

}  // namespace
}  // namespace lumaro
