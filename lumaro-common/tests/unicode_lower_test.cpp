#include "base/unicode_lower.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

TEST(ToLowerUnicode, MapsEveryScript) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"", ""},
      {"HWP.EXE hwp.exe 123_-", "hwp.exe hwp.exe 123_-"},
      {"ÀÉÎÕÜÞ", "àéîõüþ"},
      {"ĀāĂ", "āāă"},               // alternating upper/lower block
      {"ΣΟΦΙΑ", "σοφια"},           // no final-sigma rule
      {"ПРИВЕТ Ё", "привет ё"},
      {"\u212A\u2126", "kω"},       // Kelvin and Ohm signs
      {"ǅ", "ǆ"},                   // title case
      {"İ", "i\u0307"},             // the one mapping to two code points
      {"\U00010400\U0001E900", "\U00010428\U0001E922"},  // four-byte letters
      {"한글 ß ﬀ", "한글 ß ﬀ"},     // no lower case of their own
  };
  for (const Case& c : cases) EXPECT_EQ(to_lower_unicode(c.in), c.out) << c.in;
}

TEST(ToLowerUnicode, KeepsInvalidBytes) {
  EXPECT_EQ(to_lower_unicode(std::string_view("A\xC3(\xFF\xED\xA0\x80Z", 8)),
            std::string_view("a\xC3(\xFF\xED\xA0\x80z", 8));
}

}  // namespace
}  // namespace lumaro
