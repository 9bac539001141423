// The chat engine driven through its requests, with an in-memory environment
// (settings, clock, switches) and real threads for the jobs. Mock mode is on
// unless a test turns it off; its pauses are skipped.
#include "runner/chat_engine.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "ipc/codec.h"
#include "log/log.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

using namespace std::chrono_literals;

class TestEnv final : public ChatEnv {
 public:
  ~TestEnv() override { join_all(); }

  ProviderSettings load_settings() override { return loaded; }
  std::optional<std::string> save_settings(const ProviderSettings& s) override {
    saved.push_back(s);
    return save_error;
  }
  bool mock_mode() override { return mock; }
  bool mock_login_out() override { return login_out; }
  uint32_t host_pid() override { return 4242; }
  Clock::time_point now() override { return clock; }
  bool spawn(std::function<void()> work) override {
    std::lock_guard lock(threads_mutex);
    threads.emplace_back([this, work = std::move(work)] {
      {
        std::unique_lock gate_lock(gate_mutex);
        gate_cv.wait(gate_lock, [&] { return gate_open; });
      }
      work();
    });
    return true;
  }
  // While closed, new worker threads wait before doing anything.
  void set_gate(bool open) {
    std::lock_guard lock(gate_mutex);
    gate_open = open;
    gate_cv.notify_all();
  }
  void sleep_ms(unsigned ms) override { slept_ms += ms; }
  std::optional<ConnectorSpec> connector_for(const std::string&, const TargetApp&) override {
    return ConnectorSpec{"C:\\apps\\cellwick-cli.exe", {"mcp", "--connect", "127.0.0.1:7979"}, 7979};
  }

  void join_all() {
    for (;;) {
      std::vector<std::thread> batch;
      {
        std::lock_guard lock(threads_mutex);
        batch.swap(threads);
      }
      if (batch.empty()) return;
      for (auto& t : batch) t.join();
    }
  }

  ProviderSettings loaded;
  std::vector<ProviderSettings> saved;
  std::optional<std::string> save_error;
  bool mock = true;
  bool login_out = false;
  Clock::time_point clock{};
  std::atomic<unsigned> slept_ms{0};
  std::mutex threads_mutex;
  std::vector<std::thread> threads;
  std::mutex gate_mutex;
  std::condition_variable gate_cv;
  bool gate_open = true;
};

// A connection's outbox as a decoded, waitable list of events.
class Client final : public LineSink {
 public:
  void push(std::string line) override {
    auto event = decode_event(line);
    ASSERT_TRUE(event) << line;
    std::lock_guard lock(m_);
    events_.push_back(std::move(*event));
    lines_.push_back(std::move(line));
    cv_.notify_all();
  }
  // Waits until an event of type T has arrived; returns all events so far.
  template <typename T>
  std::vector<Event> wait_for() {
    std::unique_lock lock(m_);
    cv_.wait_for(lock, 10s, [&] {
      for (auto& e : events_) {
        if (std::holds_alternative<T>(e)) return true;
      }
      return false;
    });
    return events_;
  }
  std::vector<Event> take() {
    std::lock_guard lock(m_);
    lines_.clear();
    return std::exchange(events_, {});
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(m_);
    return lines_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Event> events_;
  std::vector<std::string> lines_;
};

std::vector<std::string> encoded(const std::vector<Event>& events) {
  std::vector<std::string> out;
  for (auto& e : events) out.push_back(encode(e));
  return out;
}

template <typename T>
std::vector<T> only(const std::vector<Event>& events) {
  std::vector<T> out;
  for (auto& e : events) {
    if (auto* t = std::get_if<T>(&e)) out.push_back(*t);
  }
  return out;
}

class ChatEngineTest : public testing::Test {
 protected:
  void SetUp() override {
    registry.insert(1, a);
    registry.insert(2, b);
    take_captured_log_lines();
  }
  void TearDown() override { env.join_all(); }

  void hello(ConnectionId c, const std::string& exe) { engine.dispatch(c, HelloRequest{100 + c, 64, exe}); }
  void open(ConnectionId c, WindowId w, const std::string& title = "제목") { engine.dispatch(c, OpenRequest{w, title}); }
  void send(ConnectionId c, WindowId w, const std::string& text, const std::string& context = "",
            const std::string& provider = "claude", const std::string& preset = "") {
    engine.dispatch(c, SendRequest{w, text, context, provider, "", preset});
  }
  // Runs a turn to its "done" and returns its events.
  std::vector<Event> turn(ConnectionId c, WindowId w, const std::string& text, const std::string& context = "") {
    auto& client = c == 1 ? *a : *b;
    client.take();
    send(c, w, text, context);
    client.wait_for<DoneEvent>();
    env.join_all();
    return client.take();
  }
  PanelSession session(ConnectionId c, WindowId w) {
    return engine.with_state([&](ChatState& s) { return s.sessions.at({c, w}); });
  }

