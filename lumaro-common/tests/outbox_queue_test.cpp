#include "ipc/outbox_queue.h"

#include <gtest/gtest.h>

#ifndef _WIN32  // the mingw win32 thread model has no std::thread
#include <thread>
#endif

namespace lumaro {
namespace {

TEST(OutboxQueue, FullQueueDropsTheOldestLine) {
  OutboxQueue q;
  for (size_t i = 1; i <= kOutboxCapacity; ++i) EXPECT_FALSE(q.push(std::to_string(i)));
  EXPECT_TRUE(q.push(std::to_string(kOutboxCapacity + 1)));
  auto lines = q.take_all();
  ASSERT_EQ(lines.size(), kOutboxCapacity);
  EXPECT_EQ(lines.front(), "2");
  EXPECT_EQ(lines.back(), "4097");
  EXPECT_EQ(q.size(), 0u);
}

#ifndef _WIN32
TEST(OutboxQueue, ConcurrentProducersLoseNothingBelowCapacity) {
  OutboxQueue q;
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&q, t] {
      for (int i = 0; i < 1000; ++i) q.push(std::to_string(t) + ":" + std::to_string(i));
    });
  }
  size_t taken = 0;
  while (taken < 4000) taken += q.take_all().size();
  for (auto& p : producers) p.join();
  EXPECT_EQ(taken, 4000u);
}
#endif

TEST(WriteBatch, AppendsLfAndStopsAtTheFirstFailedWrite) {
  std::vector<std::string> written;
  auto ok = write_batch({"a", "b", "c"}, [&](const std::string& bytes) {
    written.push_back(bytes);
    return written.size() < 2;
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(written, (std::vector<std::string>{"a\n", "b\n"}));
}

}  // namespace
}  // namespace lumaro
