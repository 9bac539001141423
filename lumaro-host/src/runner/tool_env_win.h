// What finding and starting the AI tools needs from this machine: the
// variables and folders they are looked up in, and a file-exists test.
#pragma once

#include <string>

#include "runner/cli_command.h"

namespace lumaro {

// Variables that are missing or not valid UTF-16 count as absent.
CliEnvironment current_cli_environment();
bool path_exists(const std::string& path);
std::string system_temp_dir();  // with a trailing backslash
std::string system_dir();       // where cmd.exe lives

}  // namespace lumaro