  TestEnv env;
  ConnectionRegistry registry;
  ChatEngine engine{env, registry};
  std::shared_ptr<Client> a = std::make_shared<Client>(), b = std::make_shared<Client>();
};

TEST_F(ChatEngineTest, HelloAnswersWithStateAndRefreshesAccountsAtMostOncePerMinute) {
  hello(1, "C:\\Windows\\notepad.exe");
  auto events = a->wait_for<StateEvent>();
  EXPECT_TRUE(std::holds_alternative<StateEvent>(events.front()));
  env.join_all();  // the refresh ran: mock mode reports every provider logged in
  EXPECT_TRUE(b->take().size() == 3 && only<StateEvent>(a->take()).back().providers[2].login == LoginState::in);

  env.clock += 30s;
  hello(1, "C:\\Windows\\notepad.exe");
  env.join_all();
  EXPECT_EQ(a->take().size(), 1u);  // the state answer only, no refresh
  env.clock += 31s;
  hello(1, "C:\\Windows\\notepad.exe");
  env.join_all();
  EXPECT_EQ(a->take().size(), 4u);  // answer + a broadcast per provider

  auto log = take_captured_log_lines();
  EXPECT_EQ(log.front(), "hook 인사 연결 1 pid=101 64비트 C:\\Windows\\notepad.exe");
  EXPECT_EQ(std::count(log.begin(), log.end(), "로그인 상태 Claude LoggedIn"), 2);
}

TEST_F(ChatEngineTest, OpenReportsTheTargetKindInItsConnText) {
  struct Case {
    std::string exe, title, text;
    bool ok;
  };
  const std::string long_title = "가나다라마바사아자차카타파하거너더러머버서어저처커터퍼허고노도로모보소오조초코토포호";
  const Case cases[] = {
      {"C:\\Windows\\system32\\NOTEPAD.EXE", "메모", "메모장 연결됨 · 선택 영역 읽기", true},
      {"D:\\tools\\my.tool.exe", "t", "my 연결됨 · 선택 영역 읽기", true},
      {"C:\\Office\\WINWORD.EXE", "문서1", "Word 연결됨 · 작업창", true},
      {"browser:edge", long_title, "Edge 연결됨 · " + long_title.substr(0, 40 * 3), true},
      {"browser:", "page", "브라우저 연결됨 · page", true},
      {"C:\\apps\\cellwick.exe", "book", "Cellwick 연결 확인 중", true},
  };
  WindowId w = 10;
  for (const auto& c : cases) {
    hello(1, c.exe);
    a->take();
    open(1, ++w, c.title);
    auto conn = only<ConnEvent>(a->wait_for<ConnEvent>());
    ASSERT_FALSE(conn.empty()) << c.exe;
    EXPECT_EQ(conn.front().text, c.text) << c.exe;
    EXPECT_EQ(conn.front().w, w);
    env.join_all();
  }
  // The connector check (mock mode) reports its own outcome afterwards.
  auto conn = only<ConnEvent>(a->take());
  ASSERT_EQ(conn.size(), 2u);
  EXPECT_EQ(conn.back().text, "Cellwick 연결됨 (가짜 점검)");
  EXPECT_TRUE(session(1, w).ready);
}

TEST_F(ChatEngineTest, MockTurnStreamsToolTextSessionNoteAndDone) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  auto events = turn(1, 7, "요약", "a\r\n  b  \n");
  ASSERT_EQ(events.size(), 1 + 7 + 1 + 1u) << testing::PrintToString(encoded(events));
  EXPECT_EQ(encode(events[0]), R"({"args":"9자","name":"read_document","t":"tool","w":7})");
  std::string text;
  for (size_t i = 1; i <= 7; ++i) {
    auto& piece = std::get<TextEvent>(events[i]);
    EXPECT_EQ(piece.new_block, i == 1);
    text += piece.text;
  }
  EXPECT_EQ(text, "○ a\n○ b");
  EXPECT_EQ(std::get<NoteEvent>(events[8]).text, "§session:mock-4242");
  EXPECT_EQ(std::get<DoneEvent>(events[9]).error, "");
  EXPECT_EQ(env.slept_ms.load(), 300u + 7 * 228 + 100);
  EXPECT_EQ(session(1, 7).resume_ids.at("claude"), "mock-4242");
  EXPECT_FALSE(session(1, 7).job);

