// The mock provider's job: a scripted answer streamed with fixed timing, so
// the whole chain runs without any AI tool. One thread per job; the handle's
// cancel flag is checked before each text piece.
#pragma once

#include <string>
#include <variant>

#include "runner/chat_engine.h"

namespace lumaro {

std::variant<JobHandle, std::string> start_mock_job(ChatEngine& engine, TurnRequest request);

}  // namespace lumaro
