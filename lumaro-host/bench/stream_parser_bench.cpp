// Throughput of the stream parser on long, realistic outputs of each tool,
// against the bare JSON parse of the same lines (the floor no mapping can go
// below). Run by hand:
//   lumaro_stream_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "runner/stream_parser.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

std::string line(const json& j) { return j.dump(); }

// About 2000 streamed sentences of Korean and English text per tool, with the
// tool events, usage records and ids each tool really prints around them.
std::vector<std::string> claude_stream() {
  std::vector<std::string> out;
  const std::string sid = "3f1c9a52-7be4-4d8e-9a31-5c0d2e6b8f14";
  const json usage = {{"input_tokens", 3},
                      {"cache_creation_input_tokens", 5214},
                      {"cache_read_input_tokens", 11893},
                      {"output_tokens", 1},
                      {"service_tier", "standard"}};
  out.push_back(line({{"type", "system"},
                      {"subtype", "init"},
                      {"session_id", sid},
                      {"model", "claude-sonnet-4-5-20250929"},
                      {"tools", {"Task", "Bash", "Read", "Edit", "mcp__cellwick__set_cell"}},
                      {"mcp_servers", {{{"name", "cellwick"}, {"status", "connected"}}}}}));
  for (int m = 0; m < 100; ++m) {
    const std::string id = "msg_01HqV7mYkR2xJ3cPzN8t" + std::to_string(m);
    auto stream = [&](json ev) {
      out.push_back(line({{"type", "stream_event"},
                          {"event", std::move(ev)},
                          {"session_id", sid},
                          {"parent_tool_use_id", nullptr},
                          {"uuid", "b6a1f0de-0c51-4f0e-8d9b-2f6c1a7e9d01"}}));
    };
    stream({{"type", "message_start"},
            {"message",
             {{"id", id},
              {"model", "claude-sonnet-4-5-20250929"},
              {"role", "assistant"},
              {"content", json::array()},
              {"usage", usage}}}});
    stream({{"type", "content_block_start"}, {"index", 0}, {"content_block", {{"type", "text"}, {"text", ""}}}});
    std::string full;
    for (int d = 0; d < 20; ++d) {
      const std::string piece = d % 2 ? "합계는 **4,812,000원**이며 " : "the quarterly total grew by 12% ";
      full += piece;
      stream({{"type", "content_block_delta"}, {"index", 0}, {"delta", {{"type", "text_delta"}, {"text", piece}}}});
    }
    out.push_back(line(
        {{"type", "assistant"},
         {"message",
          {{"id", id}, {"role", "assistant"}, {"content", {{{"type", "text"}, {"text", full}}}}, {"usage", usage}}},
         {"session_id", sid}}));
    out.push_back(line({{"type", "assistant"},
                        {"message",
                         {{"id", id},
                          {"role", "assistant"},
                          {"content",
                           {{{"type", "tool_use"},
                             {"id", "toolu_01AbCdEf"},
                             {"name", "mcp__cellwick__set_cell"},
                             {"input", {{"cell", "B10"}, {"formula", "=SUM(B2:B9)"}}}}}}}},
                        {"session_id", sid}}));
    stream({{"type", "content_block_stop"}, {"index", 0}});
    stream({{"type", "message_delta"}, {"delta", {{"stop_reason", "end_turn"}}}, {"usage", {{"output_tokens", 88}}}});
    stream({{"type", "message_stop"}});
  }
  out.push_back(line({{"type", "result"},
                      {"subtype", "success"},
                      {"is_error", false},
                      {"result", "done"},
                      {"session_id", sid},
                      {"total_cost_usd", 0.0213}}));
  return out;
}

std::vector<std::string> codex_stream() {
  std::vector<std::string> out;
  out.push_back(line({{"type", "thread.started"}, {"thread_id", "0199c1f2-7d3a-7b40-9e51-2a8f6c0d4e17"}}));
  out.push_back(line({{"type", "turn.started"}}));
  for (int i = 0; i < 500; ++i) {
    const std::string n = std::to_string(i);
    out.push_back(
        line({{"type", "item.completed"},
              {"item",
               {{"id", "item_" + n}, {"type", "reasoning"}, {"text", "**Summing column B**\n\nI'll use the tool."}}}}));
    const json call = {{"id", "item_" + n},
                       {"type", "mcp_tool_call"},
                       {"server", "cellwick"},
                       {"tool", "set_cell"},
                       {"arguments", {{"cell", "B" + n}, {"formula", "=SUM(B2:B9)"}, {"sheet", "2025년 3분기 매출"}}},
                       {"status", "in_progress"}};
    out.push_back(line({{"type", "item.started"}, {"item", call}}));
    out.push_back(line({{"type", "item.completed"}, {"item", call}}));
    std::string text;
    for (int k = 0; k < 8; ++k) text += "**B10**에 `=SUM(B2:B9)`를 넣었습니다. The total is 4,812,000. ";
    out.push_back(line(
        {{"type", "item.completed"}, {"item", {{"id", "item_m" + n}, {"type", "agent_message"}, {"text", text}}}}));
  }
  out.push_back(line({{"type", "turn.completed"},
                      {"usage", {{"input_tokens", 24763}, {"cached_input_tokens", 24448}, {"output_tokens", 122}}}}));
  return out;
}

