#include "runner/mock_script.h"

#include "base/utf8.h"

namespace lumaro {
namespace {

constexpr std::string_view kDocumentStart = "[문서]\n";
constexpr std::string_view kDocumentEnd = "\n[/문서]";
constexpr std::string_view kBullet = "○ ";
constexpr std::string_view kNoDocumentAnswer = "가짜 공급자 응답입니다. 문서 내용이 없어 요청만 확인했습니다.";
constexpr size_t kMaxPieces = 16;
constexpr unsigned kStreamMs = 1600;

bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t count_chars(std::string_view text) noexcept {
  size_t n = 0;
  for (char c : text) n += !is_continuation(c);
  return n;
}

}  // namespace

bool is_mock_mode(const std::optional<std::string>& value) noexcept { return value && *value == "1"; }

std::string mock_conversation_id(const std::optional<std::string>& resume_id, uint32_t host_pid) {
  // An empty id would name no conversation; start a fresh one instead.
  if (resume_id && !resume_id->empty()) return *resume_id;
  return "mock-" + std::to_string(host_pid);
}

std::string mock_document(std::string_view message) {
  const size_t start = message.find(kDocumentStart);
  const size_t end = message.find(kDocumentEnd);
  if (start == std::string_view::npos || end == std::string_view::npos) return {};
  const size_t body = start + kDocumentStart.size();
  if (end < body) return {};
  return std::string(message.substr(body, end - body));
}

std::string mock_answer(std::string_view document) {
  std::string answer;
  std::string_view rest = document;
  while (true) {
    const size_t lf = rest.find('\n');
    // Trimming also drops the CR of a CRLF line end.
    const std::string_view line = trim_unicode_space(rest.substr(0, lf));
    if (!line.empty()) {
      if (!answer.empty()) answer += '\n';
      answer.append(kBullet).append(line);
    }
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
  return answer.empty() ? std::string(kNoDocumentAnswer) : answer;
}

MockTool mock_tool(std::string_view document, bool has_connector) {
  if (has_connector) return {"set_cell", "B10  =SUM(B2:B9)"};
  return {"read_document", std::to_string(count_chars(document)) + "자"};
}

MockChunks mock_chunks(std::string_view answer) {
  MockChunks out;
  const size_t n = count_chars(answer);
  if (n == 0) return out;
  const size_t k = (n + kMaxPieces - 1) / kMaxPieces;
  size_t begin = 0;
  while (begin < answer.size()) {
    size_t end = begin, taken = 0;
    // Advance over k characters, each a lead byte and its continuations.
    while (end < answer.size() && taken < k) {
      ++end;
      while (end < answer.size() && is_continuation(answer[end])) ++end;
      ++taken;
    }
    out.pieces.emplace_back(answer.substr(begin, end - begin));
    begin = end;
  }
  out.pause_ms = kStreamMs / static_cast<unsigned>(out.pieces.size());
  return out;
}

}  // namespace lumaro
