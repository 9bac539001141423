#include "app/connection_registry.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

struct Recorder : LineSink {
  std::vector<std::string> lines;
  void push(std::string line) override { lines.push_back(std::move(line)); }
};

TEST(ConnectionRegistry, EntriesLiveFromInsertUntilRemove) {
  ConnectionRegistry r;
  auto a = std::make_shared<Recorder>(), b = std::make_shared<Recorder>();
  r.insert(1, a);
  r.insert(2, b);
  EXPECT_EQ(r.size(), 2u);
  EXPECT_EQ(r.lookup(1), a);
  EXPECT_EQ(r.all().size(), 2u);
  r.insert(1, b);  // replaces
  EXPECT_EQ(r.lookup(1), b);
  r.remove(1);
  r.remove(7);  // unknown: nothing happens
  EXPECT_EQ(r.lookup(1), nullptr);
  EXPECT_EQ(r.size(), 1u);
  // A sink looked up before removal stays usable; it just goes nowhere.
  auto held = r.lookup(2);
  r.remove(2);
  held->push("late");
  EXPECT_EQ(b->lines, std::vector<std::string>{"late"});
}

}  // namespace
}  // namespace lumaro
