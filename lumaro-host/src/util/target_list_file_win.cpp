#include "util/target_list_file_win.h"

#include "base/file_win.h"
#include "paths/user_paths.h"
#include "util/target_list.h"

namespace lumaro {

std::vector<std::string> load_target_list() {
  // The list is small; a file larger than this is not a target list.
  constexpr size_t kMaxFileBytes = 4u << 20;
  auto bytes = read_small_file(join_path(data_dir(), L"targets.txt"), kMaxFileBytes);
  if (!bytes) return parse_target_list(std::nullopt);
  return parse_target_list(std::string_view(*bytes));
}

}  // namespace lumaro
