// Feeds arbitrary bytes through the receive path of both pipe ends: framing,
// then request and event decoding. Whatever decodes must encode and decode
// again to the same line, and the splitter must never hold more than a line.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ipc/codec.h"
#include "ipc/line_splitter.h"

using namespace lumaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  LineSplitter splitter;
  // Split the input in two reads at a point taken from the data itself, so
  // lines that straddle reads are exercised too.
  const size_t cut = size ? data[0] % (size + 1) : 0;
  for (std::string_view chunk : {bytes.substr(0, cut), bytes.substr(cut)}) {
    for (const auto& line : splitter.feed(chunk)) {
      if (line.size() > kMaxLineBytes) std::abort();
      if (auto request = decode_request(line)) {
        const std::string again = encode(*request);
        auto back = decode_request(again);
        if (!back || encode(*back) != again) std::abort();
      }
      if (auto event = decode_event(line)) {
        const std::string again = encode(*event);
        auto back = decode_event(again);
        if (!back || encode(*back) != again) std::abort();
      }
    }
    if (splitter.pending_bytes() > kMaxLineBytes) std::abort();
  }
  return 0;
}
