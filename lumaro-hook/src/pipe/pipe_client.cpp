#include "pipe/pipe_client.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "base/mutex.h"
#include "base/text_win.h"
#include "base/thread_win.h"
#include "base/unique_handle_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/outbox_win.h"
#include "ipc/pipe_name.h"
#include "log/log.h"
#include "pipe/event_queue.h"
#include "target/attached_windows.h"
#include "target/window_messages.h"
#include "util/global_box.h"

namespace lumaro::hook {

struct PipeClient {
  UniqueHandle stop;
  std::shared_ptr<Outbox> outbox;
  // Each client has its own flag: a client still stopping must not lower
  // the flag of the one a newer attach has already connected.
  std::shared_ptr<std::atomic<bool>> connected = std::make_shared<std::atomic<bool>>(false);
  UniqueHandle thread;
};

namespace {

constexpr DWORD kRetryAbsentMs = 1500;
constexpr DWORD kRetryBrokenMs = 1000;
constexpr DWORD kPathUnits = 1024;
constexpr int kCaptionUnits = 512;

Mutex g_slot_mutex;
PipeClient* g_slot = nullptr;
GlobalBox<std::optional<Event>> g_global_event;
GlobalBox<WindowEventQueue> g_window_events;

WindowId window_id(HWND window) noexcept {
  return static_cast<WindowId>(reinterpret_cast<uintptr_t>(window));
}

// Window handles carry 32 significant bits; the system's rule for widening
// them is sign extension.
HWND window_from_id(WindowId id) noexcept {
  return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(id))));
}

std::string own_executable_path() {
  wchar_t buffer[kPathUnits];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, kPathUnits);
  return to_utf8(std::wstring_view(buffer, n < kPathUnits ? n : kPathUnits - 1));
}

void name_thread(HANDLE thread) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  auto fn = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
  if (fn) fn(thread, L"lumaro-pipe");
}

void route(Event event) {
  const WindowId w = event_window(event);
  if (std::holds_alternative<StateEvent>(event) || w == 0) {
    g_global_event.with([&](std::optional<Event>& slot) { slot = std::move(event); });
    notify_all();
    return;
  }
  g_window_events.with([&](WindowEventQueue& queue) { queue.push(w, std::move(event)); });
  // Fails for a window that is gone; its events wait for its detach.
  PostMessageW(window_from_id(w), pipe_message(), 0, 0);
}

// Cancels a pending overlapped operation and waits until the system no
// longer touches its OVERLAPPED and buffer.
void cancel_and_wait(HANDLE pipe, OVERLAPPED& ov) {
  CancelIoEx(pipe, &ov);
  DWORD ignored = 0;
  GetOverlappedResult(pipe, &ov, &ignored, TRUE);
}

// Writes one line; false when the connection must be abandoned (failure, or
// the stop event while the host is not reading).
bool write_line(HANDLE pipe, HANDLE write_event, HANDLE stop, const std::string& line) {
  OVERLAPPED ov = {};
  ov.hEvent = write_event;
  if (!WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), nullptr, &ov) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  // A host that stops reading must not keep the unload thread waiting for
  // us forever, so the stop event interrupts the write.
  HANDLE waits[2] = {write_event, stop};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (woke != WAIT_OBJECT_0) {
    cancel_and_wait(pipe, ov);
    return false;
  }
  DWORD written = 0;
  return GetOverlappedResult(pipe, &ov, &written, FALSE) && written == line.size();
}

void run_connection(HANDLE pipe, HANDLE stop, Outbox& outbox) {
  UniqueHandle read_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle write_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_event || !write_event) return;
  std::unique_ptr<char[]> buffer(new char[kReadBufferBytes]);
  LineSplitter splitter;
  OVERLAPPED read_ov = {};
  bool read_pending = false;

  for (;;) {
    if (!read_pending) {
      read_ov = {};
      read_ov.hEvent = read_event.get();
      if (!ReadFile(pipe, buffer.get(), static_cast<DWORD>(kReadBufferBytes), nullptr, &read_ov) &&
          GetLastError() != ERROR_IO_PENDING) {
        return;
      }
      read_pending = true;
    }
    HANDLE waits[3] = {read_event.get(), outbox.event(), stop};
    const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 + 1) {
      for (std::string& line : outbox.drain()) {
        line.push_back('\n');
        if (!write_line(pipe, write_event.get(), stop, line)) {
          cancel_and_wait(pipe, read_ov);
          return;
        }
      }
      continue;  // the earlier read is still pending
    }
    if (woke == WAIT_OBJECT_0) {
      read_pending = false;
      DWORD got = 0;
      if (!GetOverlappedResult(pipe, &read_ov, &got, FALSE)) return;
      const size_t n = got < kReadBufferBytes ? got : kReadBufferBytes;
      for (const std::string& line : splitter.feed(std::string_view(buffer.get(), n))) {
        if (auto event = decode_event(line)) route(std::move(*event));
      }
      continue;
    }
    cancel_and_wait(pipe, read_ov);
    return;
  }
}

