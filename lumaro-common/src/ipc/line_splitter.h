// Receive-side framing of the pipe: LF-terminated lines.
//
// Each line is decoded as UTF-8 with invalid sequences replaced, loses one
// trailing CR, and is dropped when blank or longer than kMaxLineBytes. An
// unterminated rest longer than kMaxLineBytes is discarded whole, so a peer
// that never sends LF cannot grow the buffer without bound. One splitter per
// connection end; not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

inline constexpr size_t kMaxLineBytes = 0x80000;  // 524288
inline constexpr size_t kReadBufferBytes = 16384;

class LineSplitter {
 public:
  // Appends `bytes` and returns every line completed by them, in order.
  std::vector<std::string> feed(std::string_view bytes);

  // Bytes held back while waiting for the rest of a line.
  size_t pending_bytes() const noexcept { return pending_.size(); }

 private:
  std::string pending_;
};

}  // namespace lumaro
