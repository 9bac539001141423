// What every job (an AI tool's output thread, or the mock job) produces for
// its panel, in order; the chat engine turns each into an event.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace lumaro {

struct TextItem {
  std::string text;
  bool new_block = false;
};
struct ToolItem {
  std::string name;
  std::string args;
};
struct NoteItem {
  std::string text;
};
// The last item of every job.
struct FinishedItem {
  std::optional<std::string> conversation_id;
  std::optional<std::string> error;
};

using StreamItem = std::variant<TextItem, ToolItem, NoteItem, FinishedItem>;

}  // namespace lumaro
