#include "runner/stream_parser.h"

#include <initializer_list>

#include "base/utf8.h"
#include "runner/tool_render.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

constexpr std::string_view kRequestFailed = "요청이 실패했습니다";
constexpr std::string_view kAgyError = "오류";
constexpr std::string_view kToolFallback = "도구";

const json* member(const json& v, std::string_view key) {
  if (!v.is_object()) return nullptr;
  const auto it = v.find(key);
  return it == v.end() ? nullptr : &*it;
}

// The value at a JSON pointer such as "/message/id" (no "~" escapes are
// needed by the tools' member names), or null when any step is missing.
const json* at(const json& v, std::string_view pointer) {
  const json* cur = &v;
  while (!pointer.empty()) {
    pointer.remove_prefix(1);  // the "/"
    const size_t end = pointer.find('/');
    const std::string_view token = pointer.substr(0, end);
    pointer = end == std::string_view::npos ? std::string_view() : pointer.substr(end);
    if (cur->is_object()) {
      cur = member(*cur, token);
    } else if (cur->is_array()) {
      size_t index = 0;
      if (token.empty() || token.size() > 9 || (token.size() > 1 && token[0] == '0')) return nullptr;
      for (const char c : token) {
        if (c < '0' || c > '9') return nullptr;
        index = index * 10 + static_cast<size_t>(c - '0');
      }
      cur = index < cur->size() ? &(*cur)[index] : nullptr;
    } else {
      return nullptr;
    }
    if (!cur) return nullptr;
  }
  return cur;
}

const std::string* string_at(const json& v, std::string_view pointer) {
  const json* p = at(v, pointer);
  return p && p->is_string() ? &p->get_ref<const std::string&>() : nullptr;
}

const std::string* string_member(const json& v, std::string_view key) {
  const json* p = member(v, key);
  return p && p->is_string() ? &p->get_ref<const std::string&>() : nullptr;
}

// The first of `pointers` that holds a string decides: a blank string means
// "none" and the later pointers are not tried.
const std::string* first_string(const json& v, std::initializer_list<std::string_view> pointers) {
  for (const std::string_view p : pointers) {
    if (const std::string* s = string_at(v, p)) return is_blank(*s) ? nullptr : s;
  }
  return nullptr;
}

std::string first_string_or(const json& v, std::initializer_list<std::string_view> pointers,
                            std::string_view fallback) {
  const std::string* s = first_string(v, pointers);
  return s ? *s : std::string(fallback);
}

bool type_is(const std::string* type, std::string_view want) { return type && *type == want; }

const json kNull;

}  // namespace

StreamParser::StreamParser(CliKind kind, std::string effort, std::optional<std::string> resume_id)
    : kind_(kind), effort_(std::move(effort)), conversation_id_(std::move(resume_id)) {}

std::vector<StreamItem> StreamParser::start() const {
  std::vector<StreamItem> out;
  if (kind_ == CliKind::ClaudeCode) out.push_back(NoteItem{"§effort:" + effort_});
  return out;
}

std::vector<StreamItem> StreamParser::feed_line(std::string_view line) {
  std::vector<StreamItem> out;
  feed_line(line, out);
  return out;
}

void StreamParser::feed_line(std::string_view line, std::vector<StreamItem>& out) {
  if (ended_) return;
  if (!is_valid_utf8(line)) {
    ended_ = true;
    return;
  }
  const json event = json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
  if (event.is_discarded()) {
    keep_other_output(line);
    return;
  }
  if (!event.is_object()) return;
  switch (kind_) {
    case CliKind::ClaudeCode:
      map_claude(event, out);
      break;
    case CliKind::Codex:
      map_codex(event, out);
      break;
    case CliKind::GeminiCli:
      map_gemini(event, out);
      break;
    case CliKind::Agy:
      map_agy(event, out);
      break;
  }
}

void StreamParser::keep_other_output(std::string_view line) {
  const std::string_view trimmed = trim_unicode_space(line);
  if (trimmed.empty() || other_output_.size() >= kOtherOutputLimit) return;
  other_output_.append(trimmed);
  other_output_ += '\n';
}

void StreamParser::text(std::string text, bool new_block, std::vector<StreamItem>& out) {
  produced_output_ = true;
  out.push_back(TextItem{std::move(text), new_block});
}

