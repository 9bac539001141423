#include "app/pipe_server_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text_win.h"
#include "base/thread_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/outbox_win.h"
#include "log/log.h"

namespace lumaro {
namespace {

constexpr DWORD kPipeBufferBytes = 65536;

std::atomic<HANDLE> g_host_stop{nullptr};
std::atomic<ConnectionId> g_next_connection{1};

bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Waits for an overlapped operation that was just cancelled (or has ended)
// so its OVERLAPPED record and buffer may go away.
void finish_cancelled(HANDLE file, OVERLAPPED* ov) {
  CancelIoEx(file, ov);
  DWORD ignored = 0;
  GetOverlappedResult(file, ov, &ignored, TRUE);
}

// The current user's SID, copied out of the process token.
std::vector<BYTE> current_user_sid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<BYTE> info(size);
  if (!GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  if (!IsValidSid(sid)) return {};
  const DWORD length = GetLengthSid(sid);
  std::vector<BYTE> copy(length);
  if (!CopySid(length, copy.data(), sid)) return {};
  return copy;
}

// Owner and DACL of every instance: the current user owns the pipe, and only
// that user and SYSTEM may open it. The DACL is protected so nothing is
// inherited. Creating further instances needs the same access, so another
// account can neither connect to our pipe nor add instances to it.
class PipeSecurity {
 public:
  PipeSecurity() = default;
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;
  ~PipeSecurity() {
    if (descriptor_) LocalFree(descriptor_);
  }

  bool init() {
    user_sid_ = current_user_sid();
    if (user_sid_.empty()) return false;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user_sid(), &text)) return false;
    const std::wstring sid(text);
    LocalFree(text);
    const std::wstring sddl = L"O:" + sid + L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
      descriptor_ = nullptr;
      return false;
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
    return true;
  }

  SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
  PSID user_sid() { return user_sid_.data(); }

  // Whether the pipe behind `instance` is owned by the current user. The
  // first creator of a pipe name sets the security of every instance; an
  // instance created under somebody else's name carries their owner. A
  // system that cannot report the owner is taken at its word.
  bool owns(HANDLE instance) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(instance, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
      return true;
    }
    const bool mine = owner == nullptr || EqualSid(owner, user_sid());
    LocalFree(descriptor);
    return mine;
  }

 private:
  std::vector<BYTE> user_sid_;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Signals the caller's "finished" event when it is destroyed; the server's
// first member, so it fires after everything else of the server is gone.
struct FinishSignal {
  UniqueHandle event;
  ~FinishSignal() {
    if (event) SetEvent(event.get());
  }
};

// Everything the accept thread and the connection threads of one server
// share. Each thread holds a reference, so the server lives until the last
// of them has ended.
struct Server {
  FinishSignal finish;
  std::wstring name;
  PipeHandlers handlers;
  UniqueHandle stop;
  std::atomic<ConnectionId>* next_connection = nullptr;
  std::atomic<ConnectionId> own_next_connection{1};
  // Accepted connections that have not unregistered yet. Counted here rather
  // than read from the registry, because a freshly started connection thread
  // may not have registered yet when the next client arrives.
  std::atomic<size_t> live_connections{0};
  // Open pipe handles of this server (connected or not). While there is
  // none, the name may be free for anyone, so the next instance must be a
  // first instance.
  std::atomic<int> open_instances{0};
  PipeSecurity security;

  void close_instance(UniqueFile& instance) {
    instance.reset();
    open_instances.fetch_sub(1);
  }
};

enum class Connect { connected, failed, stopped };

Connect connect_client(Server& server, HANDLE instance) {
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return Connect::failed;
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  if (ConnectNamedPipe(instance, &ov)) return Connect::connected;
  switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:
      return Connect::connected;
    case ERROR_IO_PENDING: {
      HANDLE waits[2] = {event.get(), server.stop.get()};
      const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      DWORD ignored = 0;
      if (woke == WAIT_OBJECT_0 && GetOverlappedResult(instance, &ov, &ignored, FALSE)) return Connect::connected;
      finish_cancelled(instance, &ov);
      return woke == WAIT_OBJECT_0 ? Connect::failed : Connect::stopped;
    }
    default:
      return Connect::failed;
  }
}

