#include "app/pipe_server_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/text_win.h"
#include "base/thread_win.h"
#include "ipc/codec.h"
#include "log/log.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

constexpr DWORD kWaitMs = 5000;
constexpr wchar_t kChildPipeVariable[] = L"LUMARO_TEST_CHILD_PIPE";

// ---- helpers ----------------------------------------------------------------

DWORD elapsed_since(ULONGLONG start) { return static_cast<DWORD>(GetTickCount64() - start); }

std::wstring unique_pipe_name() {
  static std::atomic<int> counter{0};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return L"\\\\.\\pipe\\lumaro-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(++counter);
}

// The log of this test program goes to a fresh folder; each test reads only
// what was appended after it began.
class TestLog {
 public:
  static void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    wchar_t tmp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, tmp);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::wstring dir = std::wstring(tmp) + L"lumaro-pipe-test-" + std::to_wstring(now.QuadPart);
    CreateDirectoryW(dir.c_str(), nullptr);
    SetEnvironmentVariableW(L"LOCALAPPDATA", dir.c_str());
    start_host_log();
  }

  static std::wstring path() {
    return join_path(log_dir(), L"lumaro-" + std::to_wstring(GetCurrentProcessId()) + L".log");
  }

  TestLog() : offset_(read_all().size()) {}

  // The message texts (time stamp and tag cut off) logged since construction.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    const std::string text = read_all().substr(offset_);
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find("\r\n", begin);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(begin, end - begin);
      const size_t tag_end = line.find("] ");
      out.push_back(tag_end == std::string::npos ? line : line.substr(tag_end + 2));
      begin = end + 2;
    }
    return out;
  }

  size_t count(const std::string& text) const {
    const auto all = lines();
    return static_cast<size_t>(std::count(all.begin(), all.end(), text));
  }

  // Position of the first line equal to `text`, or -1.
  long index_of(const std::string& text) const {
    const auto all = lines();
    const auto it = std::find(all.begin(), all.end(), text);
    return it == all.end() ? -1 : static_cast<long>(it - all.begin());
  }

 private:
  static std::string read_all() {
    std::ifstream in(path().c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  size_t offset_;
};

// What the server handed to the chat engine, with an event to wait on.
struct Dispatched {
  ConnectionId id;
  std::string kind;
  uint32_t pid;  // of a hello
  WindowId w;    // of an open
};

class Recorder {
 public:
  Recorder() : changed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  PipeHandlers handlers() {
    return {[this](ConnectionId id, const Request& request) { on_dispatch(id, request); },
            [this](ConnectionId id) { on_forget(id); }};
  }

  // Waits until `done()` holds; re-checked whenever the server calls back,
  // and every 20 ms for conditions outside the recorder (such as the log).
  template <typename Done>
  bool wait_until(Done&& done, DWORD timeout_ms = kWaitMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      ResetEvent(changed_.get());
      if (done()) return true;
      const DWORD spent = elapsed_since(start);
      if (spent >= timeout_ms) return false;
      WaitForSingleObject(changed_.get(), std::min<DWORD>(20, timeout_ms - spent));
    }
  }

  std::vector<Dispatched> dispatched() { return state_.lock()->dispatched; }
  std::vector<ConnectionId> forgotten() { return state_.lock()->forgotten; }
  // Connections whose registry entry still existed when forget was called.
  std::vector<ConnectionId> registered_at_forget() { return state_.lock()->registered_at_forget; }

  std::optional<ConnectionId> id_of_pid(uint32_t pid) {
    for (const auto& d : dispatched()) {
      if (d.kind == "hello" && d.pid == pid) return d.id;
    }
    return std::nullopt;
  }

  // When set, an "open" is answered with a note on the same connection.
  std::atomic<bool> echo_open{false};

 private:
  void on_dispatch(ConnectionId id, const Request& request) {
    Dispatched d{id, std::string(request_kind(request)), 0, 0};
    if (auto* hello = std::get_if<HelloRequest>(&request)) d.pid = hello->pid;
    if (auto* open = std::get_if<OpenRequest>(&request)) {
      d.w = open->w;
      if (echo_open) {
        if (auto sink = connection_registry().lookup(id)) sink->push(encode(Event{NoteEvent{open->w, "echo"}}));
      }
    }
    state_.lock()->dispatched.push_back(d);
    SetEvent(changed_.get());
  }

  void on_forget(ConnectionId id) {
    const bool registered = connection_registry().lookup(id) != nullptr;
    log_line("test forget " + std::to_string(id));
    {
      auto state = state_.lock();
      state->forgotten.push_back(id);
      if (registered) state->registered_at_forget.push_back(id);
    }
    SetEvent(changed_.get());
  }

  struct State {
    std::vector<Dispatched> dispatched;
    std::vector<ConnectionId> forgotten;
    std::vector<ConnectionId> registered_at_forget;
  };
  Guarded<State> state_;
  UniqueHandle changed_;
};