void StreamParser::map_claude(const json& e, std::vector<StreamItem>& out) {
  if (const std::string* id = string_member(e, "session_id")) session(*id);
  const std::string* type = string_member(e, "type");
  if (!type) return;
  if (*type == "stream_event") {
    const json* ev = member(e, "event");
    if (!ev) return;
    const std::string* ev_type = string_member(*ev, "type");
    if (type_is(ev_type, "message_start")) {
      const std::string* id = string_at(*ev, "/message/id");
      message_id_ = id ? *id : std::string();
      new_block_ = true;
    } else if (type_is(ev_type, "content_block_delta")) {
      const std::string* delta = string_at(*ev, "/delta/text");
      if (!delta || delta->empty()) return;
      if (streamed_ids_.size() < kMaxStreamedMessageIds) streamed_ids_.insert(message_id_);
      text(strip_bold(*delta), new_block_, out);
      new_block_ = false;
    }
  } else if (*type == "assistant") {
    const json* content = at(e, "/message/content");
    if (!content || !content->is_array()) return;
    const std::string* id = string_at(e, "/message/id");
    const bool streamed = streamed_ids_.count(id ? *id : std::string()) != 0;
    for (const json& block : *content) {
      const std::string* block_type = string_member(block, "type");
      if (type_is(block_type, "tool_use")) {
        const std::string* name = string_member(block, "name");
        out.push_back(ToolItem{render_tool_name(name ? *name : std::string_view("tool")),
                               render_tool_args(member(block, "input"))});
      } else if (type_is(block_type, "text") && !streamed) {
        const std::string* t = string_member(block, "text");
        const std::string_view trimmed = t ? trim_unicode_space(*t) : std::string_view();
        if (!trimmed.empty()) text(strip_bold(trimmed), true, out);
      }
    }
  } else if (*type == "system") {
    if (!type_is(string_member(e, "subtype"), "init")) return;
    if (const std::string* model = string_member(e, "model")) out.push_back(NoteItem{"§model:" + *model});
    const json* servers = member(e, "mcp_servers");
    if (!servers || !servers->is_array()) return;
    for (const json& server : *servers) {
      const std::string* status = string_member(server, "status");
      if (type_is(status, "connected")) continue;
      const std::string* name = string_member(server, "name");
      out.push_back(NoteItem{"앱 연결 실패 (" + (name ? *name : std::string("app")) + ": " +
                             (status ? *status : std::string()) +
                             "). 앱이 제어 포트를 열었는지, 같은 앱이 두 개 켜져 있지 않은지 확인하십시오."});
    }
  } else if (*type == "result") {
    const json* is_error = member(e, "is_error");
    if (is_error && is_error->is_boolean() && is_error->get<bool>()) {
      const std::string* result = string_member(e, "result");
      error(result ? *result : std::string(kRequestFailed));
    } else {
      success();
    }
  }
}

void StreamParser::map_codex(const json& e, std::vector<StreamItem>& out) {
  const std::string* type = string_member(e, "type");
  if (!type) return;
  if (*type == "thread.started") {
    if (const std::string* id = first_string(e, {"/thread_id", "/session_id"})) session(*id);
  } else if (*type == "error" || *type == "turn.failed") {
    // Retries of a dropped connection are progress reports, not the end.
    const std::string* message = string_at(e, "/message");
    if (*type == "error" && message && message->starts_with("Reconnecting")) return;
    error(first_string_or(e, {"/error/message", "/message", "/error"}, kRequestFailed));
  } else if (*type == "item.started" || *type == "item.completed") {
    const json* item_ptr = member(e, "item");
    const json& item = item_ptr ? *item_ptr : kNull;
    const std::string* item_type = first_string(item, {"/type", "/item_type"});
    if (!item_type) return;
    if (*type == "item.started") {
      if (*item_type != "mcp_tool_call") return;
      const std::string* name = first_string(item, {"/tool", "/name", "/tool_name"});
      out.push_back(ToolItem{render_tool_name(name ? *name : std::string_view(kToolFallback)),
                             render_tool_args(member(item, "arguments"))});
    } else if (*item_type == "error") {
      if (const std::string* message = first_string(item, {"/message", "/text"})) error(*message);
    } else if (*item_type == "agent_message" || *item_type == "assistant_message") {
      const std::string* t = string_at(item, "/text");
      const std::string_view trimmed = t ? trim_unicode_space(*t) : std::string_view();
      if (!trimmed.empty()) text(strip_bold(trimmed), true, out);
    }
  } else if (*type == "turn.completed") {
    success();
  }
}

