#include "runner/turn_job_win.h"

#include <mutex>

#include "base/thread_win.h"
#include "base/utf8.h"
#include "log/log.h"
#include "runner/stream_parser.h"

namespace lumaro {
namespace {

constexpr size_t kReadBuffer = 8192;
constexpr size_t kStderrKeepBytes = 65536;
// A line longer than this is not an event any tool writes; it is dropped
// rather than letting one runaway line take the host's memory.
constexpr size_t kMaxToolLineBytes = 32u << 20;

struct OutputState {
  ChatEngine* engine;
  TurnJob job;
  std::shared_ptr<ChildSlot> slot;
  UniqueFile stdout_read;
  UniqueHandle stderr_thread;
  std::shared_ptr<std::string> stderr_text;  // written once by the stderr thread, read after it ended
};

void run_output_thread(OutputState& s) {
  ChatEngine& engine = *s.engine;
  const ReplyAddress to = s.job.reply;
  StreamParser parser(s.job.kind, s.job.effort, s.job.resume_id);
  for (auto& item : parser.start()) engine.deliver(to, item);

  std::string pending;
  bool parsing = true;      // cleared at the first line that is not UTF-8
  bool skipping = false;    // inside a line that outgrew kMaxToolLineBytes
  char buf[kReadBuffer];
  DWORD got = 0;
  while (ReadFile(s.stdout_read.get(), buf, sizeof buf, &got, nullptr) && got > 0) {
    // After a bad line the rest is read and dropped, so the tool can never
    // block on a full pipe while we wait for it to exit.
    if (!parsing) continue;
    std::string_view chunk(buf, got);
    if (skipping) {
      const size_t lf = chunk.find('\n');
      if (lf == std::string_view::npos) continue;
      chunk.remove_prefix(lf + 1);
      skipping = false;
    }
    pending.append(chunk);
    size_t start = 0;
    for (size_t lf; parsing && (lf = pending.find('\n', start)) != std::string::npos; start = lf + 1) {
      std::string_view line(pending.data() + start, lf - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!is_valid_utf8(line)) {
        parsing = false;
        break;
      }
      for (auto& item : parser.feed_line(line)) engine.deliver(to, item);
    }
    pending.erase(0, std::min(start, pending.size()));
    if (pending.size() > kMaxToolLineBytes) {
      pending.clear();
      skipping = true;  // the whole line goes, not just its head
    }
  }
  // An unterminated last line still counts.
  if (parsing && !skipping && !pending.empty() && is_valid_utf8(pending)) {
    std::string_view line(pending);
    if (line.back() == '\r') line.remove_suffix(1);
    for (auto& item : parser.feed_line(line)) engine.deliver(to, item);
  }

  ChildSlot::Contents child = s.slot->take();
  if (child.process) WaitForSingleObject(child.process.get(), INFINITE);
  // Nothing the tool started may outlive its turn.
  child.job.reset();
  // The fallback reads the stderr text: wait until it is complete.
  if (s.stderr_thread) WaitForSingleObject(s.stderr_thread.get(), INFINITE);

  auto items = parser.finish(*s.stderr_text);
  std::optional<StreamItem> finished;
  for (auto& item : items) {
    if (std::holds_alternative<FinishedItem>(item)) finished = std::move(item);
    else engine.deliver(to, item);
  }
  delete_files(s.job.temp_files);
  engine.deliver(to, finished.value_or(FinishedItem{}));
}

}  // namespace

void ChildSlot::cancel() noexcept {
  std::lock_guard lock(mutex_);
  // An error here changes nothing: the child is ending or gone.
  if (contents_.job) TerminateJobObject(contents_.job.get(), 1);
  else if (contents_.process) TerminateProcess(contents_.process.get(), 1);
}

ChildSlot::Contents ChildSlot::take() {
  std::lock_guard lock(mutex_);
  return std::move(contents_);
}

void delete_files(const std::vector<std::wstring>& paths) {
  for (const auto& p : paths) DeleteFileW(p.c_str());
}

JobHandle launch_turn_job(ChatEngine& engine, TurnJob job, Child child) {
  auto slot = std::make_shared<ChildSlot>(ChildSlot::Contents{std::move(child.process), std::move(child.job)});

  if (job.stdin_text && child.stdin_write) {
    auto pipe = std::make_shared<UniqueFile>(std::move(child.stdin_write));
    UniqueHandle t = start_thread([pipe, text = *job.stdin_text] { write_all_and_close(std::move(*pipe), text); });
    if (!t) log_line("입력 스레드 시작 실패");
  }

  auto stderr_text = std::make_shared<std::string>();
  auto stderr_pipe = std::make_shared<UniqueFile>(std::move(child.stderr_read));
  UniqueHandle stderr_thread = start_thread([stderr_text, stderr_pipe] {
    std::string bytes;
    char buf[kReadBuffer];
    DWORD got = 0;
    while (bytes.size() < kStderrKeepBytes &&
           ReadFile(stderr_pipe->get(), buf, static_cast<DWORD>(std::min(sizeof buf, kStderrKeepBytes - bytes.size())),
                    &got, nullptr) &&
           got > 0) {
      bytes.append(buf, got);
    }
    if (is_valid_utf8(bytes)) *stderr_text = std::move(bytes);
    stderr_pipe->reset();  // later writes fail in the tool instead of blocking it
  });

  auto state = std::make_shared<OutputState>();
  state->engine = &engine;
  state->job = std::move(job);
  state->slot = slot;
  state->stdout_read = std::move(child.stdout_read);
  state->stderr_thread = std::move(stderr_thread);
  state->stderr_text = stderr_text;
  UniqueHandle output = start_thread([state] { run_output_thread(*state); });
  if (!output) {
    // Without an output thread nobody would end the turn: stop the tool and
    // finish it here.
    log_line("출력 스레드 시작 실패");
    slot->cancel();
    delete_files(state->job.temp_files);
    engine.deliver(state->job.reply, FinishedItem{state->job.resume_id, std::string("응답 없이 끝났습니다")});
  }
  return JobHandle(slot);
}

}  // namespace lumaro
