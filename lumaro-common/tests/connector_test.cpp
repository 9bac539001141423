#include "apps/connector.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

#include "base/text_win.h"
#endif

namespace lumaro {
namespace {

const TargetApp kCellwick = classify("cellwick.exe");

TEST(Connector, PortComesFromTheVariableOnlyWhenUsable) {
  struct Case {
    std::optional<std::string> value;
    uint16_t port;
  };
  const Case cases[] = {
      {std::nullopt, 7979},
      {"8123", 8123},
      {" 8123 ", 8123},
      {"\t+8123\r\n", 8123},
      {"\xC2\xA0" "8123\xE3\x80\x80", 8123},  // Unicode white space trims too
      {"1", 1},
      {"65535", 65535},
      {"0008123", 8123},
      {"", 7979},
      {"   ", 7979},
      {"+", 7979},
      {"-", 7979},
      {"-8123", 7979},
      {"++8123", 7979},
      {"0", 7979},
      {"65536", 7979},
      {"70000", 7979},
      {"99999999999999999999999", 7979},  // no wrap-around into range
      {"abc", 7979},
      {"81 23", 7979},
      {"8123x", 7979},
      {"\xEF\xBC\x98", 7979},  // fullwidth digit
      {"8123\xFF", 7979},      // not valid text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(connector_port(c.value, 7979), c.port) << testing::PrintToString(c.value);
  }
}

TEST(Connector, ProgramSitsBesideTheApplication) {
  struct Case {
    std::string exe;
    std::optional<std::string> program;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Cellwick\\cellwick.exe", "C:\\Program Files\\Cellwick\\cellwick-cli.exe"},
      {"C:/apps/Cellwick.exe", "C:/apps/cellwick-cli.exe"},
      {"C:\\cellwick.exe", "C:\\cellwick-cli.exe"},
      {"\\\\server\\share\\cellwick.exe", "\\\\server\\share\\cellwick-cli.exe"},
      {"cellwick.exe", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(connector_program_path(c.exe, "cellwick-cli.exe"), c.program) << c.exe;
  }
}

TEST(Connector, BuildsOnlyWhenTheProgramCanStart) {
  const std::string exe = "C:\\apps\\cellwick.exe";
  const auto built = build_connector(exe, kCellwick, std::string(" 8123 "), /*program_exists=*/true, false);
  ASSERT_TRUE(built);
  EXPECT_EQ(*built, (ConnectorSpec{"C:\\apps\\cellwick-cli.exe", {"mcp", "--connect", "127.0.0.1:8123"}, 8123}));

  const auto fallback = build_connector(exe, kCellwick, std::string("70000"), true, false);
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->args.back(), "127.0.0.1:7979");
  EXPECT_EQ(fallback->port, 7979);

  // A missing program only passes in mock mode, where no tool starts it.
  EXPECT_FALSE(build_connector(exe, kCellwick, std::nullopt, /*program_exists=*/false, /*mock_mode=*/false));
  const auto mock = build_connector(exe, kCellwick, std::nullopt, false, /*mock_mode=*/true);
  ASSERT_TRUE(mock);
  EXPECT_EQ(mock->program, "C:\\apps\\cellwick-cli.exe");

  EXPECT_FALSE(build_connector("cellwick.exe", kCellwick, std::nullopt, true, true));
  EXPECT_FALSE(build_connector(exe, classify("C:\\apps\\notepad.exe"), std::nullopt, true, true));
}

#ifdef _WIN32
// The Windows wrapper against a real folder and the real environment.
class ConnectorWin : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    dir_ = std::wstring(temp) + L"lumaro-connector-" + std::to_wstring(GetCurrentProcessId()) + L"-\xD55C";
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    exe_ = to_utf8(dir_) + "\\Cellwick.exe";
    SetEnvironmentVariableW(L"LUMARO_MOCK", nullptr);
    SetEnvironmentVariableW(L"CELLWICK_CONTROL_PORT", nullptr);
  }
  void TearDown() override {
    DeleteFileW(program().c_str());
    RemoveDirectoryW(program().c_str());
    RemoveDirectoryW(dir_.c_str());
    SetEnvironmentVariableW(L"LUMARO_MOCK", nullptr);
    SetEnvironmentVariableW(L"CELLWICK_CONTROL_PORT", nullptr);
  }
  std::wstring program() const { return dir_ + L"\\cellwick-cli.exe"; }
  void create_program() {
    HANDLE h = CreateFileW(program().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }

  std::wstring dir_;
  std::string exe_;
};

TEST_F(ConnectorWin, ReadsFileEnvironmentAndMockMode) {
  EXPECT_FALSE(build_connector(exe_, kCellwick));

  SetEnvironmentVariableW(L"LUMARO_MOCK", L"1 ");
  EXPECT_FALSE(mock_mode_from_env());
  EXPECT_FALSE(build_connector(exe_, kCellwick));
  SetEnvironmentVariableW(L"LUMARO_MOCK", L"1");
  EXPECT_TRUE(mock_mode_from_env());
  EXPECT_TRUE(build_connector(exe_, kCellwick));
  SetEnvironmentVariableW(L"LUMARO_MOCK", nullptr);

  // A folder with the program's name is no program.
  ASSERT_TRUE(CreateDirectoryW(program().c_str(), nullptr));
  EXPECT_FALSE(build_connector(exe_, kCellwick));
  ASSERT_TRUE(RemoveDirectoryW(program().c_str()));

  create_program();
  SetEnvironmentVariableW(L"CELLWICK_CONTROL_PORT", L" 8123 ");
  auto built = build_connector(exe_, kCellwick);
  ASSERT_TRUE(built);
  EXPECT_EQ(built->program, to_utf8(program()));
  EXPECT_EQ(built->args.back(), "127.0.0.1:8123");

  const std::wstring unpaired{L'8', static_cast<wchar_t>(0xD800)};
  SetEnvironmentVariableW(L"CELLWICK_CONTROL_PORT", unpaired.c_str());
  built = build_connector(exe_, kCellwick);
  ASSERT_TRUE(built);
  EXPECT_EQ(built->port, 7979);

  // Forward slashes find the same folder.
  std::string slashed = exe_;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  EXPECT_TRUE(build_connector(slashed, kCellwick));
}
#endif

}  // namespace
}  // namespace lumaro