void StreamParser::map_gemini(const json& e, std::vector<StreamItem>& out) {
  const std::string* type = string_member(e, "type");
  if (!type) return;
  if (*type == "init") {
    if (const std::string* id = first_string(e, {"/session_id", "/sessionId"})) session(*id);
    if (const std::string* model = string_at(e, "/model")) out.push_back(NoteItem{"§model:" + *model});
  } else if (*type == "error") {
    error(first_string_or(e, {"/message", "/error/message"}, kRequestFailed));
  } else if (*type == "result") {
    if (type_is(string_at(e, "/status"), "error")) {
      error(first_string_or(e, {"/error/message", "/error"}, kRequestFailed));
    } else {
      success();
    }
  } else if (*type == "message") {
    if (type_is(string_at(e, "/role"), "user")) return;
    const std::string* content = string_member(e, "content");
    if (!content || content->empty()) return;
    // Gemini streams one answer as many messages: one block for all of them.
    text(*content, first_text_, out);
    first_text_ = false;
  } else if (*type == "tool_use") {
    const std::string* name = first_string(e, {"/tool_name", "/name"});
    const json* args = member(e, "parameters");
    if (!args) args = member(e, "input");
    out.push_back(ToolItem{render_tool_name(name ? *name : std::string_view(kToolFallback)), render_tool_args(args)});
  }
}

void StreamParser::map_agy(const json& e, std::vector<StreamItem>& out) {
  const std::string* type = string_member(e, "type");
  if (!type) return;
  const std::string& t = *type;
  if (t == "init" || t == "start" || t == "system" || t == "session" || t == "conversation") {
    if (const std::string* id = first_string(e, {"/conversation_id", "/conversationId", "/session_id", "/sessionId"})) {
      session(*id);
    }
  } else if (t == "text" || t == "message" || t == "assistant" || t == "agent_message") {
    if (type_is(first_string(e, {"/role", "/message/role"}), "user")) return;
    bool any_string = false;
    for (const std::string_view p : {"/text", "/content", "/message/text", "/delta"}) {
      if (string_at(e, p)) {
        any_string = true;
        break;
      }
    }
    if (any_string) {
      const std::string* s = first_string(e, {"/text", "/content", "/message/text", "/delta"});
      if (s) text(strip_bold(trim_unicode_space(*s)), true, out);
      return;
    }
    // Content given as blocks, like the model APIs' messages.
    const json* blocks = at(e, "/message/content");
    if (!blocks) blocks = member(e, "content");
    if (!blocks || !blocks->is_array()) return;
    std::string joined;
    bool found = false;
    for (const json& block : *blocks) {
      const std::string* s = string_member(block, "text");
      if (!s) continue;
      if (found) joined += '\n';
      joined += *s;
      found = true;
    }
    const std::string_view trimmed = trim_unicode_space(joined);
    if (found && !trimmed.empty()) text(strip_bold(trimmed), true, out);
  } else if (t == "tool" || t == "tool_use" || t == "tool_call") {
    const std::string* name = first_string(e, {"/name", "/tool_name", "/tool", "/toolName"});
    const json* args = member(e, "input");
    if (!args) args = member(e, "args");
    if (!args) args = member(e, "arguments");
    out.push_back(ToolItem{render_tool_name(name ? *name : std::string_view(kToolFallback)), render_tool_args(args)});
  } else if (t == "error") {
    error(first_string_or(e, {"/message", "/error/message", "/error"}, kAgyError));
  } else if (t == "result") {
    const json* is_error = member(e, "is_error");
    const json* err = member(e, "error");
    const bool failed = (is_error && is_error->is_boolean() && is_error->get<bool>()) || (err && !err->is_null());
    if (failed) {
      error(first_string_or(e, {"/error/message", "/error", "/result"}, kRequestFailed));
    } else {
      success();
    }
  }
}

std::vector<StreamItem> StreamParser::finish(std::string_view stderr_text) {
  std::vector<StreamItem> out;
  if (!last_error_ && !produced_output_) {
    const std::string_view plain = trim_unicode_space(other_output_);
    if (!plain.empty()) {
      out.push_back(TextItem{strip_bold(plain), true});
    } else {
      std::string tail = stderr_tail(stderr_text);
      last_error_ = tail.empty() ? std::string(kNoAnswerError) : std::move(tail);
    }
  }
  out.push_back(FinishedItem{conversation_id_, last_error_});
  return out;
}

std::string stderr_tail(std::string_view stderr_text) {
  const std::string clean = sanitize_utf8(stderr_text);
  size_t start = clean.size(), chars = 0;
  while (start > 0 && chars < kStderrTailChars) {
    --start;
    if ((static_cast<unsigned char>(clean[start]) & 0xC0) != 0x80) ++chars;
  }
  return std::string(trim_unicode_space(std::string_view(clean).substr(start)));
}

}  // namespace lumaro