  auto log = take_captured_log_lines();
  EXPECT_NE(std::find(log.begin(), log.end(), "요청 Claude 창 0x7 글자 2 문맥 9바이트"), log.end());
}

TEST_F(ChatEngineTest, RefusalsEndTheTurnWithTheirSentence) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  a->take();

  send(1, 99, "no panel");
  EXPECT_EQ(only<DoneEvent>(a->take()).at(0).error, "창 정보가 없습니다. 패널을 닫았다 다시 여십시오.");

  send(1, 7, "", "", "claude", "nonexistent");
  EXPECT_EQ(only<DoneEvent>(a->take()).at(0).error,
            "프리셋에 쓸 글이 없습니다. 글을 선택하거나 입력한 뒤 다시 보내십시오.");

  engine.with_state([](ChatState& s) { s.logins[1] = LoginState::missing; });
  send(1, 7, "q", "", "chatgpt");
  EXPECT_EQ(only<DoneEvent>(a->take()).at(0).error, "Codex CLI (OpenAI) 이 설치되어 있지 않습니다. 설치 후 다시 시도하십시오.");

  env.mock = false;  // no tool runner in this build: the turn ends with its message
  send(1, 7, "q");
  auto done = only<DoneEvent>(a->take());
  ASSERT_EQ(done.size(), 1u);
  EXPECT_NE(done[0].error.find("Claude 를 실행하지 못했습니다: "), std::string::npos);
  EXPECT_FALSE(session(1, 7).job);  // the panel is idle again
}

TEST_F(ChatEngineTest, BusyPanelRefusesASecondQuestionAndStopEndsTheTurn) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  a->take();
  env.set_gate(false);  // the job exists but has not produced anything yet
  send(1, 7, "first", "line one\nline two");
  send(1, 7, "second", "y");
  EXPECT_EQ(only<DoneEvent>(a->take()).at(0).error, "응답 중입니다. 멈춘 뒤 다시 보내십시오.");
  engine.dispatch(1, StopRequest{7});
  EXPECT_TRUE(session(1, 7).stopped);
  env.set_gate(true);
  a->wait_for<DoneEvent>();
  env.join_all();
  auto events = a->take();
  EXPECT_TRUE(only<TextEvent>(events).empty());
  EXPECT_EQ(only<DoneEvent>(events).at(0).error, "멈췄습니다");
  EXPECT_EQ(only<NoteEvent>(events).at(0).text, "§session:mock-4242");
  EXPECT_FALSE(session(1, 7).stopped);

  // The next question is accepted and continues the same conversation.
  events = turn(1, 7, "again");
  EXPECT_EQ(only<DoneEvent>(events).at(0).error, "");
  std::string answer;
  for (auto& piece : only<TextEvent>(events)) answer += piece.text;
  EXPECT_EQ(answer, "가짜 공급자 응답입니다. 문서 내용이 없어 요청만 확인했습니다.");
  EXPECT_EQ(only<NoteEvent>(events).at(0).text, "§session:mock-4242");

  engine.dispatch(1, ResetRequest{7, "claude", "conv_1-A"});
  events = turn(1, 7, "third");
  EXPECT_EQ(only<NoteEvent>(events).at(0).text, "§session:conv_1-A");
}

TEST_F(ChatEngineTest, ClosingAPanelCancelsItsJob) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  a->take();
  env.set_gate(false);
  send(1, 7, "q", "doc");
  engine.dispatch(1, CloseRequest{7});
  env.set_gate(true);
  a->wait_for<DoneEvent>();
  env.join_all();
  auto events = a->take();
  EXPECT_TRUE(only<TextEvent>(events).empty());
  EXPECT_EQ(only<DoneEvent>(events).at(0).error, "멈췄습니다");
  engine.with_state([](ChatState& s) { EXPECT_TRUE(s.sessions.empty()); });
}

TEST_F(ChatEngineTest, ImagesAreBoundedAndTakenByTheNextAcceptedTurn) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  for (int i = 0; i < 5; ++i) engine.dispatch(1, ImageRequest{7, "data:image/png;base64,QUJD"});
  EXPECT_EQ(session(1, 7).pending_images.size(), 4u);
  send(1, 7, "", "", "claude", "unknown-preset");  // refused before the images are taken
  EXPECT_EQ(session(1, 7).pending_images.size(), 4u);
  turn(1, 7, "look");
  EXPECT_TRUE(session(1, 7).pending_images.empty());
}

