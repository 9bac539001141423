// Whole-file reads and writes for the small files in the per-user folder
// (settings, target list). Errors come back as values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumaro {

// The file's bytes, or nothing when it is missing, unreadable or larger than
// `max_bytes`.
std::optional<std::string> read_small_file(const std::wstring& path, size_t max_bytes);

// Replaces the file with `bytes`. The system's error text on failure.
std::optional<std::string> write_whole_file(const std::wstring& path, std::string_view bytes);

// Creates the folder and its missing parents; errors are ignored.
void create_directories(const std::wstring& dir);

// The system's message for an error code, in UTF-8, without a trailing line break.
std::string system_error_text(unsigned long code);

}  // namespace lumaro
