#include "paths/user_paths.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

TEST(UserPaths, FallbacksDifferPerFolder) {
  const OptionalEnv unset;
  EXPECT_EQ(resolve_data_dir(std::wstring(L"C:\\Users\\u\\AppData\\Local"), L"C:\\Temp\\"),
            L"C:\\Users\\u\\AppData\\Local\\Lumaro");
  EXPECT_EQ(resolve_data_dir(unset, L"C:\\Temp\\"), L"C:\\Temp\\Lumaro");
  EXPECT_EQ(resolve_data_dir(std::wstring(), L"C:\\Temp\\"), L"Lumaro");  // set but empty is used as is

  EXPECT_EQ(resolve_home_dir(std::wstring(L"C:\\Users\\u")), L"C:\\Users\\u");
  EXPECT_EQ(resolve_home_dir(unset), L".");

  EXPECT_EQ(resolve_tool_local_app_data(std::wstring(L"D:\\L"), unset), L"D:\\L");
  EXPECT_EQ(resolve_tool_local_app_data(unset, std::wstring(L"C:\\Users\\u")), L"C:\\Users\\u\\AppData\\Local");
  EXPECT_EQ(resolve_tool_local_app_data(unset, unset), L".\\AppData\\Local");
}

TEST(UserPaths, JoinAddsOneSeparator) {
  EXPECT_EQ(join_path(L"a", L"b"), L"a\\b");
  EXPECT_EQ(join_path(L"a\\", L"b"), L"a\\b");
  EXPECT_EQ(join_path(L"a/", L"b"), L"a/b");
  EXPECT_EQ(join_path(L"", L"b"), L"b");
}

}  // namespace
}  // namespace lumaro
