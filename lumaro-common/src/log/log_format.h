// The pure half of the diagnostic log: how a line looks, when a file is
// rotated and which old files a host start deletes. The Windows writer
// (log_writer_win.h) does the file work around these decisions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

enum class LogRole { host, hook };

inline constexpr uint64_t kLogRotateBytes = 1048576;
inline constexpr size_t kLogFilesKept = 40;
inline constexpr std::string_view kLogFilePrefix = "lumaro-";

// "2026-03-01 09:15:02.042" from a FILETIME value (100 ns units since 1601,
// UTC). Milliseconds are truncated; a time before 1970 prints as the epoch.
std::string format_log_timestamp(int64_t filetime) noexcept;

// "[host x64] text" / "[hook x86] text"; the text is kept byte for byte.
std::string tagged_log_message(LogRole role, std::string_view arch, std::string_view text);

// Time stamp, one space, the tagged message, CR LF.
std::string format_log_line(std::string_view timestamp, std::string_view message);

// Whether appending `message_bytes` to a file of `file_bytes` must first move
// the file aside. Only the message and one byte count, not the stamp.
constexpr bool log_needs_rotation(uint64_t file_bytes, uint64_t message_bytes) noexcept {
  return file_bytes + message_bytes + 1 > kLogRotateBytes;
}

// "lumaro-<pid>.log".
std::string log_file_name(uint32_t pid);

struct LogDirEntry {
  std::string name;        // file name, converted to UTF-8 (lossily)
  int64_t last_write = 0;  // FILETIME as listed
  std::wstring path;       // full path to delete
};

// Paths of the entries to delete so that the 40 newest log files remain.
// Only names starting with "lumaro-" count; equal times keep listing order.
std::vector<std::wstring> select_logs_to_prune(std::vector<LogDirEntry> entries);

}  // namespace lumaro
