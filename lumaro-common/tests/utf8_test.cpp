#include "base/utf8.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

TEST(Utf8, SanitizeReplacesEachMaximalInvalidSubpart) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain ascii", "plain ascii"},
      {"\xED\x95\x9C\xEA\xB8\x80", "\xED\x95\x9C\xEA\xB8\x80"},                  // 한글 unchanged
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},                                        // invalid lead byte
      {"\xE2\x82", "\xEF\xBF\xBD"},                                               // truncated: one U+FFFD
      {"\xE2\x82" "a", "\xEF\xBF\xBD" "a"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong: two
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // surrogate: three
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                                  // emoji kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sanitize_utf8(c.in), c.out) << testing::PrintToString(c.in);
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out) << testing::PrintToString(c.in);
  }
}

TEST(Utf8, BlankAndTrimUseUnicodeWhiteSpace) {
  EXPECT_TRUE(is_blank(""));
  EXPECT_TRUE(is_blank(" \t\r\n\v\f"));
  EXPECT_TRUE(is_blank("\xE3\x80\x80\xC2\xA0"));  // ideographic space, no-break space
  EXPECT_FALSE(is_blank("  x "));
  EXPECT_FALSE(is_blank("\xE2\x80\x8B"));  // zero-width space is not White_Space
  EXPECT_EQ(trim_unicode_space("\xE3\x80\x80 opus \t"), "opus");
  EXPECT_EQ(trim_unicode_space(" a b "), "a b");
  EXPECT_EQ(trim_unicode_space("   "), "");
}

}  // namespace
}  // namespace lumaro
