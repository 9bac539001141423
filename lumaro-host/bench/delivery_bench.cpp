// What it costs to hand one streamed text item to a panel: the engine's
// delivery (encode, connection lookup, queue push) against encoding the same
// event alone. Built into lumaro_stream_bench.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "app/connection_registry.h"
#include "ipc/codec.h"
#include "ipc/line_sink.h"
#include "ipc/outbox_queue.h"
#include "runner/chat_engine.h"

namespace lumaro {
namespace {

// Delivery touches none of these; they only have to exist.
class IdleEnv final : public ChatEnv {
 public:
  ProviderSettings load_settings() override { return {}; }
  std::optional<std::string> save_settings(const ProviderSettings&) override { return std::nullopt; }
  bool mock_mode() override { return false; }
  bool mock_login_out() override { return false; }
  uint32_t host_pid() override { return 1; }
  Clock::time_point now() override { return Clock::now(); }
  bool spawn(std::function<void()>) override { return false; }
  void sleep_ms(unsigned) override {}
  std::optional<ConnectorSpec> connector_for(const std::string&, const TargetApp&) override { return std::nullopt; }
};

// The queue a pipe connection drains, emptied as its writer would be.
class QueueSink final : public LineSink {
 public:
  void push(std::string line) override {
    queue.push(std::move(line));
    if (++pushed % 1024 == 0) benchmark::DoNotOptimize(queue.take_all());
  }
  OutboxQueue queue;
  size_t pushed = 0;
};

const std::string kChunk = "문서의 둘째 문단은 결론을 먼저 밝히고 근거를 뒤에 둡니다. ";

void BM_DeliverTextItem(benchmark::State& state) {
  IdleEnv env;
  ConnectionRegistry connections;
  auto sink = std::make_shared<QueueSink>();
  // A host with many panels: the lookup is not of a one-entry map.
  for (ConnectionId id = 1; id <= 64; ++id) connections.insert(id, id == 17 ? sink : std::make_shared<QueueSink>());
  ChatEngine engine(env, connections);
  const ReplyAddress to{17, 0x2a0b4, 0};
  for (auto _ : state) engine.deliver(to, TextItem{kChunk, false});
  state.SetItemsProcessed(state.iterations());
}

void BM_EncodeTextEventOnly(benchmark::State& state) {
  for (auto _ : state) {
    std::string line = encode(Event{TextEvent{0x2a0b4, kChunk, false}});
    benchmark::DoNotOptimize(line);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_DeliverTextItem);
BENCHMARK(BM_EncodeTextEventOnly);

}  // namespace
}  // namespace lumaro
