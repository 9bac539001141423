// The model and reasoning effort the Codex CLI recorded for a conversation,
// read from its session files under home_dir\.codex\sessions. The file system
// stays with the caller: it lists folders and reads one file; the rules of
// which file and which line live here.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

struct CodexTurnSettings {
  std::string model;   // empty when not recorded
  std::string effort;  // empty when not recorded
  bool operator==(const CodexTurnSettings&) const = default;
};

// Conversation ids worth looking up: non-empty, ASCII letters, digits and
// "-" only. Anything else (an "_", a dot, a separator) could not name a
// session file safely and is never searched for.
bool codex_conversation_id_ok(std::string_view id) noexcept;

// One entry of a listed folder.
struct SessionDirEntry {
  std::string name;
  bool is_dir = false;
};
// Lists the folder at `relative_dir` below the sessions folder ("" for the
// sessions folder itself, then names joined with "\"). A folder that cannot be
// listed gives an empty list.
using SessionDirLister = std::function<std::vector<SessionDirEntry>(const std::string& relative_dir)>;

// Deepest folder searched: the sessions folder is depth 0 and the tool files
// its sessions by year, month and day, depth 3.
inline constexpr int kCodexSessionMaxDepth = 3;

// The session file of `id`, as a path relative to the sessions folder joined
// with "\", or nothing. Each folder's entries are visited in descending name
// order (newest dates first), folders up to depth 3 searched the same way
// before the next entry; a file matches when its name contains `id` and ends
// with ".jsonl"; the first match wins. `id` must pass
// codex_conversation_id_ok (otherwise nothing, and nothing is listed).
std::optional<std::string> find_codex_session_file(std::string_view id, const SessionDirLister& list);

// The same over a complete listing: every entry with the relative folder that
// holds it ("" for the sessions folder).
struct SessionFileEntry {
  std::string dir;
  std::string name;
  bool is_dir = false;
};
std::optional<std::string> find_codex_session_file(std::string_view id, std::span<const SessionFileEntry> entries);

// The settings of a session file's bytes: the first line that contains
// "turn_context" in double quotes, parses as JSON and has a "payload" member
// decides; later lines are not looked at. Nothing for bytes that are not
// UTF-8 or without such a line.
std::optional<CodexTurnSettings> codex_turn_settings_from_text(std::string_view file_text);

// The notes sent before "§session:": the effort (also when empty), then the
// model when there is one.
std::vector<std::string> codex_turn_settings_notes(const CodexTurnSettings& settings);

}  // namespace lumaro