std::vector<std::string> gemini_stream() {
  std::vector<std::string> out;
  out.push_back(line({{"type", "init"},
                      {"timestamp", "2025-10-28T05:12:41.204Z"},
                      {"session_id", "c0a7e1f4-52d9-4b8a-a3e6-9f1d7b2c4e05"},
                      {"model", "gemini-2.5-pro"}}));
  out.push_back(line(
      {{"type", "message"}, {"timestamp", "2025-10-28T05:12:41.206Z"}, {"role", "user"}, {"content", "요약해 줘"}}));
  for (int i = 0; i < 2000; ++i) {
    if (i % 100 == 0) {
      out.push_back(line({{"type", "tool_use"},
                          {"timestamp", "2025-10-28T05:12:44.019Z"},
                          {"tool_name", "read_file"},
                          {"tool_id", "read_file-1761628364019-7c1e2d"},
                          {"parameters", {{"absolute_path", "C:\\Users\\minji\\Documents\\보고서.hwp"}}}}));
      out.push_back(line({{"type", "tool_result"},
                          {"tool_id", "read_file-1761628364019-7c1e2d"},
                          {"status", "success"},
                          {"output", ""}}));
    }
    out.push_back(
        line({{"type", "message"},
              {"timestamp", "2025-10-28T05:12:46.552Z"},
              {"role", "assistant"},
              {"content", i % 2 ? " 3분기 매출은 전 분기보다 12% 늘었습니다. " : "Revenue grew twelve percent. "},
              {"delta", true}}));
  }
  out.push_back(line({{"type", "result"},
                      {"status", "success"},
                      {"stats", {{"total_tokens", 9141}, {"input_tokens", 8802}, {"output_tokens", 97}}}}));
  return out;
}

std::vector<std::string> agy_stream() {
  std::vector<std::string> out;
  out.push_back(line({{"type", "init"}, {"conversationId", "a91f3e07-64bc-4d2a-8e15-b7c0d9f2a6e3"}}));
  for (int i = 0; i < 2000; ++i) {
    if (i % 50 == 0) {
      out.push_back(line({{"type", "tool_call"},
                          {"toolName", "mcp__cellwick__get_range"},
                          {"args", "{\"range\":\"A1:D20\",\"sheet\":\"Sheet1\"}"}}));
    }
    if (i % 2) {
      out.push_back(line({{"type", "assistant"},
                          {"message",
                           {{"role", "model"},
                            {"content",
                             {{{"type", "text"}, {"text", "첫 줄 **굵게**"}},
                              {{"type", "text"}, {"text", "second line of the answer"}}}}}}}));
    } else {
      out.push_back(line({{"type", "text"}, {"delta", "짧은 조각 of streamed text, **bold** included. "}}));
    }
  }
  out.push_back(line({{"type", "result"}, {"error", nullptr}}));
  return out;
}

std::vector<std::string> stream_of(CliKind kind) {
  switch (kind) {
    case CliKind::ClaudeCode:
      return claude_stream();
    case CliKind::Codex:
      return codex_stream();
    case CliKind::GeminiCli:
      return gemini_stream();
    case CliKind::Agy:
      return agy_stream();
  }
  return {};
}

// The same long stream, repeated, so one pass is a few megabytes.
const std::vector<std::string>& lines_of(CliKind kind) {
  static std::vector<std::string> cache[4];
  auto& lines = cache[static_cast<int>(kind)];
  if (lines.empty()) {
    const auto one = stream_of(kind);
    size_t bytes = 0;
    while (bytes < 4 * 1024 * 1024) {
      for (const auto& l : one) {
        lines.push_back(l);
        bytes += l.size() + 1;
      }
    }
  }
  return lines;
}

void set_rates(benchmark::State& state, const std::vector<std::string>& lines) {
  size_t bytes = 0;
  for (const auto& l : lines) bytes += l.size() + 1;
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines.size() * state.iterations()), benchmark::Counter::kIsRate);
}

void BM_StreamParser(benchmark::State& state) {
  const auto kind = static_cast<CliKind>(state.range(0));
  const auto& lines = lines_of(kind);
  std::vector<StreamItem> items;
  size_t delivered = 0;
  for (auto _ : state) {
    StreamParser parser(kind, "high", std::nullopt);
    for (const auto& l : lines) {
      items.clear();
      parser.feed_line(l, items);
      delivered += items.size();
    }
    auto end = parser.finish("");
    benchmark::DoNotOptimize(end);
  }
  benchmark::DoNotOptimize(delivered);
  set_rates(state, lines);
}

void BM_RawJsonParse(benchmark::State& state) {
  const auto kind = static_cast<CliKind>(state.range(0));
  const auto& lines = lines_of(kind);
  for (auto _ : state) {
    for (const auto& l : lines) {
      json j = json::parse(l.begin(), l.end(), nullptr, /*allow_exceptions=*/false);
      benchmark::DoNotOptimize(j);
    }
  }
  set_rates(state, lines);
}

void kinds(benchmark::internal::Benchmark* b) {
  b->ArgName("kind");
  for (int k = 0; k < 4; ++k) b->Arg(k);  // 0 Claude Code, 1 Codex, 2 Gemini CLI, 3 agy
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_StreamParser)->Apply(kinds);
BENCHMARK(BM_RawJsonParse)->Apply(kinds);

}  // namespace
}  // namespace lumaro

BENCHMARK_MAIN();
