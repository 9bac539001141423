#include "log/log_format.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

constexpr int64_t kUnixEpoch = 116444736000000000;
constexpr int64_t kMs = 10000;

TEST(LogFormat, TimestampIsUtcWithTruncatedMilliseconds) {
  struct Case {
    int64_t filetime;
    const char* text;
  };
  const Case cases[] = {
      {kUnixEpoch, "1970-01-01 00:00:00.000"},
      {kUnixEpoch - 1, "1970-01-01 00:00:00.000"},  // before 1970
      {0, "1970-01-01 00:00:00.000"},
      {kUnixEpoch + 1772356502042LL * kMs + 9999, "2026-03-01 09:15:02.042"},  // 0.9999 ms dropped
      {kUnixEpoch + 951782400000LL * kMs, "2000-02-29 00:00:00.000"},        // leap day
      {kUnixEpoch + 4102444799999LL * kMs, "2099-12-31 23:59:59.999"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_log_timestamp(c.filetime), c.text) << c.filetime;
}

TEST(LogFormat, LineIsStampTagAndCrLfWithTextVerbatim) {
  EXPECT_EQ(format_log_line("2026-03-01 09:15:02.042", tagged_log_message(LogRole::host, "x86", "시작")),
            "2026-03-01 09:15:02.042 [host x86] 시작\r\n");
  EXPECT_EQ(tagged_log_message(LogRole::hook, "x64", "a\nb {} \\"), "[hook x64] a\nb {} \\");
  EXPECT_EQ(log_file_name(4242), "lumaro-4242.log");
}

TEST(LogFormat, RotationCountsOnlyTheMessageAndOneByte) {
  EXPECT_TRUE(log_needs_rotation(1048000, 600));   // 1,048,601 > 1 MiB
  EXPECT_FALSE(log_needs_rotation(1047975, 600));  // exactly 1,048,576
  EXPECT_FALSE(log_needs_rotation(0, 0));
}

TEST(LogFormat, PruneKeepsTheFortyNewestLumaroEntries) {
  auto make = [](int count, int64_t equal_time = -1) {
    std::vector<LogDirEntry> entries;
    for (int i = 0; i < count; ++i) {
      const std::wstring path = L"L\\" + std::to_wstring(i);
      entries.push_back({"lumaro-" + std::to_string(i) + ".log", equal_time >= 0 ? equal_time : i, path});
    }
    return entries;
  };
  EXPECT_TRUE(select_logs_to_prune(make(40)).empty());

  auto doomed = select_logs_to_prune(make(45));  // times 0..44: the five oldest go
  EXPECT_EQ(doomed, (std::vector<std::wstring>{L"L\\4", L"L\\3", L"L\\2", L"L\\1", L"L\\0"}));

  // Equal times keep listing order, so the last five listed go.
  doomed = select_logs_to_prune(make(42, 7));
  EXPECT_EQ(doomed, (std::vector<std::wstring>{L"L\\40", L"L\\41"}));

  // Foreign names never count; the bare prefix does.
  auto mixed = make(40);
  mixed.push_back({"other.log", -5, L"other"});
  mixed.push_back({"Lumaro-9.log", -5, L"upper"});
  EXPECT_TRUE(select_logs_to_prune(mixed).empty());
  mixed.push_back({"lumaro-", -5, L"bare"});
  EXPECT_EQ(select_logs_to_prune(mixed), std::vector<std::wstring>{L"bare"});
}

}  // namespace
}  // namespace lumaro
