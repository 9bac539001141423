// The host's target list from data_dir\targets.txt (defaults when the file is
// missing, unreadable or not UTF-8).
#pragma once

#include <string>
#include <vector>

namespace lumaro {

std::vector<std::string> load_target_list();

}  // namespace lumaro