// One client end of the pipe, overlapped so every operation has a time-out.
class Client {
 public:
  static std::unique_ptr<Client> connect(const std::wstring& name, DWORD timeout_ms = kWaitMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      UniqueFile pipe(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
      if (pipe) return std::unique_ptr<Client>(new Client(std::move(pipe)));
      const DWORD error = GetLastError();
      const DWORD spent = elapsed_since(start);
      if (spent >= timeout_ms) return nullptr;
      // Busy: every instance is taken for a moment; not found: the server
      // is between instances or has not made its first one yet.
      if (error == ERROR_PIPE_BUSY) {
        WaitNamedPipeW(name.c_str(), std::min<DWORD>(100, timeout_ms - spent));
      } else {
        Sleep(5);
      }
    }
  }

  HANDLE handle() const { return pipe_.get(); }
  void close() { pipe_.reset(); }

  bool write(const std::string& bytes, DWORD timeout_ms = kWaitMs) {
    OVERLAPPED ov{};
    ov.hEvent = event_.get();
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      if (WaitForSingleObject(event_.get(), timeout_ms) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_.get(), &ov);
        DWORD ignored;
        GetOverlappedResult(pipe_.get(), &ov, &ignored, TRUE);
        return false;
      }
    }
    DWORD written = 0;
    return GetOverlappedResult(pipe_.get(), &ov, &written, FALSE) && written == bytes.size();
  }

  // The next line including its LF, or nothing when none came in time or the
  // pipe broke.
  std::optional<std::string> read_line(DWORD timeout_ms = kWaitMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      const size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        std::string line = pending_.substr(0, lf + 1);
        pending_.erase(0, lf + 1);
        return line;
      }
      const DWORD spent = elapsed_since(start);
      if (spent >= timeout_ms || !read_some(timeout_ms - spent)) return std::nullopt;
    }
  }

  // Whether the server ends this connection within the time-out.
  bool wait_broken(DWORD timeout_ms = kWaitMs) {
    const ULONGLONG start = GetTickCount64();
    while (elapsed_since(start) < timeout_ms) {
      if (!read_some(timeout_ms - elapsed_since(start))) return last_error_ != WAIT_TIMEOUT;
    }
    return false;
  }

 private:
  explicit Client(UniqueFile pipe) : pipe_(std::move(pipe)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool read_some(DWORD timeout_ms) {
    char buffer[4096];
    OVERLAPPED ov{};
    ov.hEvent = event_.get();
    if (!ReadFile(pipe_.get(), buffer, sizeof buffer, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
      last_error_ = GetLastError();
      return false;
    }
    if (WaitForSingleObject(event_.get(), timeout_ms) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &ov);
      DWORD ignored;
      GetOverlappedResult(pipe_.get(), &ov, &ignored, TRUE);
      last_error_ = WAIT_TIMEOUT;
      return false;
    }
    DWORD got = 0;
    if (!GetOverlappedResult(pipe_.get(), &ov, &got, FALSE)) {
      last_error_ = GetLastError();
      return false;
    }
    pending_.append(buffer, got);
    return true;
  }

  UniqueFile pipe_;
  UniqueHandle event_;
  std::string pending_;
  DWORD last_error_ = 0;
};

std::string hello_line(uint32_t pid) { return encode(Request{HelloRequest{pid, 64, "C:\\x\\notepad.exe"}}) + "\n"; }
std::string open_line(WindowId w) { return encode(Request{OpenRequest{w, "t"}}) + "\n"; }

// ---- fixture ------------------------------------------------------------------

class PipeServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TestLog::start_once(); }

  void start() {
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(stop_);
    finished_ = start_pipe_server_instance(name_, recorder_.handlers(), stop_.get());
    ASSERT_TRUE(finished_);
  }

  // Signals the stop event and waits for every server thread to end.
  bool stop_and_wait(DWORD timeout_ms = kWaitMs) {
    if (!finished_) return true;
    SetEvent(stop_.get());
    const bool ended = WaitForSingleObject(finished_.get(), timeout_ms) == WAIT_OBJECT_0;
    finished_.reset();
    return ended;
  }

  void TearDown() override { EXPECT_TRUE(stop_and_wait()) << "server threads did not end"; }

  // Connects and says hello with `pid`; returns the client and its number.
  std::pair<std::unique_ptr<Client>, ConnectionId> hello_client(uint32_t pid) {
    auto client = Client::connect(name_);
    if (!client || !client->write(hello_line(pid))) return {nullptr, 0};
    if (!recorder_.wait_until([&] { return recorder_.id_of_pid(pid).has_value(); })) return {nullptr, 0};
    return {std::move(client), *recorder_.id_of_pid(pid)};
  }

  const std::wstring name_ = unique_pipe_name();
  TestLog log_;
  Recorder recorder_;
  UniqueHandle stop_;
  UniqueHandle finished_;
};

