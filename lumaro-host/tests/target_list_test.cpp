#include "util/target_list.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

using Names = std::vector<std::string>;
const Names kDefaults{"notepad.exe", "cellwick.exe", "hwp.exe"};

TEST(TargetList, DefaultsWhenTheFileGivesNothing) {
  struct Case {
    const char* what;
    std::optional<std::string_view> bytes;
  };
  const Case cases[] = {
      {"missing", std::nullopt},
      {"empty", ""},
      {"comments and blanks only", "# list\n\n   \n\"\"\n  # more\r\n"},
      {"not UTF-8", std::string_view("myapp.exe\n\xC3(\n", 13)},
      {"a folder only", "C:\\Apps\\\n/usr/bin/\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_target_list(c.bytes), kDefaults) << c.what;
}

TEST(TargetList, LineRules) {
  const std::string file =
      "  \"C:\\Apps\\HWP.EXE\"   # the word processor\n"
      "hwp.exe\n"                               // duplicate of the line above
      "\t/opt/wine/Notepad.EXE\r\n"
      "\"\"quoted twice.exe\"\"\n"
      "C:\\Program Files\\Ünïcode\\ÄPFEL.EXE\n"
      "İSTANBUL.EXE\n"
      "ΣΟΦΙΑ.exe#comment right after\n"
      "  # a comment line\n"
      "last-without-newline.exe";
  EXPECT_EQ(parse_target_list(file),
            (Names{"hwp.exe", "notepad.exe", "quoted twice.exe", "äpfel.exe",
                   "i\xCC\x87stanbul.exe", "σοφια.exe", "last-without-newline.exe"}));
}

TEST(TargetList, LeadingByteOrderMarkIsNotPartOfTheFirstName) {
  EXPECT_EQ(parse_target_list("\xEF\xBB\xBFmyapp.exe\n"), Names{"myapp.exe"});
}

TEST(TargetList, LineLengthLimitAppliesBeforeTakingTheFileName) {
  const std::string folder = "C:\\" + std::string(250, 'd') + "\\";
  const std::string at_limit = folder + std::string(260 - folder.size(), 'a');
  const std::string over = folder + std::string(261 - folder.size(), 'b');
  const auto names = parse_target_list("  " + at_limit + "  \n" + over + "\n");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], std::string(260 - folder.size(), 'a'));
}

TEST(TargetList, KeepsTheFirst256Names) {
  std::string file;
  for (int i = 0; i < 300; ++i) file += "app" + std::to_string(i) + ".exe\n";
  const auto names = parse_target_list(file);
  ASSERT_EQ(names.size(), 256u);
  EXPECT_EQ(names.front(), "app0.exe");
  EXPECT_EQ(names.back(), "app255.exe");
}

}  // namespace
}  // namespace lumaro
