#include <gtest/gtest.h>

#include "providers/catalogue.h"
#include "providers/settings.h"
#include "providers/state_event.h"

namespace lumaro {
namespace {

using Models = std::map<std::string, std::vector<std::string>>;

TEST(ProviderCatalogue, IdLookupIsExactAndDefaultsToClaude) {
  struct Case {
    std::string id;
    int index;
  };
  const Case cases[] = {{"claude", 0}, {"chatgpt", 1}, {"gemini", 2}, {"Gemini", 0},
                        {"gemini ", 0}, {"", 0},       {"openai", 0}};
  for (const auto& c : cases) EXPECT_EQ(provider_index(c.id), c.index) << c.id;

  EXPECT_EQ(provider_label(1), "ChatGPT");
  EXPECT_EQ(provider_product_name(2), "Gemini CLI (Google)");
  EXPECT_EQ(provider_id(7), "claude");  // out of range reads as provider 0
  ASSERT_EQ(builtin_models(0).size(), 4u);
  EXPECT_EQ(builtin_models(0)[2].id, "sonnet");
  for (int p = 0; p < kProviderCount; ++p) {
    EXPECT_EQ(builtin_models(p)[0].id, "") << p;
    EXPECT_EQ(builtin_models(p)[0].label, "기본 모델") << p;
  }
}

TEST(ProviderCatalogue, EffortSuffix) {
  const auto plain = split_model_effort("sonnet");
  EXPECT_EQ(plain.model, "sonnet");
  EXPECT_FALSE(plain.has_effort);
  const auto both = split_model_effort("gpt@high@x");
  EXPECT_EQ(both.model, "gpt");
  EXPECT_EQ(both.effort, "high@x");
  EXPECT_TRUE(both.has_effort);
  const auto bare = split_model_effort("@max");
  EXPECT_EQ(bare.model, "");
  EXPECT_EQ(bare.effort, "max");

  struct Case {
    int provider;
    std::string effort;
    bool accepted;
  };
  const Case cases[] = {
      {0, "low", true},    {0, "xhigh", true},  {0, "max", true},   {0, "fast", false},
      {0, "High", false},  {0, "", false},      {1, "high", true},  {1, "whatever", true},
      {1, "High", false},  {1, "", false},      {1, "hi gh", false}, {2, "high", false},
  };
  for (const auto& c : cases) EXPECT_EQ(accepts_effort(c.provider, c.effort), c.accepted) << c.provider << c.effort;
}

TEST(ProviderSettings, ScalarMembersFallBackToDefaults) {
  struct Case {
    std::string text;
    std::string provider, model;
  };
  const Case cases[] = {
      {R"({"provider":"gemini","model":"flash"})", "gemini", "flash"},
      {R"({"provider":"CLAUDE","model":"opus"})", "claude", "opus"},
      {R"({"provider":"ChatGPT"})", "claude", ""},
      {R"({"provider":3,"model":7})", "claude", ""},
      {R"({"provider":null,"model":["x"]})", "claude", ""},
      {R"({"provider":"chatgpt","model":"","models":5})", "chatgpt", ""},
      {"\xEF\xBB\xBF{\"provider\":\"gemini\"}", "gemini", ""},  // byte order mark
      {"", "claude", ""},
      {"not json", "claude", ""},
      {R"({"provider":"gemini")", "claude", ""},  // truncated: all defaults
      {R"(["gemini"])", "claude", ""},
      {"{\"provider\":\"gemini\",\"model\":\"\xFF\"}", "claude", ""},  // invalid UTF-8 is invalid JSON
      {std::string(100000, '[') + std::string(100000, ']'), "claude", ""},
  };
  for (const auto& c : cases) {
    const ProviderSettings s = parse_provider_settings(c.text);
    EXPECT_EQ(s.provider, c.provider) << c.text.substr(0, 60);
    EXPECT_EQ(s.model, c.model) << c.text.substr(0, 60);
    EXPECT_TRUE(s.models.empty()) << c.text.substr(0, 60);
  }
}

TEST(ProviderSettings, CustomModelListsAreFilteredAndBounded) {
  const std::string ok79(79, 'm');
  const std::string long80(80, 'm');
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += (i ? ",\"m" : "\"m") + std::to_string(i) + "\"";
  const std::string text = R"({"models":{)"
                           R"("claude":[")" + ok79 + R"(",")" + long80 + R"(","  opus  ","   ","",)"
                           R"("\u3000X\u00a0",7,null,["y"],{"z":1}],)"
                           R"("chatgpt":[)" + twenty + R"(],)"
                           R"("gemini":"pro",)"
                           R"("zzz":["kept key"]}})";
  const ProviderSettings s = parse_provider_settings(text);
  ASSERT_EQ(s.models.size(), 4u);
  EXPECT_EQ(s.models.at("claude"), (std::vector<std::string>{ok79, "opus", "X"}));
  ASSERT_EQ(s.models.at("chatgpt").size(), 16u);
  EXPECT_EQ(s.models.at("chatgpt").front(), "m0");
  EXPECT_EQ(s.models.at("chatgpt").back(), "m15");
  EXPECT_TRUE(s.models.at("gemini").empty());  // not an array: an empty list, key kept
  EXPECT_EQ(s.models.at("zzz"), (std::vector<std::string>{"kept key"}));

  // The 79-byte limit applies before trimming.
  const std::string padded = " " + ok79;
  EXPECT_TRUE(parse_provider_settings(R"({"models":{"k":[")" + padded + R"("]}})").models.at("k").empty());
}

TEST(ProviderSettings, OnlyTheFirstEightKeysInKeyOrderCount) {
  // Written out of order; "k9" sorts before "ka" and "kb", which are dropped.
  const std::string text =
      R"({"models":{"kb":["b"],"k7":["7"],"k1":["1"],"k3":["3"],"k2":["2"],"ka":["a"],)"
      R"("k9":["9"],"k4":["4"],"k5":["5"],"k6":["6"]}})";
  const ProviderSettings s = parse_provider_settings(text);
  std::vector<std::string> keys;
  for (const auto& [key, list] : s.models) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k9"}));
}

TEST(ProviderSettings, FormatIsIndentedSortedAndReadsBack) {
  ProviderSettings s;
  s.provider = "chatgpt";
  s.model = "gpt-5@high";
  s.models = {{"claude", {"opus", "claude-x"}}, {"custom-key", {}}, {"gemini", {"한국어 모델"}}};
  const std::string text = format_provider_settings(s);
  EXPECT_EQ(text,
            "{\n"
            "  \"model\": \"gpt-5@high\",\n"
            "  \"models\": {\n"
            "    \"claude\": [\n"
            "      \"opus\",\n"
            "      \"claude-x\"\n"
            "    ],\n"
            "    \"custom-key\": [],\n"
            "    \"gemini\": [\n"
            "      \"한국어 모델\"\n"
            "    ]\n"
            "  },\n"
            "  \"provider\": \"chatgpt\"\n"
            "}\n");
  EXPECT_EQ(parse_provider_settings(text), s);

  EXPECT_EQ(format_provider_settings(ProviderSettings{}),
            "{\n  \"model\": \"\",\n  \"models\": {},\n  \"provider\": \"claude\"\n}\n");
  EXPECT_EQ(parse_provider_settings(""), ProviderSettings{});
}

TEST(ProviderSettings, UnknownKeysSurviveASave) {
  const ProviderSettings read = parse_provider_settings(R"({"models":{"mistral":["large"]},"extra":1})");
  ProviderSettings changed = read;
  changed.provider = "gemini";  // what a "select" does before saving
  const ProviderSettings again = parse_provider_settings(format_provider_settings(changed));
  EXPECT_EQ(again.models, (Models{{"mistral", {"large"}}}));
  EXPECT_EQ(again.provider, "gemini");
}

TEST(ProviderStateEvent, ListsBuiltinsThenNewCustomIds) {
  ProviderSettings s;
  s.provider = "chatgpt";
  s.model = "X";
  s.models = {{"claude", {"opus", "X", "X", ""}}, {"chatgpt", {"gpt-5"}}, {"mistral", {"large"}}};
  const StateEvent e =
      build_state_event(s, {LoginState::in, LoginState::out, LoginState::missing});

  EXPECT_EQ(e.providers, (std::vector<ProviderEntry>{{"claude", "Claude", LoginState::in},
                                                     {"chatgpt", "ChatGPT", LoginState::out},
                                                     {"gemini", "Gemini", LoginState::missing}}));
  EXPECT_EQ(e.provider, "chatgpt");
  EXPECT_EQ(e.model, "X");
  EXPECT_EQ(e.models, (std::vector<ModelEntry>{
                          {"claude", "", "Claude · 기본 모델"},
                          {"claude", "opus", "Claude · Opus"},
                          {"claude", "sonnet", "Claude · Sonnet"},
                          {"claude", "haiku", "Claude · Haiku"},
                          {"claude", "X", "Claude · X"},
                          {"chatgpt", "", "ChatGPT · 기본 모델"},
                          {"chatgpt", "gpt-5", "ChatGPT · gpt-5"},
                          {"gemini", "", "Gemini · 기본 모델"},
                      }));
}

}  // namespace
}  // namespace lumaro
