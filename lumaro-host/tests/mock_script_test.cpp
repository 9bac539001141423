#include "runner/mock_script.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

const char kNoDocument[] = "가짜 공급자 응답입니다. 문서 내용이 없어 요청만 확인했습니다.";

TEST(MockScript, ModeIsOnOnlyForExactlyOne) {
  EXPECT_TRUE(is_mock_mode(std::string("1")));
  for (const char* off : {"0", "true", "1 ", " 1", "", "11"}) EXPECT_FALSE(is_mock_mode(std::string(off))) << off;
  EXPECT_FALSE(is_mock_mode(std::nullopt));
}

TEST(MockScript, ConversationIdContinuesOrStartsFromPid) {
  EXPECT_EQ(mock_conversation_id(std::string("mock-77"), 1234), "mock-77");
  EXPECT_EQ(mock_conversation_id(std::nullopt, 1234), "mock-1234");
  EXPECT_EQ(mock_conversation_id(std::string(), 1234), "mock-1234");
}

TEST(MockScript, DocumentIsTheFirstFramedBlock) {
  struct Case {
    const char* message;
    const char* document;
  };
  const Case cases[] = {
      {"[문서]\n a\n b \n[/문서]\n\nq", " a\n b "},
      {"x[문서]\n1\n[/문서] [문서]\n2\n[/문서]", "1"},
      {"[문서]\n\n[/문서]\n\nq", ""},
      {"q", ""},
      {"[문서]\nno end", ""},
      {"no start\n[/문서]", ""},
      {"\n[/문서] [문서]\nlate start", ""},  // end marker first
      {"[문서]\n[/문서]", ""},               // markers overlap on the line feed
  };
  for (const Case& c : cases) EXPECT_EQ(mock_document(c.message), c.document) << c.message;
}

TEST(MockScript, AnswerBulletsEachNonBlankLine) {
  EXPECT_EQ(mock_answer(" a\r\n\n  \t\n b \r\n가나 "), "○ a\n○ b\n○ 가나");
  EXPECT_EQ(mock_answer(""), kNoDocument);
  EXPECT_EQ(mock_answer(" \r\n\u3000\n"), kNoDocument);
}

TEST(MockScript, ToolCountsCharactersOrEditsACell) {
  const MockTool read = mock_tool(" 가나\n", false);
  EXPECT_EQ(read.name, "read_document");
  EXPECT_EQ(read.args, "4자");
  EXPECT_EQ(mock_tool("", false).args, "0자");
  const MockTool cell = mock_tool(" 가나\n", true);
  EXPECT_EQ(cell.name, "set_cell");
  EXPECT_EQ(cell.args, "B10  =SUM(B2:B9)");
}

TEST(MockScript, ChunksAreAtMostSixteenWholeCharacterPieces) {
  struct Case {
    std::string answer;
    std::vector<std::string> pieces;
    unsigned pause_ms;
  };
  const Case cases[] = {
      {"a", {"a"}, 1600},
      {"○ a\n○ b", {"○", " ", "a", "\n", "○", " ", "b"}, 228},
      {"abcdefghijklmnopqrst", {"ab", "cd", "ef", "gh", "ij", "kl", "mn", "op", "qr", "st"}, 160},
      {std::string(16, 'x'), std::vector<std::string>(16, "x"), 100},
      // 17 characters: pieces of two, the last one short.
      {"가나다라마바사아자차카타파하가나다",
       {"가나", "다라", "마바", "사아", "자차", "카타", "파하", "가나", "다"}, 177},
      {"", {}, 0},
  };
  for (const Case& c : cases) {
    const MockChunks chunks = mock_chunks(c.answer);
    EXPECT_EQ(chunks.pieces, c.pieces) << c.answer;
    EXPECT_EQ(chunks.pause_ms, c.pause_ms) << c.answer;
  }
}

}  // namespace
}  // namespace lumaro
