// Child processes with the stand-in tool (path in LUMARO_FAKE_TOOL), copied
// into a fresh folder under the name a test needs.
#include "runner/child_process_win.h"

#include <gtest/gtest.h>

#include "base/file_win.h"
#include "base/text_win.h"
#include "paths/user_paths.h"
#include "tool_fixture_win.h"

namespace lumaro {
namespace {

TEST(ChildProcess, RunToEndCapturesBothStreamsTheExitCodeAndPassesInput) {
  ToolFolder folder;
  const std::wstring tool = folder.install(L"codex.exe", "out first\nerr oops\nout second\nexit 3\n");
  ChildSpec launch;
  launch.command_line = L"\"" + tool + L"\" login status";
  launch.env = {{L"MCP_TIMEOUT", L"60000"}};
  launch.working_dir = folder.dir();
  const ToolRun run = run_to_end(launch, std::string("Y\n"));
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exit_code, 3u);
  EXPECT_EQ(run.out, "first\nsecond\n");
  EXPECT_EQ(run.err, "oops\n");
  const auto record = folder.last_record(L"codex");
  EXPECT_EQ(record["argv"], (nlohmann::json{to_utf8(tool), "login", "status"}));
  EXPECT_EQ(record["stdin"], "Y\n");
  EXPECT_EQ(record["env"]["MCP_TIMEOUT"], "60000");
  EXPECT_EQ(record["cwd"], to_utf8(folder.dir()));
}

TEST(ChildProcess, LargeOutputOnBothStreamsDoesNotDeadlock) {
  ToolFolder folder;
  std::string script;
  for (int i = 0; i < 3000; ++i) script += "out " + std::string(100, 'o') + "\nerr " + std::string(100, 'e') + "\n";
  const std::wstring tool = folder.install(L"agy.exe", script);
  ChildSpec launch;
  launch.command_line = L"\"" + tool + L"\" models";
  const ToolRun run = run_to_end(launch);
  EXPECT_EQ(run.out.size(), 3000u * 101);
  EXPECT_EQ(run.err.size(), 3000u * 101);
  EXPECT_EQ(folder.last_record(L"agy")["stdin"], "");  // the null device
}

TEST(ChildProcess, ARunPastItsLimitIsEndedWithWhatItPrinted) {
  ToolFolder folder;
  const std::wstring tool = folder.install(L"claude.exe", "out partial\nerr stuck\nwait\n");
  ChildSpec launch;
  launch.command_line = L"\"" + tool + L"\" auth status";
  const ULONGLONG start = GetTickCount64();
  const ToolRun run = run_to_end(launch, std::nullopt, nullptr, 1500);
  EXPECT_LT(GetTickCount64() - start, 10000u);
  EXPECT_TRUE(run.started);
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(run.out, "partial\n");
  EXPECT_EQ(run.err, "stuck\n");
  EXPECT_TRUE(folder.running().empty());
  // A run that ends in time is not marked.
  folder.install(L"claude.exe", "out done\n");
  EXPECT_FALSE(run_to_end(launch, std::nullopt, nullptr, 10000).timed_out);
}

TEST(ChildProcess, AMissingProgramIsReportedNotRun) {
  ChildSpec launch;
  launch.command_line = L"\"C:\\no\\such\\tool.exe\"";
  auto started = start_child(launch);
  ASSERT_TRUE(std::holds_alternative<DWORD>(started));
  EXPECT_NE(std::get<DWORD>(started), 0u);
  EXPECT_FALSE(run_to_end(launch).started);
}

}  // namespace
}  // namespace lumaro