TEST_F(ChatEngineTest, ResetKeepsOnlyWellFormedIds) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  struct Case {
    std::string id;
    bool kept;
  };
  const Case cases[] = {{"abc-DEF_123", true},
                        {std::string(128, 'x'), true},
                        {std::string(129, 'x'), false},
                        {"a.b", false},
                        {"", false},
                        {"한글", false}};
  for (const auto& c : cases) {
    engine.dispatch(1, ResetRequest{7, "gemini", "old"});
    engine.dispatch(1, ResetRequest{7, "unknown", c.id});
    const auto ids = session(1, 7).resume_ids;
    EXPECT_EQ(ids.count("gemini"), 0u) << c.id;  // every provider was cleared
    EXPECT_EQ(ids.count("claude"), c.kept ? 1u : 0u) << c.id;
  }
}

TEST_F(ChatEngineTest, SelectSavesAndBroadcastsEvenWhenSavingFails) {
  hello(1, "C:\\Windows\\notepad.exe");
  env.join_all();
  a->take();
  b->take();
  engine.dispatch(2, SelectRequest{"gemini", "not-in-any-list"});
  ASSERT_EQ(env.saved.size(), 1u);
  EXPECT_EQ(env.saved[0].provider, "gemini");
  EXPECT_EQ(env.saved[0].model, "not-in-any-list");
  for (auto* client : {a.get(), b.get()}) {
    auto state = only<StateEvent>(client->take());
    ASSERT_EQ(state.size(), 1u);
    EXPECT_EQ(state[0].provider, "gemini");
    EXPECT_EQ(state[0].model, "not-in-any-list");
  }
  env.save_error = "디스크 가득";
  engine.dispatch(1, SelectRequest{"GEMINI", ""});
  EXPECT_EQ(only<StateEvent>(a->take()).at(0).provider, "claude");  // unknown id
  auto log = take_captured_log_lines();
  EXPECT_EQ(log.back(), "설정 저장 실패 디스크 가득");
}

TEST_F(ChatEngineTest, SessionLimitAndConnectionEnd) {
  hello(1, "C:\\Windows\\notepad.exe");
  hello(2, "C:\\Windows\\notepad.exe");
  env.join_all();
  for (WindowId w = 1; w <= 513; ++w) open(1, w);
  a->take();
  open(2, 1);  // the limit is per host, not per connection
  EXPECT_EQ(only<ConnEvent>(b->take()).size(), 1u);  // still told its status
  send(2, 1, "q");
  EXPECT_EQ(only<DoneEvent>(b->take()).at(0).error, "창 정보가 없습니다. 패널을 닫았다 다시 여십시오.");

  env.set_gate(false);
  send(1, 1, "q", "doc");  // a running job on connection 1
  registry.remove(1);
  engine.forget_connection(1);
  env.set_gate(true);
  env.join_all();
  engine.with_state([](ChatState& s) {
    EXPECT_TRUE(s.sessions.empty());
    EXPECT_EQ(s.exes.count(1), 0u);
    EXPECT_EQ(s.pids.count(1), 0u);
    EXPECT_EQ(s.exes.count(2), 1u);
  });
  EXPECT_TRUE(only<TextEvent>(a->take()).empty());  // the cancelled job's output went nowhere
  open(2, 1);  // room again
  EXPECT_NO_THROW(session(2, 1));
}

TEST_F(ChatEngineTest, ShortAnswersAndOddRequests) {
  hello(1, "C:\\Windows\\notepad.exe");
  open(1, 7);
  env.join_all();
  a->take();
  engine.dispatch(1, UsageRequest{7, "gemini"});
  engine.dispatch(1, ApplyRequest{7, "answer"});
  engine.dispatch(1, ApplyRequest{99, "answer"});
  auto notes = only<NoteEvent>(a->take());
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes[0].text, "§usage:[]");
  EXPECT_EQ(notes[1].text, "이 앱은 패널에서 직접 적용합니다.");
  EXPECT_EQ(notes[2].text, "이 앱은 패널에서 직접 적용합니다.");
  engine.dispatch(1, StopRequest{99});
  engine.dispatch(1, CloseRequest{99});
  engine.dispatch(1, CloseRequest{7});
  EXPECT_TRUE(a->take().empty());
}

TEST_F(ChatEngineTest, MockLoginSwitchDecidesTheRefreshAndLoggingInSurvivesIt) {
  env.login_out = true;
  engine.with_state([](ChatState& s) { s.logins[0] = LoginState::logging_in; });
  engine.start_account_refresh();
  env.join_all();
  auto state = engine.build_state_event();
  EXPECT_EQ(state.providers[0].login, LoginState::logging_in);
  EXPECT_EQ(state.providers[1].login, LoginState::out);
  mock_login_flag() = true;
  engine.start_account_refresh();
  env.join_all();
  EXPECT_EQ(engine.build_state_event().providers[2].login, LoginState::in);
  mock_login_flag() = false;
}

}  // namespace
}  // namespace lumaro