// ---- tests ----------------------------------------------------------------------

TEST_F(PipeServerTest, RequestsReachDispatchInArrivalOrderWithNumbersFromOne) {
  start();
  std::vector<std::unique_ptr<Client>> clients;
  for (uint32_t pid = 101; pid <= 103; ++pid) {
    auto [client, id] = hello_client(pid);
    ASSERT_TRUE(client);
    EXPECT_EQ(id, pid - 100);
    clients.push_back(std::move(client));
  }
  // Many requests in one write, and so in one read, keep their order.
  for (size_t i = 0; i < clients.size(); ++i) {
    std::string batch;
    for (WindowId w = 1; w <= 40; ++w) batch += open_line(1000 * (i + 1) + w);
    ASSERT_TRUE(clients[i]->write(batch));
  }
  ASSERT_TRUE(recorder_.wait_until([&] { return recorder_.dispatched().size() == 3 + 3 * 40; }));

  std::map<ConnectionId, std::vector<std::string>> per_connection;
  for (const auto& d : recorder_.dispatched()) {
    per_connection[d.id].push_back(d.kind == "open" ? std::to_string(d.w) : d.kind);
  }
  for (ConnectionId id = 1; id <= 3; ++id) {
    std::vector<std::string> expected{"hello"};
    for (WindowId w = 1; w <= 40; ++w) expected.push_back(std::to_string(1000 * id + w));
    EXPECT_EQ(per_connection[id], expected) << "connection " << id;
  }
  EXPECT_EQ(log_.index_of("파이프 서버 " + to_utf8(name_)), 0);
  for (ConnectionId id = 1; id <= 3; ++id) EXPECT_EQ(log_.count("파이프 연결 " + std::to_string(id)), 1u);
}

TEST_F(PipeServerTest, QueuedLinesReachTheClientEachEndedByOneLf) {
  start();
  auto [client, id] = hello_client(7);
  ASSERT_TRUE(client);
  const std::vector<std::string> lines{
      encode(Event{NoteEvent{5, "안녕"}}),
      encode(Event{TextEvent{5, "a\nb", true}}),
      encode(Event{DoneEvent{5, ""}}),
  };
  auto sink = connection_registry().lookup(id);
  ASSERT_TRUE(sink);
  for (const auto& line : lines) sink->push(line);
  for (const auto& line : lines) EXPECT_EQ(client->read_line(), line + "\n");
  EXPECT_EQ(client->read_line(200), std::nullopt);  // nothing else was written
}

TEST_F(PipeServerTest, UndecodableLinesAreLoggedWithTheirLengthAndTheConnectionStays) {
  start();
  auto [client, id] = hello_client(8);
  ASSERT_TRUE(client);
  struct Case {
    std::string line;
    size_t bytes;
  };
  const Case cases[] = {
      {"{}", 2},                                  // no "t"
      {"{\"t\":\"SEND\",\"w\":1}", 18},           // unknown kind (case matters)
      {"not json", 8},                            // no JSON at all
      {"{\"t\":\"image\",\"data\":\"x\"}", 24},   // image data that fails validation
  };
  for (const auto& c : cases) ASSERT_TRUE(client->write(c.line + "\n"));
  recorder_.echo_open = true;
  ASSERT_TRUE(client->write(open_line(9)));
  const auto answer = client->read_line();
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, encode(Event{NoteEvent{9, "echo"}}) + "\n");

  long previous = -1;
  for (const auto& c : cases) {
    const long at = log_.index_of("파이프 " + std::to_string(id) + " 해석 실패 줄 " + std::to_string(c.bytes) + "바이트");
    EXPECT_GT(at, previous) << c.line;
    previous = at;
  }
  const auto kinds = recorder_.dispatched();
  ASSERT_EQ(kinds.size(), 2u);  // the hello and the open, nothing from the bad lines
  EXPECT_EQ(kinds[1].kind, "open");
}

