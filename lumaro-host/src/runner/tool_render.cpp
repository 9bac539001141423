#include "runner/tool_render.h"

#include <cstdint>

namespace lumaro {
namespace {

using json = nlohmann::json;

// Enough bytes for well over 60 characters (at most 4 bytes each), so that
// stopping the summary here never changes what is shown.
constexpr size_t kSummaryBytes = 512;

std::string compact_scalar(const json& v) { return v.dump(-1, ' ', false, json::error_handler_t::replace); }

// Compact JSON of `v` appended to `out`, stopping once `out` holds `limit`
// bytes. Each nesting level writes at least one byte, so the recursion depth
// is bounded by `limit` whatever the input's depth.
void append_compact(const json& v, std::string& out, size_t limit) {
  if (out.size() >= limit) return;
  switch (v.type()) {
    case json::value_t::array: {
      out += '[';
      bool first = true;
      for (const json& e : v) {
        if (!first) out += ',';
        first = false;
        append_compact(e, out, limit);
        if (out.size() >= limit) return;
      }
      out += ']';
      return;
    }
    case json::value_t::object: {
      out += '{';
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out += ',';
        first = false;
        out += compact_scalar(json(it.key()));
        out += ':';
        append_compact(it.value(), out, limit);
        if (out.size() >= limit) return;
      }
      out += '}';
      return;
    }
    case json::value_t::string: {
      const auto& s = v.get_ref<const std::string&>();
      // A cut string may end in a broken sequence; the replacement lands past
      // the limit, where nothing is shown.
      if (s.size() > limit) {
        out += compact_scalar(json(s.substr(0, limit)));
      } else {
        out += compact_scalar(v);
      }
      return;
    }
    default:
      out += compact_scalar(v);
      return;
  }
}

void append_bounded(std::string& out, std::string_view text, size_t limit) {
  if (out.size() >= limit) return;
  out.append(text.substr(0, limit - out.size()));
}

// An object's first three members in ascending key order (the library keeps
// objects sorted by key bytes), joined with two spaces.
void summarise_object(const json& v, std::string& out) {
  int n = 0;
  for (auto it = v.begin(); it != v.end() && n < 3; ++it, ++n) {
    if (n > 0) append_bounded(out, "  ", kSummaryBytes);
    if (it.value().is_string()) {
      append_bounded(out, it.value().get_ref<const std::string&>(), kSummaryBytes);
    } else {
      append_compact(it.value(), out, kSummaryBytes);
    }
  }
}

bool is_lead_byte(char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }

}  // namespace

std::string render_tool_name(std::string_view name) {
  const size_t at = name.rfind("__");
  if (at == std::string_view::npos) return std::string(name);
  return std::string(name.substr(at + 2));
}

std::string render_tool_args(const json* value) {
  std::string out;
  json parsed;
  if (value && value->is_string()) {
    const auto& s = value->get_ref<const std::string&>();
    parsed = json::parse(s.begin(), s.end(), nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) {
      append_bounded(out, s, kSummaryBytes);
      value = nullptr;
    } else {
      value = &parsed;
    }
  } else if (!value) {
    return out;
  }
  if (value) {
    if (value->is_object()) {
      summarise_object(*value, out);
    } else if (!value->is_null()) {
      append_compact(*value, out, kSummaryBytes);
    }
  }
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  // Cut after 59 characters when there are more than 60.
  size_t chars = 0, cut = out.size();
  for (size_t i = 0; i < out.size(); ++i) {
    if (!is_lead_byte(out[i])) continue;
    if (chars == kToolArgsChars - 1) cut = i;
    if (++chars > kToolArgsChars) {
      out.resize(cut);
      out += "\xE2\x80\xA6";
      break;
    }
  }
  return out;
}

std::string strip_bold(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (true) {
    const size_t at = text.find("**", i);
    if (at == std::string_view::npos) break;
    out.append(text.substr(i, at - i));
    i = at + 2;
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace lumaro
