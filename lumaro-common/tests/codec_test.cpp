#include "ipc/codec.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

const std::string kPng = "data:image/png;base64,";

TEST(Encode, RequestsWithSortedKeysAndPresetOnlyWhenSet) {
  struct Case {
    Request request;
    std::string line;
  };
  const Case cases[] = {
      {OpenRequest{10, "A"}, R"({"t":"open","title":"A","w":10})"},
      {SendRequest{5, "q", "", "claude", "", ""},
       R"({"context":"","model":"","provider":"claude","t":"send","text":"q","w":5})"},
      {SendRequest{5, "q", "c", "gemini", "m", "munche"},
       R"({"context":"c","model":"m","preset":"munche","provider":"gemini","t":"send","text":"q","w":5})"},
      {HelloRequest{4242, 64, "C:\\Windows\\notepad.exe"},
       R"({"bits":64,"exe":"C:\\Windows\\notepad.exe","pid":4242,"t":"hello"})"},
      {SelectRequest{"claude", "opus"}, R"({"model":"opus","provider":"claude","t":"select"})"},
      {CloseRequest{0xFFFFFFFFFFFFFFFFull}, R"({"t":"close","w":18446744073709551615})"},
      {ApplyRequest{1, "\xED\x95\x9C\n\"\\\x01"}, "{\"t\":\"apply\",\"text\":\"\xED\x95\x9C\\n\\\"\\\\\\u0001\",\"w\":1}"},
  };
  for (const auto& c : cases) EXPECT_EQ(encode(c.request), c.line);
}

TEST(Encode, EventsWithSortedKeys) {
  StateEvent state{{{"claude", "Claude", LoginState::logging_in}}, "claude", "", {{"claude", "", "Claude · 기본 모델"}}};
  EXPECT_EQ(encode(state),
            R"({"model":"","models":[{"label":"Claude · 기본 모델","model":"","provider":"claude"}],)"
            R"("provider":"claude","providers":[{"key":"claude","login":"logging_in","name":"Claude"}],"t":"state"})");
  EXPECT_EQ(encode(TextEvent{7, "hi", true}), R"({"new":true,"t":"text","text":"hi","w":7})");
  EXPECT_EQ(encode(ConnEvent{7, false, ""}), R"({"ok":false,"t":"conn","text":"","w":7})");
  EXPECT_EQ(encode(DoneEvent{7, ""}), R"({"error":"","t":"done","w":7})");
  // A title with a byte that is not UTF-8 must still encode.
  EXPECT_EQ(encode(NoteEvent{1, "a\xFF"}), "{\"t\":\"note\",\"text\":\"a\xEF\xBF\xBD\",\"w\":1}");
}

TEST(DecodeRequest, EveryKindRoundTrips) {
  const Request requests[] = {
      HelloRequest{1, 32, "browser:edge"}, OpenRequest{2, "t"},       CloseRequest{3},
      SendRequest{4, "a", "b", "c", "d", "e"}, StopRequest{5},        ImageRequest{6, kPng + "QUJD"},
      UsageRequest{7, "claude"},          LoginRequest{8, "gemini", "m"}, LogoutRequest{9, "chatgpt"},
      AccountRequest{10, "claude"},       SelectRequest{"gemini", "x"}, ResetRequest{11, "claude", "s"},
      ApplyRequest{12, "text"}};
  for (const auto& r : requests) {
    auto decoded = decode_request(encode(r));
    ASSERT_TRUE(decoded) << encode(r);
    EXPECT_EQ(encode(*decoded), encode(r));
  }
}

TEST(DecodeRequest, LenientKeysAndWindowRules) {
  auto send = decode_request(R"({"t":"send","w":5})");
  ASSERT_TRUE(send);
  const auto& s = std::get<SendRequest>(*send);
  EXPECT_EQ(s.w, 5u);
  EXPECT_EQ(s.text + s.context + s.provider + s.model + s.preset, "");

  struct Case {
    const char* line;
    WindowId w;
  };
  const Case windows[] = {
      {R"({"t":"stop","w":-3})", 0},
      {R"({"t":"stop","w":5.0})", 0},
      {R"({"t":"stop","w":"5"})", 0},
      {R"({"t":"stop","w":18446744073709551615})", 18446744073709551615ull},
      {R"({"t":"stop","w":18446744073709551616})", 0},  // does not fit 64 bits
      {R"({"t":"stop"})", 0},
  };
  for (const auto& c : windows) {
    auto r = decode_request(c.line);
    ASSERT_TRUE(r) << c.line;
    EXPECT_EQ(std::get<StopRequest>(*r).w, c.w) << c.line;
  }

  auto hello = decode_request(R"({"t":"hello","pid":4294967297,"bits":-64,"exe":7,"w":9,"x":[1]})");
  ASSERT_TRUE(hello);
  const auto& h = std::get<HelloRequest>(*hello);
  EXPECT_EQ(h.pid, 1u);  // low 32 bits
  EXPECT_EQ(h.bits, 0u);
  EXPECT_EQ(h.exe, "");
  auto frac = decode_request(R"({"t":"hello","pid":12.5})");
  EXPECT_EQ(std::get<HelloRequest>(*frac).pid, 0u);
}