void client_loop(HANDLE stop, Outbox& outbox, std::atomic<bool>& connected) {
  const std::wstring name = pipe_name();
  const std::string name_utf8 = to_utf8(name);
  const HelloRequest hello{GetCurrentProcessId(), static_cast<uint32_t>(sizeof(void*) * 8), own_executable_path()};
  bool previous_failed = false;

  while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
    // Identification level only: the host may learn who we are but can never
    // act as this process's user.
    UniqueFile pipe(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe) {
      if (!previous_failed) log_line("host 파이프 없음 " + name_utf8 + ", 다시 접속 대기");
      previous_failed = true;
      if (connected.exchange(false)) notify_all();
      WaitForSingleObject(stop, kRetryAbsentMs);
      continue;
    }
    previous_failed = false;
    log_line("host 파이프 접속 " + name_utf8);

    // Hello goes into the queue before the flag is raised, so no panel
    // request can overtake it; the panels are listed after the flag is up,
    // so a panel attached meanwhile is either listed here or queues its own
    // "open" (at worst the host hears one "open" twice).
    outbox.clear();
    outbox.push(encode(Request(hello)));
    connected.store(true);
    for (HWND window : attached_windows_snapshot()) {
      outbox.push(encode(Request(OpenRequest{window_id(window), window_caption(window)})));
    }
    notify_all();

    run_connection(pipe.get(), stop, outbox);

    connected.store(false);
    log_line("host 파이프 끊김");
    notify_all();
    if (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) WaitForSingleObject(stop, kRetryBrokenMs);
  }
}

}  // namespace

std::string window_caption(HWND window) {
  wchar_t buffer[kCaptionUnits];
  const int n = InternalGetWindowText(window, buffer, kCaptionUnits);
  return n > 0 ? to_utf8(std::wstring_view(buffer, static_cast<size_t>(n))) : std::string();
}

void start_pipe_client() {
  bool start_failed = false;
  {
    std::lock_guard lock(g_slot_mutex);
    if (g_slot) return;
    auto client = std::make_unique<PipeClient>();
    client->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    client->outbox = std::make_shared<Outbox>();
    if (!client->stop || !client->outbox->valid()) return;
    HANDLE stop = client->stop.get();
    std::shared_ptr<Outbox> outbox = client->outbox;
    std::shared_ptr<std::atomic<bool>> connected = client->connected;
    // No CodeFrame here: the unload thread waits for this thread by its
    // handle, after the frames of the GUI threads have gone.
    client->thread = start_thread([stop, outbox, connected]() noexcept {
      try {
        client_loop(stop, *outbox, *connected);
      } catch (...) {
        connected->store(false);
      }
    });
    if (client->thread) {
      name_thread(client->thread.get());
      g_slot = client.release();
    } else {
      start_failed = true;
    }
  }
  if (start_failed) log_line("파이프 스레드 생성 실패");
}

PipeClient* take_pipe_client() {
  std::lock_guard lock(g_slot_mutex);
  return std::exchange(g_slot, nullptr);
}

void stop_pipe_client(PipeClient* client) {
  if (!client) return;
  SetEvent(client->stop.get());
  WaitForSingleObject(client->thread.get(), INFINITE);
  delete client;
}

bool pipe_connected() noexcept {
  std::lock_guard lock(g_slot_mutex);
  return g_slot && g_slot->connected->load();
}

bool send_request(const Request& request) {
  std::shared_ptr<Outbox> outbox;
  {
    std::lock_guard lock(g_slot_mutex);
    if (!g_slot || !g_slot->connected->load()) return false;
    outbox = g_slot->outbox;
  }
  outbox->push(encode(request));
  return true;
}

void notify_all() {
  const UINT message = pipe_message();
  for (HWND window : attached_windows_snapshot()) PostMessageW(window, message, 0, 0);
}

PendingEvents take_events(HWND window) {
  PendingEvents pending;
  pending.global = g_global_event.peek([](std::optional<Event>* slot) {
    return slot ? *slot : std::optional<Event>();
  });
  pending.own = g_window_events.peek([window](WindowEventQueue* queue) {
    return queue ? queue->take(window_id(window)) : std::vector<Event>();
  });
  return pending;
}

void drop_window_events(HWND window) {
  g_window_events.peek([window](WindowEventQueue* queue) {
    if (queue) queue->remove(window_id(window));
  });
}

void release_pipe_events() {
  // A panel attached while the module was being given up may have queued
  // events already; they stay. Detaches drop their windows' events, so an
  // unused queue is empty.
  g_window_events.release_if([](const WindowEventQueue& queue) { return queue.size() == 0; });
  g_global_event.release();
}

}  // namespace lumaro::hook
