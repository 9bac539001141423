// A real host outside mock mode whose home (profile), APPDATA (roaming) and
// LOCALAPPDATA (local) all lie in a private tool folder, so every AI tool it
// can find is a stand-in the test installed there.
#pragma once

#include <gtest/gtest.h>

#include "host_harness_win.h"
#include "tool_fixture_win.h"

namespace lumaro {

class ToolHostTest : public testing::Test {
 protected:
  // `extra` comes after the folder settings, so a test may override them.
  void start(EnvChanges extra = {}) {
    data = tools.dir() + L"\\local";
    profile = tools.dir() + L"\\profile";
    create_directories(data);
    create_directories(profile);
    extra.insert(extra.begin(), {{L"LUMARO_MOCK", L""},
                                 {L"LUMARO_MOCK_LOGIN", L""},
                                 {L"LUMARO_CLAUDE", L""},
                                 {L"USERPROFILE", profile},
                                 {L"APPDATA", tools.dir() + L"\\roaming"},
                                 {L"PATH", L"C:\\windows\\system32;C:\\windows"}});
    host = start_host(data, L"", extra);
    ASSERT_TRUE(host.process);
    ASSERT_TRUE(wait_for_log(data, host.pid, "파이프 서버 "));
  }
  bool host_running() const { return host.process && !host.wait(0); }
  void TearDown() override {
    if (!host_running()) return;
    HostProcess quit = start_host(data, L"--quit");
    quit.wait(kWaitMs);
    if (!host.wait(10000)) TerminateProcess(host.process.get(), 9);
    expect_no_tool_running();
  }
  // Nothing started from the tool folder runs any more. A process that was
  // just ended may take a moment to leave the process list.
  void expect_no_tool_running() {
    std::vector<std::string> left = tools.running();
    for (const ULONGLONG end = GetTickCount64() + 3000; !left.empty() && GetTickCount64() < end; left = tools.running()) {
      Sleep(50);
    }
    EXPECT_EQ(left, std::vector<std::string>{});
  }

  ToolFolder tools;
  std::wstring data, profile;
  HostProcess host;
};

}  // namespace lumaro
