#include "runner/usage_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumaro {
namespace {

using Entries = std::vector<UsageEntry>;

TEST(UsageReport, LinesToEntries) {
  struct Case {
    const char* what;
    std::string report;
    Entries entries;
  };
  const Case cases[] = {
      {"session and week",
       "Current session: 23% used · resets 5pm (Asia/Seoul)\nCurrent week (all models): 41% used · resets Mar 3",
       {{"세션", 23, "5pm (Asia/Seoul)"}, {"주간", 41, "Mar 3"}}},
      {"week of one model", "Current week (Opus): 7% used", {{"주간 Opus", 7, ""}}},
      {"other long label kept", "Extra usage: 100% used", {{"Extra usage", 100, ""}}},
      {"short label kept", "  Weekly  :5% used", {{"Weekly", 5, ""}}},
      {"session with more before the colon", "Current session (5h): 3% used", {{"세션", 3, ""}}},
      {"week without closing parenthesis", "Current week (all models: 9% used",
       {{"Current week (all models", 9, ""}}},
      {"empty parentheses", "Current week (): 1% used", {{"주간 ", 1, ""}}},
      {"only the digits before %", "Current session: 12.5% used", {{"세션", 5, ""}}},
      {"leading zeros", "Current session: 0000000000042% used", {{"세션", 42, ""}}},
      {"largest number", "Current session: 4294967295% used", {{"세션", 4294967295u, ""}}},
      {"above 32 bits", "Current session: 4294967296% used", {}},
      {"eleven nines", "Current session: 99999999999% used", {}},
      {"no digits", "Current session: % used", {}},
      {"digits of the label do not count", "Weekly 5:% used", {}},
      {"no colon", "Current session 23% used", {}},
      {"no % used after the colon", "23% used: Current session", {}},
      {"no data", "Current session: no data", {}},
      {"first colon cuts", "Time: 10:30 · 5% used", {{"Time", 5, ""}}},
      {"reset before the percent, CR trimmed", "Current session: resets 5pm\t 8% used\r",
       {{"세션", 8, "5pm\t 8% used"}}},
      {"reset empty", "Current session: 1% used resets ", {{"세션", 1, ""}}},
      {"resets without space", "Current session: 1% used resets", {{"세션", 1, ""}}},
      {"blank lines and noise",
       "\n\nPlan usage\nCurrent session: 2% used\r\n\nCurrent week (Sonnet only): 3% used · resets Tue 9am\n",
       {{"세션", 2, ""}, {"주간 Sonnet only", 3, "Tue 9am"}}},
      {"empty report", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_usage_report(c.report), c.entries) << c.what;
}

TEST(UsageReport, TextFromTheToolsOutput) {
  struct Case {
    const char* what;
    ToolRun run;
    std::string text;
  };
  const Case cases[] = {
      {"result string", {true, 0, "\n{\"type\":\"result\",\"result\":\"a\\nb\"}\r\n", ""}, "a\nb"},
      {"exit status ignored", {true, 1, R"({"result":"x"})", "boom"}, "x"},
      {"stray byte replaced", {true, 0, "{\"result\":\"a\xFF\"}", ""}, "a\xEF\xBF\xBD"},
      {"result not a string", {true, 0, R"({"result":5})", ""}, ""},
      {"not an object", {true, 0, R"(["result"])", ""}, ""},
      {"two values", {true, 0, "{\"result\":\"x\"}\n{}", ""}, ""},
      {"empty", {true, 0, "", "error"}, ""},
      {"not started", {false, 0, "", ""}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(usage_report_text(c.run), c.text) << c.what;
  EXPECT_EQ(usage_args(), (std::vector<std::string>{"-p", "/usage", "--output-format", "json"}));
}

TEST(UsageAnswer, CompactJsonInListOrder) {
  EXPECT_EQ(usage_note({}), "§usage:[]");
  EXPECT_EQ(usage_note(Entries{{"세션", 23, "5pm (Asia/Seoul)"}, {"주간", 41, "Mar 3"}}),
            R"j(§usage:[{"name":"세션","pct":23,"reset":"5pm (Asia/Seoul)"},{"name":"주간","pct":41,"reset":"Mar 3"}])j");
  EXPECT_EQ(usage_json(Entries{{"a\"b\\", 4294967295u, "\t"}}), R"([{"name":"a\"b\\","pct":4294967295,"reset":"\t"}])");
}

TEST(UsageCacheTime, FreshForLessThanSixtyWholeSeconds) {
  using namespace std::chrono;
  const steady_clock::time_point t0{seconds(1000)};
  struct Case {
    steady_clock::duration elapsed;
    bool fresh;
  };
  const Case cases[] = {
      {seconds(0), true},
      {seconds(59), true},
      {seconds(59) + milliseconds(999), true},
      {seconds(60), false},
      {seconds(61), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(usage_cache_fresh(t0, t0 + c.elapsed), c.fresh) << duration_cast<milliseconds>(c.elapsed).count();
  }

  UsageCache cache;
  EXPECT_EQ(cache.fresh(t0), std::nullopt);  // never stored
  cache.store(t0, {});                      // an empty list is cached too
  EXPECT_EQ(cache.fresh(t0 + seconds(59)), Entries{});
  EXPECT_EQ(cache.fresh(t0 + seconds(60)), std::nullopt);
  cache.store(t0 + seconds(70), {{"세션", 1, ""}});
  EXPECT_EQ(cache.fresh(t0 + seconds(71)), (Entries{{"세션", 1, ""}}));
}

}  // namespace
}  // namespace lumaro