TEST(DecodeRequest, RejectsWhatIsNotARequest) {
  const std::string depth128 = std::string(127, '[') + std::string(127, ']');
  const std::string depth129 = std::string(128, '[') + std::string(128, ']');
  const std::string lines[] = {
      R"({"t":"SEND","w":1})",
      R"({"w":1})",
      R"({"t":5})",
      R"({"t":"hello"} x)",
      R"({"t":"hello"}{"t":"hello"})",
      R"(["t","hello"])",
      "not json",
      R"({"t":"image","w":1,"data":"data:image/bmp;base64,QUJD"})",
      R"({"t":"image","w":1})",
      R"({"t":"stop","x":)" + depth129 + "}",
  };
  for (const auto& line : lines) EXPECT_FALSE(decode_request(line)) << line;
  EXPECT_TRUE(decode_request(R"({"t":"stop","x":)" + depth128 + "}"));
  EXPECT_TRUE(decode_request(" {\"t\":\"stop\"} \t"));
}

TEST(DecodeEvent, StateListsAreBoundedAndLenient) {
  std::string providers, models;
  for (int i = 0; i < 20; ++i) providers += std::string(i ? "," : "") + R"({"key":"p)" + std::to_string(i) + R"(","login":"in"})";
  for (int i = 0; i < 70; ++i) models += std::string(i ? "," : "") + R"({"model":"m)" + std::to_string(i) + R"("})";
  auto e = decode_event(R"({"t":"state","providers":[)" + providers + R"(],"models":[)" + models + "]}");
  ASSERT_TRUE(e);
  const auto& st = std::get<StateEvent>(*e);
  ASSERT_EQ(st.providers.size(), 16u);
  EXPECT_EQ(st.providers[15].key, "p15");
  EXPECT_EQ(st.providers[0].login, LoginState::in);
  ASSERT_EQ(st.models.size(), 64u);
  EXPECT_EQ(st.models[63].model, "m63");

  auto odd = decode_event(R"({"t":"state","providers":[3,{"key":"k","login":"IN"}],"models":{}})");
  ASSERT_TRUE(odd);
  const auto& o = std::get<StateEvent>(*odd);
  ASSERT_EQ(o.providers.size(), 2u);
  EXPECT_EQ(o.providers[0], ProviderEntry{});
  EXPECT_EQ(o.providers[1].login, LoginState::unknown);  // case-sensitive
  EXPECT_TRUE(o.models.empty());
}

TEST(DecodeEvent, BooleansAndKinds) {
  auto text = decode_event(R"({"t":"text","w":3,"text":"x","new":"true"})");
  ASSERT_TRUE(text);
  EXPECT_FALSE(std::get<TextEvent>(*text).new_block);
  auto conn = decode_event(R"({"t":"conn","w":3,"ok":true})");
  ASSERT_TRUE(conn);
  EXPECT_TRUE(std::get<ConnEvent>(*conn).ok);
  EXPECT_EQ(event_window(*conn), 3u);
  EXPECT_FALSE(decode_event(R"({"t":"send","w":3})"));  // a request kind is no event
  for (const Event& ev : {Event{ToolEvent{1, "Read", "a.txt"}}, Event{NoteEvent{2, "n"}}, Event{DoneEvent{3, "e"}}}) {
    auto back = decode_event(encode(ev));
    ASSERT_TRUE(back);
    EXPECT_EQ(encode(*back), encode(ev));
  }
}

TEST(ImageData, PrefixPayloadAndSizeRules) {
  const std::string max_payload(0x7FEFF - kPng.size(), 'A');
  struct Case {
    std::string data;
    bool ok;
  };
  const Case cases[] = {
      {kPng + "QUJD", true},
      {"data:image/jpeg;base64,QUJD", true},
      {"data:image/webp;base64,QUJD", true},
      {"data:image/gif;base64,QUJD==", true},
      {kPng, false},
      {"data:image/bmp;base64,QUJD", false},
      {"DATA:image/png;base64,QUJD", false},
      {kPng + "QU-D", false},
      {kPng + "QU_D", false},
      {kPng + "QU D", false},
      {kPng + max_payload, true},         // 524031 bytes
      {kPng + max_payload + "A", false},  // 524032 bytes
  };
  for (const auto& c : cases) EXPECT_EQ(validate_image_data(c.data), c.ok) << c.data.substr(0, 40);
}

}  // namespace
}  // namespace lumaro