// Writes one line (LF included) and waits for it to leave. A client that
// stops reading fills its pipe buffer and the write stays pending; the stop
// event still ends the wait so such a client cannot keep the host from
// stopping. Returns false when the write failed or the server is stopping.
bool write_line(HANDLE pipe, HANDLE write_event, HANDLE stop, std::string_view bytes) {
  OVERLAPPED ov{};
  ov.hEvent = write_event;
  if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {write_event, stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      finish_cancelled(pipe, &ov);
      return false;
    }
  }
  DWORD written = 0;
  return GetOverlappedResult(pipe, &ov, &written, FALSE);
}

// Moves bytes both ways until the client goes, a write fails or the server
// stops. Never returns with a read pending.
void pump(Server& server, ConnectionId id, HANDLE pipe, Outbox& outbox, HANDLE read_event, HANDLE write_event) {
  std::vector<char> buffer(kReadBufferBytes);
  LineSplitter splitter;
  OVERLAPPED read_ov{};
  for (;;) {
    read_ov = OVERLAPPED{};
    read_ov.hEvent = read_event;
    if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &read_ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      return;  // the client is gone
    }
    for (;;) {
      // Queued lines go first: with the read first, a client that keeps
      // sending would starve the writes until its outbox dropped answers it
      // is still waiting for.
      HANDLE waits[3] = {outbox.event(), read_event, server.stop.get()};
      const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
      if (woke == WAIT_OBJECT_0) {
        const HANDLE stop = server.stop.get();
        const bool written =
            write_batch(outbox.drain(), [&](const std::string& line) { return write_line(pipe, write_event, stop, line); });
        if (written) continue;  // the read stays pending
      } else if (woke == WAIT_OBJECT_0 + 1) {
        DWORD got = 0;
        if (!GetOverlappedResult(pipe, &read_ov, &got, FALSE)) return;  // the client closed its end
        for (const std::string& line : splitter.feed(std::string_view(buffer.data(), got))) {
          if (auto request = decode_request(line)) {
            if (server.handlers.dispatch) server.handlers.dispatch(id, *request);
          } else {
            log_line("파이프 " + std::to_string(id) + " 해석 실패 줄 " + std::to_string(line.size()) + "바이트");
          }
        }
        break;  // issue the next read
      }
      // Stopping, a failed wait or a failed write: give up the pending read.
      finish_cancelled(pipe, &read_ov);
      return;
    }
  }
}

void serve_connection(const std::shared_ptr<Server>& server, ConnectionId id, UniqueFile pipe) {
  auto outbox = std::make_shared<Outbox>();
  if (!outbox->valid()) {
    server->close_instance(pipe);
    server->live_connections.fetch_sub(1);
    return;
  }
  connection_registry().insert(id, outbox);
  log_line("파이프 연결 " + std::to_string(id));
  {
    UniqueHandle read_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle write_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (read_event && write_event) pump(*server, id, pipe.get(), *outbox, read_event.get(), write_event.get());
  }
  // Unregister before the chat engine forgets the connection, so nothing it
  // sends from here on can reach a connection that no longer exists. From
  // here on the connection no longer counts against the limit.
  connection_registry().remove(id);
  server->live_connections.fetch_sub(1);
  if (server->handlers.forget) server->handlers.forget(id);
  DisconnectNamedPipe(pipe.get());
  log_line("파이프 연결 끊김 " + std::to_string(id));
  outbox.reset();
  server->close_instance(pipe);
}