TEST_F(PipeServerTest, RefusesPastTheLimitWithoutUsingANumberAndAcceptsAgainLater) {
  start();
  std::vector<std::unique_ptr<Client>> clients;
  for (uint32_t pid = 1; pid <= kMaxPipeConnections; ++pid) {
    auto client = Client::connect(name_);
    ASSERT_TRUE(client) << "client " << pid;
    ASSERT_TRUE(client->write(hello_line(pid)));
    clients.push_back(std::move(client));
  }
  ASSERT_TRUE(recorder_.wait_until([&] { return recorder_.dispatched().size() == kMaxPipeConnections; }, 20000));
  for (const auto& d : recorder_.dispatched()) EXPECT_LE(d.id, kMaxPipeConnections);

  auto refused = Client::connect(name_);
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->wait_broken());
  EXPECT_TRUE(recorder_.wait_until([&] { return log_.count("파이프 연결 상한 초과, 거절") == 1; }));

  const ConnectionId first = *recorder_.id_of_pid(1);
  clients[0]->close();
  ASSERT_TRUE(recorder_.wait_until([&] { return recorder_.forgotten().size() == 1; }));
  auto [again, id] = hello_client(9999);
  ASSERT_TRUE(again);
  EXPECT_EQ(id, kMaxPipeConnections + 1);  // the refused client took no number
  EXPECT_EQ(recorder_.forgotten(), std::vector<ConnectionId>{first});
}

// A client program for the test below: started with the pipe's name in the
// environment, it says hello and then waits to be killed.
TEST(PipeChildClient, DISABLED_HoldsAConnectionUntilKilled) {
  const OptionalEnv name = read_env(kChildPipeVariable);
  ASSERT_TRUE(name);
  auto client = Client::connect(*name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->write(hello_line(GetCurrentProcessId())));
  client->read_line(30000);  // never answered; the parent ends this process first
}

// Starts this test program as the client above.
UniqueHandle start_child_client(const std::wstring& pipe_name) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(exe) +
                         L"\" --gtest_also_run_disabled_tests --gtest_filter=PipeChildClient.DISABLED_HoldsAConnectionUntilKilled";
  SetEnvironmentVariableW(kChildPipeVariable, pipe_name.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kChildPipeVariable, nullptr);
  if (!started) return UniqueHandle();
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

TEST_F(PipeServerTest, AClientThatGoesAwayIsUnregisteredThenForgottenThenLogged) {
  start();
  // One client closes its handle; the other is a process that gets killed.
  auto [closing, closing_id] = hello_client(11);
  ASSERT_TRUE(closing);
  UniqueHandle child = start_child_client(name_);
  ASSERT_TRUE(child);
  const DWORD child_pid = GetProcessId(child.get());
  ASSERT_TRUE(recorder_.wait_until([&] { return recorder_.id_of_pid(child_pid).has_value(); }, 15000));
  const ConnectionId killed_id = *recorder_.id_of_pid(child_pid);

  closing->close();
  ASSERT_TRUE(TerminateProcess(child.get(), 1));
  ASSERT_EQ(WaitForSingleObject(child.get(), kWaitMs), WAIT_OBJECT_0);

  for (const ConnectionId id : {closing_id, killed_id}) {
    const std::string gone = "파이프 연결 끊김 " + std::to_string(id);
    ASSERT_TRUE(recorder_.wait_until([&] { return log_.count(gone) == 1; })) << gone;
    EXPECT_LT(log_.index_of("test forget " + std::to_string(id)), log_.index_of(gone));
    EXPECT_EQ(connection_registry().lookup(id), nullptr);
  }
  EXPECT_TRUE(recorder_.registered_at_forget().empty());
  auto forgotten = recorder_.forgotten();
  std::sort(forgotten.begin(), forgotten.end());
  EXPECT_EQ(forgotten, (std::vector<ConnectionId>{std::min(closing_id, killed_id), std::max(closing_id, killed_id)}));
}

TEST_F(PipeServerTest, AClientThatNeverReadsDoesNotHoldUpOthers) {
  start();
  auto [stalled, stalled_id] = hello_client(21);
  auto [lively, lively_id] = hello_client(22);
  ASSERT_TRUE(stalled && lively);
  recorder_.echo_open = true;

  // Keep the stalled client's pipe full while the other one talks.
  auto stalled_sink = connection_registry().lookup(stalled_id);
  ASSERT_TRUE(stalled_sink);
  UniqueHandle pushing_done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<size_t> pushed{0};
  UniqueHandle pusher = start_thread([&] {
    const std::string line(1024, 'x');
    while (WaitForSingleObject(pushing_done.get(), 0) == WAIT_TIMEOUT) {
      stalled_sink->push(line);
      ++pushed;
    }
  });
  ASSERT_TRUE(pusher);
  ASSERT_TRUE(recorder_.wait_until([&] { return pushed.load() > 2000; }));  // far more than the pipe holds

  for (WindowId w = 1; w <= 5; ++w) {
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(lively->write(open_line(w)));
    EXPECT_EQ(lively->read_line(2000), encode(Event{NoteEvent{w, "echo"}}) + "\n");
    EXPECT_LT(elapsed_since(start), 2000u);
  }
  SetEvent(pushing_done.get());
  ASSERT_EQ(WaitForSingleObject(pusher.get(), kWaitMs), WAIT_OBJECT_0);
  EXPECT_NE(connection_registry().lookup(stalled_id), nullptr);  // stalled, not dropped

  // Its connection thread is stuck in a write, yet the stop event ends it.
  EXPECT_TRUE(stop_and_wait());
  EXPECT_EQ(log_.count("파이프 연결 끊김 " + std::to_string(stalled_id)), 1u);
}

