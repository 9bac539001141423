// The model and effort the Codex CLI recorded for a conversation, read from
// its session files under the user's profile.
#include <windows.h>

#include "base/file_win.h"
#include "base/text_win.h"
#include "paths/user_paths.h"
#include "runner/codex_sessions.h"
#include "runner/workers.h"

namespace lumaro {

std::vector<std::string> codex_turn_notes(ChatEngine& engine, const std::string& conversation_id) {
  if (!codex_conversation_id_ok(conversation_id)) return {};
  const std::wstring root = join_path(join_path(home_dir(), L".codex"), L"sessions");
  auto list = [&root](const std::string& relative) {
    std::vector<SessionDirEntry> entries;
    const std::wstring dir = relative.empty() ? root : join_path(root, to_wide(relative));
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(join_path(dir, L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      entries.push_back({to_utf8(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return entries;
  };
  const auto file = find_codex_session_file(conversation_id, list);
  if (!file) return {};
  const auto bytes = read_small_file(join_path(root, to_wide(*file)), 256u << 20);
  if (!bytes) return {};
  const auto settings = codex_turn_settings_from_text(*bytes);
  return settings ? codex_turn_settings_notes(*settings) : std::vector<std::string>{};
}

}  // namespace lumaro
