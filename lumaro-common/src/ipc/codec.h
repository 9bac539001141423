// Turning messages into pipe lines and back.
//
// Lines written are one compact JSON object with keys in ascending byte order
// and raw UTF-8; the newline is the writer's business. Reading is lenient: a
// missing or mistyped key takes its default, and only a line that is not JSON,
// lacks a string "t", names an unknown kind or (for "image") carries invalid
// image data yields nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ipc/messages.h"

namespace lumaro {

// Deepest nesting of arrays and objects a received line may have.
inline constexpr int kMaxJsonDepth = 128;

std::string encode(const Request& request);
std::string encode(const Event& event);

std::optional<Request> decode_request(std::string_view line);
std::optional<Event> decode_event(std::string_view line);

// Accepts a PNG, JPEG, WebP or GIF base64 data URL of at most 524031 bytes.
bool validate_image_data(std::string_view data) noexcept;

// True when no array or object in `text` nests deeper than `max_depth`
// (brackets inside strings do not count).
bool json_depth_within(std::string_view text, int max_depth) noexcept;

}  // namespace lumaro
