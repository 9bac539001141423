#include "ipc/line_splitter.h"

#include <cstring>

#include "base/utf8.h"

namespace lumaro {
namespace {

void emit_line(std::string_view raw, std::vector<std::string>& out) {
  std::string line = sanitize_utf8(raw);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxLineBytes || is_blank(line)) return;
  out.push_back(std::move(line));
}

}  // namespace

std::vector<std::string> LineSplitter::feed(std::string_view bytes) {
  std::vector<std::string> lines;
  pending_.append(bytes.data(), bytes.size());

  // Cut lines in place and remember how far we got; compact once at the end so
  // a read holding many lines costs one move, not one per line.
  const char* base = pending_.data();
  size_t pos = 0;
  while (pos < pending_.size()) {
    const void* lf = std::memchr(base + pos, '\n', pending_.size() - pos);
    if (!lf) break;
    const size_t end = static_cast<const char*>(lf) - base;
    emit_line(std::string_view(base + pos, end - pos), lines);
    pos = end + 1;
  }
  pending_.erase(0, pos);
  if (pending_.size() > kMaxLineBytes) pending_.clear();
  return lines;
}

}  // namespace lumaro
