// The remembered provider and model choice and its file text ("settings.json"
// in the data folder). Reading is lenient and never fails: text that is not a
// JSON object gives the defaults, a mistyped member its own default. Writing
// gives a two-space indented object with members in ascending byte order and
// a final newline. Reading and writing the file itself is the caller's job.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// Bounds on the custom model lists taken from the file.
inline constexpr size_t kMaxCustomModelKeys = 8;
inline constexpr size_t kMaxCustomModelsPerKey = 16;
inline constexpr size_t kMaxCustomModelIdBytes = 79;

struct ProviderSettings {
  std::string provider = "claude";  // always one of the catalogue's ids when read
  std::string model;                // any text; empty is the tool's default
  // Key (normally a provider id; other keys are kept and written back) to
  // custom model ids offered besides the built-in ones.
  std::map<std::string, std::vector<std::string>> models;
  bool operator==(const ProviderSettings&) const = default;
};

// "models" keeps its first 8 keys in ascending order; in each list only
// strings of at most 79 bytes that are not blank count, trimmed of Unicode
// white space, at most 16 of them; a value that is not an array reads as an
// empty list.
ProviderSettings parse_provider_settings(std::string_view file_text);

// The whole file text. Parsing it gives the same settings back whenever they
// are within the bounds above.
std::string format_provider_settings(const ProviderSettings& settings);

}  // namespace lumaro
