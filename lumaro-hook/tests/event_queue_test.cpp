#include "pipe/event_queue.h"

#include <gtest/gtest.h>

#include <variant>

namespace lumaro::hook {
namespace {

std::string text_of(const Event& e) { return std::get<TextEvent>(e).text; }

TEST(WindowEventQueue, TakesOnlyTheWindowsEventsInOrder) {
  WindowEventQueue q;
  q.push(1, TextEvent{1, "a", false});
  q.push(2, TextEvent{2, "x", false});
  q.push(1, TextEvent{1, "b", false});
  const auto one = q.take(1);
  ASSERT_EQ(one.size(), 2u);
  EXPECT_EQ(text_of(one[0]), "a");
  EXPECT_EQ(text_of(one[1]), "b");
  EXPECT_EQ(q.size(), 1u);
  EXPECT_TRUE(q.take(1).empty());
  q.remove(2);
  EXPECT_EQ(q.size(), 0u);
}

TEST(WindowEventQueue, FiveThousandEventsKeepTheLast4096) {
  WindowEventQueue q;
  for (int i = 0; i < 5000; ++i) q.push(7, TextEvent{7, std::to_string(i), false});
  const auto all = q.take(7);
  ASSERT_EQ(all.size(), kWindowEventCapacity);
  EXPECT_EQ(text_of(all.front()), "904");
  EXPECT_EQ(text_of(all.back()), "4999");
}

}  // namespace
}  // namespace lumaro::hook
