#include <windows.h>

#include <mutex>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "log/log.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

#ifdef _WIN64
constexpr std::string_view kArch = "x64";
#else
constexpr std::string_view kArch = "x86";
#endif

std::wstring process_log_path() {
  return join_path(log_dir(), to_wide(log_file_name(GetCurrentProcessId())));
}

std::wstring parent_of(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

int64_t filetime_value(const FILETIME& ft) {
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

LogWriter& process_writer() {
  static LogWriter writer(kProcessLogRole);
  return writer;
}

}  // namespace

void LogWriter::set_path(std::wstring path) {
  std::lock_guard lock(mutex_);
  path_ = std::move(path);
  has_path_ = true;
}

void LogWriter::write(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!has_path_) {
    if (role_ == LogRole::host) return;  // before start-up: dropped
    path_ = process_log_path();
    has_path_ = true;
  }
  append(path_, text);
}

void LogWriter::append(const std::wstring& path, std::string_view text) {
  const std::string message = tagged_log_message(role_, kArch, text);

  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
    create_directories(parent_of(path));
  } else {
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (log_needs_rotation(size, message.size())) {
      // On failure the line still goes to the old file; the next line retries.
      MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }

  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;

  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const std::string line = format_log_line(format_log_timestamp(filetime_value(now)), message);
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    if (!WriteFile(file.get(), p, chunk, &written, nullptr) || written == 0) break;
    p += written;
    left -= written;
  }
}

void log_line(std::string_view text) { process_writer().write(text); }

void start_host_log() { process_writer().set_path(process_log_path()); }

void prune_logs() {
  const std::wstring dir = log_dir();
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(join_path(dir, L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<LogDirEntry> entries;
  do {
    entries.push_back({to_utf8(found.cFileName), filetime_value(found.ftLastWriteTime), join_path(dir, found.cFileName)});
  } while (FindNextFileW(find, &found));
  FindClose(find);
  for (const auto& path : select_logs_to_prune(std::move(entries))) DeleteFileW(path.c_str());
}

}  // namespace lumaro