TEST_F(PipeServerTest, TheStopEventEndsTheAcceptThreadAndEveryConnection) {
  start();
  std::vector<std::unique_ptr<Client>> clients;
  for (uint32_t pid = 31; pid <= 33; ++pid) {
    auto [client, id] = hello_client(pid);
    ASSERT_TRUE(client);
    clients.push_back(std::move(client));
  }
  ASSERT_TRUE(stop_and_wait());
  for (auto& client : clients) EXPECT_TRUE(client->wait_broken());
  for (ConnectionId id = 1; id <= 3; ++id) {
    EXPECT_EQ(log_.count("파이프 연결 끊김 " + std::to_string(id)), 1u);
    EXPECT_EQ(connection_registry().lookup(id), nullptr);
  }
  EXPECT_EQ(recorder_.forgotten().size(), 3u);
  // No instance is left waiting for clients.
  EXPECT_EQ(Client::connect(name_, 200), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// ---- security -------------------------------------------------------------------

std::vector<BYTE> sid_of_this_user() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, info.data(), size, &size));
  CloseHandle(token);
  PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::string sid_text(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  std::string out = to_utf8(text);
  LocalFree(text);
  return out;
}

TEST_F(PipeServerTest, OnlyTheUserAndSystemMayOpenThePipe) {
  start();
  auto [client, id] = hello_client(41);
  ASSERT_TRUE(client);

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(client->handle(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<BYTE> user = sid_of_this_user();
  const std::string user_text = sid_text(user.data());
  ASSERT_TRUE(owner);
  EXPECT_EQ(sid_text(owner), user_text);
  ASSERT_TRUE(dacl);  // a null DACL would let everybody in

  std::vector<std::string> granted;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    const auto* header = static_cast<ACE_HEADER*>(ace);
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << "ace " << i;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_TRUE(allowed->Mask == GENERIC_ALL || allowed->Mask == FILE_ALL_ACCESS) << std::hex << allowed->Mask;
    granted.push_back(sid_text(const_cast<DWORD*>(&allowed->SidStart)));
  }
  std::sort(granted.begin(), granted.end());
  std::vector<std::string> expected{user_text, "S-1-5-18"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(granted, expected);
  LocalFree(descriptor);
}

TEST_F(PipeServerTest, WaitsOutANameTakenByAnotherOwnerAndLogsItOnce) {
  // The squatter's pipe belongs to another owner and lets everybody in. Where
  // the system refuses a foreign owner, a plain pipe stands in; the server's
  // first-instance flag then has to catch it.
  PSECURITY_DESCRIPTOR foreign = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;WD)", SDDL_REVISION_1, &foreign,
                                                                   nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, foreign, FALSE};
  const DWORD mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE;
  const DWORD type = PIPE_TYPE_BYTE | PIPE_WAIT;
  UniqueFile squatter(CreateNamedPipeW(name_.c_str(), mode, type, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &attributes));
  if (!squatter) squatter.reset(CreateNamedPipeW(name_.c_str(), mode, type, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
  LocalFree(foreign);
  ASSERT_TRUE(squatter);

  start();
  const std::string in_use = "파이프 이름 사용 중, 다시 시도 " + to_utf8(name_);
  ASSERT_TRUE(recorder_.wait_until([&] { return log_.count(in_use) == 1; }));
  // Two more retries pass without another line and without serving anyone.
  EXPECT_FALSE(recorder_.wait_until([&] { return log_.count(in_use) > 1; }, 2 * kPipeRetryMs + 300));
  EXPECT_EQ(log_.count("파이프 연결 1"), 0u);

  squatter.reset();
  auto [client, id] = hello_client(51);
  ASSERT_TRUE(client);
  EXPECT_EQ(id, 1u);
}

}  // namespace
}  // namespace lumaro
