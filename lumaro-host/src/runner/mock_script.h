// What the mock provider says and how it paces it: pure functions over the
// question, so the timed job thread only has to sleep and deliver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// Mock mode is on only for the exact value "1" of LUMARO_MOCK (nothing when
// the variable is unset or not valid Unicode).
bool is_mock_mode(const std::optional<std::string>& value) noexcept;

// The resume id when there is one, else "mock-<pid>", so a panel's next turn
// continues the same conversation.
std::string mock_conversation_id(const std::optional<std::string>& resume_id, uint32_t host_pid);

// The text between the first "[문서]\n" and the first "\n[/문서]" of the
// message; empty when a marker is missing or the end marker comes first.
std::string mock_document(std::string_view message);

// Each non-blank line of the document, trimmed and prefixed with "○ ", one
// per line; a fixed sentence when the document has none.
std::string mock_answer(std::string_view document);

struct MockTool {
  std::string name;
  std::string args;
};

// "read_document" with the document's length in characters ("12자"), or,
// when the target has a connector, a spreadsheet edit.
MockTool mock_tool(std::string_view document, bool has_connector);

struct MockChunks {
  std::vector<std::string> pieces;  // at most 16, whole characters each
  unsigned pause_ms = 0;            // before each piece; about 1.6 s in all
};

MockChunks mock_chunks(std::string_view answer);

}  // namespace lumaro
