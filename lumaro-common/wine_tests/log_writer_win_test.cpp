#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "base/text_win.h"
#include "base/thread_win.h"
#include "log/log.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

// A fresh folder under the temp directory for each test (Wine reuses
// process ids from run to run, so the counter alone is not unique).
std::wstring fresh_dir() {
  static int counter = 0;
  wchar_t tmp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, tmp);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::wstring dir = std::wstring(tmp) + L"lumaro-test-" + std::to_wstring(now.QuadPart) + L"-" +
                     std::to_wstring(++counter);
  EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
  return dir;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string read_file(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name), old_(read_env(name)) {
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnv() { SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const wchar_t* name_;
  OptionalEnv old_;
};

const std::regex kHostLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[host x64\] (.*)\r\n)");

TEST(LogWriter, HostDropsLinesUntilItsPathIsSet) {
  const std::wstring path = join_path(join_path(fresh_dir(), L"a\\b"), L"lumaro-1.log");
  LogWriter writer(LogRole::host);
  writer.write("too early");
  EXPECT_FALSE(exists(path));
  writer.set_path(path);
  EXPECT_FALSE(exists(path));  // setting the path creates nothing
  writer.write("시작, 인자 []");
  std::smatch m;
  const std::string text = read_file(path);
  ASSERT_TRUE(std::regex_match(text, m, kHostLine)) << text;
  EXPECT_EQ(m[1], "시작, 인자 []");
}

TEST(LogWriter, RotatesWhenTheMessageWouldPassOneMebibyte) {
  const std::wstring dir = fresh_dir();
  const std::wstring path = join_path(dir, L"lumaro-2.log");
  LogWriter writer(LogRole::host);
  writer.set_path(path);
  const std::string text(600 - 11, 'x');  // "[host x64] " + text = 600 bytes

  write_file(path, std::string(1047975, 'o'));
  writer.write(text);
  EXPECT_FALSE(exists(path + L".1"));
  EXPECT_EQ(read_file(path).size(), 1047975u + 24 + 600 + 2);

  write_file(path, std::string(1048000, 'n'));
  write_file(path + L".1", "older copy");
  writer.write(text);
  EXPECT_EQ(read_file(path + L".1"), std::string(1048000, 'n'));  // older copy replaced
  EXPECT_TRUE(std::regex_match(read_file(path), kHostLine));
}

TEST(LogWriter, HookFixesItsFileFromLocalAppDataOnTheFirstLine) {
  const std::wstring base = fresh_dir();
  ScopedEnv env(L"LOCALAPPDATA", base.c_str());
  LogWriter writer(LogRole::hook);
  writer.write("붙음\n두 번째 줄");
  const std::wstring path =
      base + L"\\Lumaro\\log\\lumaro-" + std::to_wstring(GetCurrentProcessId()) + L".log";
  const std::string text = read_file(path);
  EXPECT_NE(text.find(" [hook x64] 붙음\n두 번째 줄\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.size(), 24 + 11 + std::string("붙음\n두 번째 줄").size() + 2);
}

TEST(LogWriter, LinesFromManyThreadsNeverInterleave) {
  const std::wstring path = join_path(fresh_dir(), L"lumaro-3.log");
  LogWriter writer(LogRole::host);
  writer.set_path(path);
  UniqueHandle threads[4];
  HANDLE raw[4];
  for (int t = 0; t < 4; ++t) {
    threads[t] = start_thread([&writer] {
      for (int i = 0; i < 100; ++i) writer.write(std::string(300, static_cast<char>('a' + i % 26)));
    });
    raw[t] = threads[t].get();
  }
  ASSERT_EQ(WaitForMultipleObjects(4, raw, TRUE, 60000), WAIT_OBJECT_0);
  const std::string text = read_file(path);
  size_t lines = 0, pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    ASSERT_TRUE(std::regex_match(text.substr(pos, end + 2 - pos), kHostLine));
    const std::string body = text.substr(pos + 35, end - pos - 35);
    ASSERT_EQ(body, std::string(300, body[0]));
    pos = end + 2;
    ++lines;
  }
  EXPECT_EQ(lines, 400u);
}

TEST(UserPathsWin, EnvironmentFallbacks) {
  {
    ScopedEnv local(L"LOCALAPPDATA", nullptr);
    ScopedEnv profile(L"USERPROFILE", nullptr);
    wchar_t tmp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, tmp);
    EXPECT_EQ(data_dir(), std::wstring(tmp) + L"Lumaro");
    EXPECT_EQ(log_dir(), std::wstring(tmp) + L"Lumaro\\log");
    EXPECT_EQ(home_dir(), L".");
    EXPECT_EQ(tool_local_app_data(), L".\\AppData\\Local");
  }
  ScopedEnv local(L"LOCALAPPDATA", L"");
  EXPECT_EQ(read_env(L"LOCALAPPDATA"), std::wstring());  // empty but set
  EXPECT_EQ(data_dir(), L"Lumaro");
}

TEST(PruneLogs, KeepsTheFortyNewestFilesOfTheLogFolder) {
  const std::wstring base = fresh_dir();
  ScopedEnv env(L"LOCALAPPDATA", base.c_str());
  const std::wstring dir = log_dir();
  CreateDirectoryW(join_path(base, L"Lumaro").c_str(), nullptr);
  CreateDirectoryW(dir.c_str(), nullptr);
  for (int i = 0; i < 45; ++i) {
    const std::wstring path = dir + L"\\lumaro-" + std::to_wstring(i) + L".log";
    write_file(path, "x");
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ULARGE_INTEGER t;
    t.QuadPart = 133000000000000000ULL + static_cast<uint64_t>(i) * 10000000ULL;
    FILETIME ft{t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }
  write_file(dir + L"\\keep-me.txt", "x");
  prune_logs();
  for (int i = 0; i < 45; ++i) {
    EXPECT_EQ(exists(dir + L"\\lumaro-" + std::to_wstring(i) + L".log"), i >= 5) << i;
  }
  EXPECT_TRUE(exists(dir + L"\\keep-me.txt"));
}

}  // namespace
}  // namespace lumaro
