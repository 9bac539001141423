// Throughput of the pipe's receive framing and of the message codec.
//   LineSplitter on a realistic stream of event lines, against a bare memchr
//   scan of the same bytes (the floor any framing has to pay);
//   decode of a 1 KiB "send" line; encode of a "text" event.
#include <benchmark/benchmark.h>

#include <cstring>

#include "ipc/codec.h"
#include "ipc/line_splitter.h"

using namespace lumaro;

namespace {

// About 4 MiB of what a host sends while an answer streams: mostly short
// "text" events with Korean and English pieces, some tool and note lines.
std::string realistic_stream() {
  std::string s;
  const std::string pieces[] = {"문서의 첫 문단을 요약하면 ", "the quick brown fox ", "다음과 같습니다.\n",
                                "- 항목 하나\n", "```cpp\nint main() {}\n```\n"};
  int i = 0;
  while (s.size() < (4u << 20)) {
    if (i % 50 == 0) s += encode(ToolEvent{0x1a2b3c, "Read", "C:\\Users\\user\\문서\\보고서.txt"});
    else if (i % 97 == 0) s += encode(NoteEvent{0x1a2b3c, "§session:0198b1f2-aaaa-bbbb-cccc-0123456789ab"});
    else s += encode(TextEvent{0x1a2b3c, pieces[i % 5], i % 7 == 0});
    s += (i % 3 == 0) ? "\r\n" : "\n";
    ++i;
  }
  return s;
}

const std::string& stream() {
  static const std::string s = realistic_stream();
  return s;
}

void BM_LineSplitter(benchmark::State& state) {
  const std::string& s = stream();
  size_t lines = 0;
  for (auto _ : state) {
    LineSplitter splitter;
    for (size_t off = 0; off < s.size(); off += kReadBufferBytes) {
      lines += splitter.feed(std::string_view(s).substr(off, kReadBufferBytes)).size();
    }
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_LineSplitter);

void BM_MemchrScan(benchmark::State& state) {
  const std::string& s = stream();
  size_t lines = 0;
  for (auto _ : state) {
    for (size_t off = 0; off < s.size(); off += kReadBufferBytes) {
      const size_t n = std::min(kReadBufferBytes, s.size() - off);
      const char* p = s.data() + off;
      const char* end = p + n;
      while (const void* lf = std::memchr(p, '\n', end - p)) {
        ++lines;
        p = static_cast<const char*>(lf) + 1;
      }
    }
  }
  benchmark::DoNotOptimize(lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}
BENCHMARK(BM_MemchrScan);

void BM_DecodeSend1KiB(benchmark::State& state) {
  SendRequest send{0x1a2b3c, "", "", "claude", "opus@high", ""};
  send.text = "이 문단을 더 간결하게 고쳐 주세요. ";
  while (send.text.size() < 200) send.text += "Please keep the tone. ";
  while (encode(send).size() < 1024) send.context += "본문 ";
  const std::string line = encode(send);
  for (auto _ : state) benchmark::DoNotOptimize(decode_request(line));
  state.SetLabel(std::to_string(line.size()) + " bytes");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeSend1KiB);

void BM_EncodeText(benchmark::State& state) {
  const TextEvent event{0x1a2b3c, "문서의 첫 문단을 요약하면 다음과 같습니다.", false};
  for (auto _ : state) benchmark::DoNotOptimize(encode(event));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeText);

}  // namespace
