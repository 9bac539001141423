#include "runner/tool_render.h"

#include <gtest/gtest.h>

#include <string>

namespace lumaro {
namespace {

using json = nlohmann::json;

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(RenderToolName, LastPartAfterDoubleUnderscore) {
  const std::pair<const char*, const char*> cases[] = {
      {"mcp__cellwick__set_cell", "set_cell"},
      {"Read", "Read"},
      {"mcp__srv__a__b", "b"},
      {"a___b", "b"},
      {"name__", ""},
      {"__x", "x"},
      {"single_under", "single_under"},
      {"", ""},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(render_tool_name(name), want) << name;
}

TEST(RenderToolArgs, Summaries) {
  const std::string sixty = repeat("가", 60);
  const std::string sixty_one = repeat("가", 61);
  struct Case {
    const char* what;
    json value;
    std::string want;
  };
  const Case cases[] = {
      {"null", nullptr, ""},
      {"first three members by key, strings bare", json::parse(R"({"d":1,"a":"x","c":[1,"한"],"b":null})"),
       "x  null  [1,\"한\"]"},
      {"nested object as compact JSON", json::parse(R"({"where":{"sheet":"S","cell":"B2"}})"),
       R"({"cell":"B2","sheet":"S"})"},
      {"empty object", json::object(), ""},
      {"string that is not JSON", "hello\r\nworld", "hello  world"},
      {"string holding an object", R"({"b":2,"a":"\r\n"})", "    2"},
      {"string holding a string stays JSON", R"("quoted")", "\"quoted\""},
      {"string holding a number", "42", "42"},
      {"empty string is not JSON", "", ""},
      {"number", 3.5, "3.5"},
      {"boolean", true, "true"},
      {"array", json::parse(R"(["a",{"k":"v"}])"), R"(["a",{"k":"v"}])"},
      {"escapes of compact JSON", json::array({"tab\there\n"}), R"(["tab\there\n"])"},
      {"60 characters stay", sixty, sixty},
      {"61 characters are cut to 59 and an ellipsis", sixty_one, repeat("가", 59) + "…"},
      {"cut counts characters after joining", json{{"a", repeat("a", 30)}, {"b", repeat("b", 30)}},
       repeat("a", 30) + "  " + repeat("b", 27) + "…"},
  };
  for (const Case& c : cases) EXPECT_EQ(render_tool_args(c.value), c.want) << c.what;
  EXPECT_EQ(render_tool_args(nullptr), "");
}

TEST(RenderToolArgs, HostileValuesCostOnlyWhatIsShown) {
  // Nesting far deeper than any stack would survive if written out whole.
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  const json nested = json::parse(deep);
  EXPECT_EQ(render_tool_args(nested), repeat("[", 59) + "…");
  // (Built from text: copying such a value would recurse in the library.)
  EXPECT_EQ(render_tool_args(json::parse("{\"q\":" + deep + "}")), repeat("[", 59) + "…");
  EXPECT_EQ(render_tool_args(json(deep)), repeat("[", 59) + "…");

  const std::string big = repeat("데이터", 400000);
  EXPECT_EQ(render_tool_args(json{{"content", big}}), repeat("데이터", 19) + "데이…");
  EXPECT_EQ(render_tool_args(json::array({big})), "[\"" + repeat("데이터", 19) + "…");
}

TEST(RenderStripBold, RemovesEveryDoubleStar) {
  const std::pair<const char*, const char*> cases[] = {
      {"**굵게** 보통", "굵게 보통"}, {"***", "*"}, {"****", ""}, {"x***y", "x*y"}, {"a*b", "a*b"}, {"", ""},
      {"* 목록", "* 목록"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(strip_bold(text), want) << text;
}

}  // namespace
}  // namespace lumaro