void accept_loop(const std::shared_ptr<Server>& server) {
  const HANDLE stop = server->stop.get();
  const std::string name_utf8 = to_utf8(server->name);
  bool squat_reported = false;
  while (!signalled(stop)) {
    const bool first = server->open_instances.load() == 0;
    UniqueFile instance(CreateNamedPipeW(
        server->name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
        kPipeBufferBytes, kPipeBufferBytes, 0, server->security.attributes()));
    const DWORD create_error = instance ? ERROR_SUCCESS : GetLastError();
    bool squatted = first && create_error == ERROR_ACCESS_DENIED;
    if (instance) {
      server->open_instances.fetch_add(1);
      if (!server->security.owns(instance.get())) {
        squatted = true;
        server->close_instance(instance);
      }
    }
    if (!instance) {
      if (squatted && !squat_reported) {
        log_line("파이프 이름 사용 중, 다시 시도 " + name_utf8);
        squat_reported = true;
      }
      WaitForSingleObject(stop, kPipeRetryMs);
      continue;
    }
    squat_reported = false;

    const Connect connected = connect_client(*server, instance.get());
    if (connected != Connect::connected) {
      server->close_instance(instance);
      continue;
    }

    if (server->live_connections.load() >= kMaxPipeConnections) {
      log_line("파이프 연결 상한 초과, 거절");
      DisconnectNamedPipe(instance.get());
      server->close_instance(instance);
      continue;
    }

    const ConnectionId id = server->next_connection->fetch_add(1);
    server->live_connections.fetch_add(1);
    UniqueHandle thread =
        start_thread([server, id, pipe = std::move(instance)]() mutable { serve_connection(server, id, std::move(pipe)); });
    if (!thread) {
      // The callable, and with it the pipe, is gone already.
      server->open_instances.fetch_sub(1);
      server->live_connections.fetch_sub(1);
      return;
    }
  }
}

enum class Start { started, failed, no_thread };

// Starts one server; `finished`, when given, receives an event signalled
// once all of its threads have ended.
Start start_server(const std::wstring& name, PipeHandlers handlers, HANDLE stop_event,
                  std::atomic<ConnectionId>* counter, UniqueHandle* finished) {
  auto server = std::make_shared<Server>();
  server->name = name;
  server->handlers = std::move(handlers);
  server->next_connection = counter ? counter : &server->own_next_connection;
  HANDLE stop = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), stop_event, GetCurrentProcess(), &stop, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return Start::failed;
  }
  server->stop.reset(stop);
  if (!server->security.init()) {
    log_line("파이프 보안 설정 실패");
    return Start::failed;
  }
  if (finished) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE copy = nullptr;
    if (!event || !DuplicateHandle(GetCurrentProcess(), event.get(), GetCurrentProcess(), &copy, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS)) {
      return Start::failed;
    }
    finished->reset(copy);
    server->finish.event = std::move(event);
  }

  log_line("파이프 서버 " + to_utf8(name));
  UniqueHandle thread = start_thread([server] { accept_loop(server); });
  if (!thread) {
    if (finished) finished->reset();
    return Start::no_thread;
  }
  return Start::started;
}

}  // namespace

bool start_pipe_server(const std::wstring& pipe_name, PipeHandlers handlers) {
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!fresh) {
    log_line("파이프 서버 이벤트 생성 실패");
    return false;
  }
  HANDLE expected = nullptr;
  if (!g_host_stop.compare_exchange_strong(expected, fresh)) CloseHandle(fresh);
  switch (start_server(pipe_name, std::move(handlers), g_host_stop.load(), &g_next_connection, nullptr)) {
    case Start::started:
      return true;
    case Start::failed:
      return false;
    case Start::no_thread:
      break;
  }
  // A process that cannot start a thread this early cannot do its work at all.
  ExitProcess(1);
}

HANDLE host_stop_event() { return g_host_stop.load(); }

UniqueHandle start_pipe_server_instance(const std::wstring& pipe_name, PipeHandlers handlers, HANDLE stop_event) {
  UniqueHandle finished;
  if (start_server(pipe_name, std::move(handlers), stop_event, nullptr, &finished) != Start::started) {
    return UniqueHandle();
  }
  return finished;
}

}  // namespace lumaro
