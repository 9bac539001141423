#include "ipc/outbox_win.h"

#include <gtest/gtest.h>

#include "base/thread_win.h"
#include "ipc/pipe_name.h"

namespace lumaro {
namespace {

bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

TEST(Outbox, EventIsManualResetAndDrainResetsItFirst) {
  Outbox box;
  ASSERT_TRUE(box.valid());
  EXPECT_FALSE(signalled(box.event()));
  box.push("a");
  box.push("b");
  EXPECT_TRUE(signalled(box.event()));
  EXPECT_TRUE(signalled(box.event()));  // manual reset: waiting does not consume it
  EXPECT_EQ(box.drain(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(signalled(box.event()));
  EXPECT_TRUE(box.drain().empty());
}

TEST(Outbox, PushFromAnotherThreadWakesTheWaiter) {
  Outbox box;
  UniqueHandle thread = start_thread([&box] { box.push("from worker"); });
  ASSERT_TRUE(thread);
  ASSERT_EQ(WaitForSingleObject(box.event(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(box.drain(), std::vector<std::string>{"from worker"});
  WaitForSingleObject(thread.get(), 5000);
}

TEST(PipeName, UsesTheSessionOfThisProcess) {
  DWORD session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  EXPECT_EQ(pipe_name(), L"\\\\.\\pipe\\lumaro-" + std::to_wstring(session));
  EXPECT_EQ(pipe_name_for_session(1), L"\\\\.\\pipe\\lumaro-1");
}

}  // namespace
}  // namespace lumaro
