// How a tool call of an AI tool is shown in the panel: a short name and a
// one-line summary of its arguments.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace lumaro {

// At most this many characters (Unicode scalar values) of arguments are shown;
// longer summaries end with "…".
inline constexpr size_t kToolArgsChars = 60;

// The part after the last "__": MCP tools arrive as "mcp__server__tool" and
// the server part is noise in a narrow panel.
std::string render_tool_name(std::string_view name);

// One line of at most 60 characters summarising a tool's arguments. `value`
// may be null for a missing member. The input must be valid UTF-8 (the parser
// only hands it values it has parsed). Deeply nested or huge values cost no
// more than the 60 characters shown: containers are written only as far as
// needed, without recursion beyond that.
std::string render_tool_args(const nlohmann::json* value);
inline std::string render_tool_args(const nlohmann::json& value) { return render_tool_args(&value); }

// `text` with every "**" removed: the tools write Markdown bold, the panel
// shows plain text.
std::string strip_bold(std::string_view text);

}  // namespace lumaro
