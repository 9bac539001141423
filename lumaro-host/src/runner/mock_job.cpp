#include "runner/mock_job.h"

#include "log/log.h"
#include "runner/mock_script.h"

namespace lumaro {
namespace {

constexpr unsigned kBeforeToolMs = 300;
constexpr unsigned kBeforeFinishMs = 100;

void run_mock_job(ChatEngine& engine, const TurnRequest& request, const CancelFlag& cancel) {
  ChatEnv& env = engine.env();
  const ReplyAddress& to = request.reply;
  const std::string conversation = mock_conversation_id(request.resume_id, env.host_pid());
  const std::string document = mock_document(request.message);
  const std::string answer = mock_answer(document);

  env.sleep_ms(kBeforeToolMs);
  const MockTool tool = mock_tool(document, request.connector.has_value());
  engine.deliver(to, ToolItem{tool.name, tool.args});

  const MockChunks chunks = mock_chunks(answer);
  for (size_t i = 0; i < chunks.pieces.size(); ++i) {
    if (cancel.cancelled()) {
      engine.deliver(to, FinishedItem{conversation, std::string("멈췄습니다")});
      return;
    }
    env.sleep_ms(chunks.pause_ms);
    engine.deliver(to, TextItem{chunks.pieces[i], i == 0});
  }
  env.sleep_ms(kBeforeFinishMs);
  engine.deliver(to, FinishedItem{conversation, std::nullopt});
}

}  // namespace

std::variant<JobHandle, std::string> start_mock_job(ChatEngine& engine, TurnRequest request) {
  auto flag = std::make_shared<CancelFlag>();
  const bool started = engine.env().spawn([&engine, request = std::move(request), flag] {
    run_mock_job(engine, request, *flag);
  });
  if (!started) return std::string("가짜 공급자를 시작하지 못했습니다");
  return JobHandle(flag);
}

}  // namespace lumaro
