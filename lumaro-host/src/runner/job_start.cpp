#include "runner/mock_job.h"
#include "runner/workers.h"

namespace lumaro {

std::variant<JobHandle, std::string> start_cli_job(ChatEngine& engine, TurnRequest request);

std::variant<JobHandle, std::string> start_job(ChatEngine& engine, TurnRequest request) {
  // Mock mode is checked before anything else, at every turn.
  if (engine.env().mock_mode()) return start_mock_job(engine, std::move(request));
  return start_cli_job(engine, std::move(request));
}

}  // namespace lumaro
