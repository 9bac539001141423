// The host's list of target executables, from the text of "targets.txt":
// lower-case file names, in file order, without duplicates.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

inline constexpr size_t kMaxTargets = 256;
// Longer lines (after trimming) cannot be a Windows path and are skipped.
inline constexpr size_t kMaxTargetLineBytes = 260;

// `file_bytes` is the whole file, or nothing when it is missing or
// unreadable. Each LF-separated line loses everything from its first "#",
// surrounding white space and double quotes; what is left (at most 260 bytes)
// counts by its file name only, lower-cased. At most 256 names are taken. A
// missing file, one that is not UTF-8 or one that names nothing gives the
// default list "notepad.exe", "cellwick.exe", "hwp.exe".
std::vector<std::string> parse_target_list(std::optional<std::string_view> file_bytes);

}  // namespace lumaro
