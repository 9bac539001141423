#include "ipc/line_splitter.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

using Lines = std::vector<std::string>;

TEST(LineSplitter, CutsStripsOneCrAndDropsBlankLines) {
  struct Case {
    std::string in;
    Lines out;
  };
  const Case cases[] = {
      {"a\r\n", {"a"}},
      {"\r\n", {}},
      {"   \n", {}},
      {"\n", {}},
      {"a\r\r\n", {"a\r"}},              // only one CR goes
      {" x \n", {" x "}},                // kept untrimmed
      {"one\ntwo\n\nthree\n", {"one", "two", "three"}},
      {"\xFF\n", {"\xEF\xBF\xBD"}},      // bad UTF-8 replaced, never rejected
      {"\xE3\x80\x80\n", {}},            // ideographic space only
  };
  for (const auto& c : cases) {
    LineSplitter s;
    EXPECT_EQ(s.feed(c.in), c.out) << testing::PrintToString(c.in);
  }
}

TEST(LineSplitter, KeepsTheUnfinishedRestForTheNextRead) {
  LineSplitter s;
  EXPECT_EQ(s.feed("{\"t\":\"stop\"}\n{\"t\":\"op"), Lines{"{\"t\":\"stop\"}"});
  EXPECT_EQ(s.pending_bytes(), 8u);
  EXPECT_EQ(s.feed("en\"}\n"), Lines{"{\"t\":\"open\"}"});
  EXPECT_EQ(s.pending_bytes(), 0u);
}

TEST(LineSplitter, LineLengthLimit) {
  LineSplitter s;
  const std::string exact(kMaxLineBytes, 'x');
  EXPECT_EQ(s.feed(exact + "\n"), Lines{exact});
  EXPECT_TRUE(s.feed(exact + "x\n").empty());
  // The limit applies after the CR is removed.
  EXPECT_EQ(s.feed(exact + "\r\n"), Lines{exact});
  // Replacement characters count: 200000 bad bytes become 600000 bytes.
  EXPECT_TRUE(s.feed(std::string(200000, '\xFF') + "\n").empty());
}

TEST(LineSplitter, DiscardsAnOverlongUnterminatedRestAndResynchronises) {
  LineSplitter s;
  EXPECT_TRUE(s.feed(std::string(kMaxLineBytes, 'x')).empty());
  EXPECT_EQ(s.pending_bytes(), kMaxLineBytes);  // exactly the limit is kept
  EXPECT_TRUE(s.feed("y").empty());             // 524289 bytes: gone
  EXPECT_EQ(s.pending_bytes(), 0u);
  EXPECT_EQ(s.feed("tail\nnext\n"), (Lines{"tail", "next"}));
}

TEST(LineSplitter, ByteAtATimeGivesTheSameLines) {
  const std::string stream = "alpha\r\n\n beta\n\xED\x95\x9C\xEA\xB8\x80\ngamma";
  LineSplitter whole, bytewise;
  Lines a = whole.feed(stream), b;
  for (char c : stream) {
    for (auto& line : bytewise.feed(std::string(1, c))) b.push_back(line);
  }
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, (Lines{"alpha", " beta", "\xED\x95\x9C\xEA\xB8\x80"}));
}

}  // namespace
}  // namespace lumaro
