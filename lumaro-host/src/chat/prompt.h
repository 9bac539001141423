// The two texts a provider gets for one question: the system prompt that says
// where the model runs and how to answer, and the message that carries the
// question and the document text framed as data. The three presets replace
// both with a fixed editing instruction.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "apps/target_app.h"

namespace lumaro {

// Document text beyond this many bytes is cut (on a UTF-8 boundary).
inline constexpr size_t kMaxContextBytes = 32768;

// The only failure of build_prompt: an unknown preset, or a preset with no
// text to work on. Sent to the panel as the "done" error.
inline constexpr char kPresetError[] = "프리셋에 쓸 글이 없습니다. 글을 선택하거나 입력한 뒤 다시 보내십시오.";

struct BuiltPrompt {
  std::string system_prompt;
  std::string message;
  size_t context_bytes = 0;  // length of the context after the cut
};

// The longest prefix of `context` of at most kMaxContextBytes bytes that ends
// on a UTF-8 character boundary.
std::string_view cut_context(std::string_view context) noexcept;

// `app` is the row classify() gave for the session's exe; `title` the panel's
// window title (used whole); `text` the typed text (never trimmed or cut);
// `context` the document text (may be empty); `preset` the preset id (may be
// empty). Nothing means kPresetError.
std::optional<BuiltPrompt> build_prompt(const TargetApp& app, std::string_view title, std::string_view text,
                                        std::string_view context, std::string_view preset);

// One text for providers that take no separate system prompt. A resumed
// conversation already carries its instructions, so it gets the message alone.
std::string combined_prompt(std::string_view system_prompt, std::string_view message, bool has_resume_id);

}  // namespace lumaro
