// What the resident host's pipe costs: round trips and one-way throughput of
// "usage" requests against a real host in mock mode, the same two figures
// against a bare overlapped echo server (this program, started again with
// --echo-server), and the CPU time and peak working set of an idle host.
//
//   lumaro_pipe_bench.exe <host.exe> [--idle-seconds S] [--round-trips N]
//                         [--pipelined N] [--batch N] [--window N]
//                         [--skip-pipe] [--skip-idle]
//
// The echo server writes every line on its own, as the host does, so the
// ratio host/bare shows what decoding, dispatch, encoding and the outbox add
// on top of the transport.
//
// Pipelined requests are paced by a window of replies outstanding: the host
// keeps at most a few thousand events queued per connection and drops the
// oldest beyond that, so a writer that runs ahead of the replies would
// measure losses rather than throughput. One extra burst with no window
// (host only) reports how many events such a writer loses. Times come from QueryPerformanceCounter; results
// are printed, never judged: this is a measurement, not a test.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/thread_win.h"
#include "base/unique_handle_win.h"
#include "ipc/codec.h"
#include "ipc/pipe_name.h"
#include "../wine_tests/test_process_win.h"

namespace lumaro {
namespace {

constexpr DWORD kWaitMs = 15000;
constexpr DWORD kPipeBufferBytes = 65536;  // the host's own instance buffers
constexpr size_t kReadChunk = 65536;

double qpc_seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

// ---- the bare echo server ----------------------------------------------------

// One client, overlapped like the host: a read is always pending, and each
// complete line goes back with its own write that is waited for.
int run_echo_server(const std::wstring& name) {
  UniqueFile pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
  if (!pipe) return 2;
  UniqueHandle read_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle write_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov{};
  ov.hEvent = read_event.get();
  DWORD n = 0;
  if (!ConnectNamedPipe(pipe.get(), &ov)) {
    const DWORD e = GetLastError();
    if (e == ERROR_IO_PENDING) {
      if (!GetOverlappedResult(pipe.get(), &ov, &n, TRUE)) return 3;
    } else if (e != ERROR_PIPE_CONNECTED) {
      return 3;
    }
  }
  std::vector<char> buffer(16384);  // the host's read size
  std::string pending;
  for (;;) {
    ov = OVERLAPPED{};
    ov.hEvent = read_event.get();
    if (!ReadFile(pipe.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    if (!GetOverlappedResult(pipe.get(), &ov, &n, TRUE)) break;
    pending.append(buffer.data(), n);
    size_t start = 0;
    for (size_t lf; (lf = pending.find('\n', start)) != std::string::npos; start = lf + 1) {
      OVERLAPPED wov{};
      wov.hEvent = write_event.get();
      DWORD written = 0;
      const DWORD len = static_cast<DWORD>(lf + 1 - start);
      if (!WriteFile(pipe.get(), pending.data() + start, len, nullptr, &wov) && GetLastError() != ERROR_IO_PENDING) {
        return 0;
      }
      if (!GetOverlappedResult(pipe.get(), &wov, &written, TRUE)) return 0;
    }
    pending.erase(0, start);
  }
  return 0;
}

// ---- processes -----------------------------------------------------------------

// Our environment with LOCALAPPDATA replaced and mock mode on, so the host
// keeps its settings and logs in a folder of its own and starts no tools.
std::wstring host_environment(const std::wstring& local_app_data) {
  return environment_block({{L"LOCALAPPDATA", local_app_data}, {L"LUMARO_MOCK", L"1"}});
}

HWND host_window() { return FindWindowExW(HWND_MESSAGE, nullptr, L"Lumaro.Host.x64", nullptr); }

// A started host with its data folder; asks it to quit when it goes.
struct Host {
  explicit Host(std::wstring path) : exe(std::move(path)) {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  std::wstring exe;
  std::wstring data;
  std::wstring environment;
  TestProcess child;

  bool start() {
    data = fresh_dir(L"lumaro-bench-");
    environment = host_environment(data);
    child = start_process(exe, L"", &environment);
    return static_cast<bool>(child.process);
  }
  // The message-only window appears once the host has got past its
  // single-instance check and set itself up.
  bool wait_ready() {
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    while (GetTickCount64() < end) {
      if (child.wait(0)) return false;
      if (host_window()) return true;
      Sleep(20);
    }
    return false;
  }
  void quit() {
    if (!child.process || child.wait(0)) return;
    std::wstring env = environment;
    TestProcess q = start_process(exe, L"--quit", &env);
    if (q.process) q.wait(kWaitMs);
    if (child.wait(kWaitMs)) return;
    if (HWND w = host_window()) PostMessageW(w, WM_CLOSE, 0, 0);
    if (!child.wait(kWaitMs)) {
      std::fprintf(stderr, "host did not quit; terminating it\n");
      TerminateProcess(child.process.get(), 9);
      child.wait(kWaitMs);
    }
  }
  ~Host() { quit(); }
};

// ---- the client ----------------------------------------------------------------

// An overlapped client end. One thread may write while another reads: each
// direction has its own OVERLAPPED record and event.
class Client {
 public:
  bool connect(const std::wstring& name) {
    const ULONGLONG end = GetTickCount64() + kWaitMs;
    while (GetTickCount64() < end) {
      pipe_.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
      if (pipe_) return true;
      Sleep(20);
    }
    return false;
  }
  bool write(std::string_view bytes) {
    OVERLAPPED ov{};
    ov.hEvent = write_event_.get();
    DWORD n = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    return GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) && n == bytes.size();
  }
  // Some bytes; nothing when the pipe ended or `ms` passed in silence.
  std::string_view read(DWORD ms = kWaitMs) {
    OVERLAPPED ov{};
    ov.hEvent = read_event_.get();
    DWORD n = 0;
    if (!ReadFile(pipe_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      return {};
    }
    if (WaitForSingleObject(read_event_.get(), ms) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &ov);
      if (!GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) || n == 0) return {};
    } else if (!GetOverlappedResult(pipe_.get(), &ov, &n, FALSE)) {
      return {};
    }
    return std::string_view(buffer_.data(), n);
  }
  // The next complete line without its LF; empty when the pipe ended.
  std::string next_line() {
    for (;;) {
      const size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        std::string line = pending_.substr(0, lf);
        pending_.erase(0, lf + 1);
        return line;
      }
      const std::string_view got = read();
      if (got.empty()) return {};
      pending_.append(got);
    }
  }
  // Reads until `line` arrives; counts the other lines that came first.
  bool wait_for(const std::string& line, size_t* others = nullptr) {
    for (;;) {
      const std::string got = next_line();
      if (got.empty()) return false;
      if (got == line) return true;
      if (others) ++*others;
    }
  }
  size_t pending_bytes() const { return pending_.size(); }

 private:
  UniqueFile pipe_;
  UniqueHandle read_event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle write_event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::vector<char> buffer_ = std::vector<char>(kReadChunk);
  std::string pending_;
};

// ---- measurements --------------------------------------------------------------

struct Options {
  std::wstring host;
  int idle_seconds = 60;
  int round_trips = 2000;
  int pipelined = 20000;
  int batch = 200;
  int window = 1000;
  bool pipe = true;
  bool idle = true;
};

struct PipeFigures {
  bool ok = false;
  double rtt_median_us = 0, rtt_p90_us = 0, rtt_min_us = 0, rtt_mean_us = 0;
  double events_per_s = 0, mb_per_s = 0, seconds = 0;
  size_t stray_lines = 0;
};

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t rank = static_cast<size_t>(p * static_cast<double>(v.size()) + 0.999999);
  return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Burst {
  bool write_ok = false;
  size_t lines = 0, bytes = 0;
  double seconds = 0;  // first write to last reply (or to the last bytes seen)
};

// A writer thread sends `n` requests in batches while this thread counts
// reply lines. The writer waits for a credit per batch, and the reader gives
// one back per batch of replies, so at most `window` requests (rounded up to
// whole batches) are ever unanswered; window >= n means no pacing at all.
// Two seconds of silence end the count early.
Burst pipelined(Client& client, const std::string& request, int n, int per, int window) {
  Burst result;
  // Shared with the writer, which may outlive this call when it got stuck.
  struct Shared {
    std::string batch;
    UniqueHandle credit;
    std::atomic<bool> write_ok{true};
  };
  auto shared = std::make_shared<Shared>();
  for (int i = 0; i < per; ++i) shared->batch += request;
  const LONG credits = std::max<LONG>(1, (window + per - 1) / per);
  shared->credit.reset(CreateSemaphoreW(nullptr, credits, 0x7fffffff, nullptr));
  if (!shared->credit) return result;
  const HANDLE credit = shared->credit.get();
  const size_t line_bytes = request.size();
  const double t0 = qpc_seconds();
  UniqueHandle writer = start_thread([&client, shared, line_bytes, n, per] {
    for (int sent = 0; sent < n;) {
      WaitForSingleObject(shared->credit.get(), INFINITE);
      const int count = std::min(per, n - sent);
      if (!client.write(std::string_view(shared->batch).substr(0, line_bytes * static_cast<size_t>(count)))) {
        shared->write_ok = false;
        return;
      }
      sent += count;
    }
  });
  if (!writer) return result;
  double last = t0;
  size_t credited = 0;
  while (result.lines < static_cast<size_t>(n)) {
    const std::string_view got = client.read(2000);
    if (got.empty()) break;
    last = qpc_seconds();
    result.bytes += got.size();
    result.lines += static_cast<size_t>(std::count(got.begin(), got.end(), '\n'));
    const size_t due = result.lines / static_cast<size_t>(per);
    if (due > credited) {
      ReleaseSemaphore(credit, static_cast<LONG>(due - credited), nullptr);
      credited = due;
    }
  }
  result.seconds = last - t0;
  // A writer stuck on a credit or a full pipe after losses: let it go.
  ReleaseSemaphore(credit, n / per + 1, nullptr);
  result.write_ok = WaitForSingleObject(writer.get(), 5000) == WAIT_OBJECT_0 && shared->write_ok;
  return result;
}

// `request` goes out (LF included); `reply` (without LF) is what each one brings back.
PipeFigures measure(Client& client, const std::string& request, const std::string& reply, const Options& o) {
  PipeFigures f;
  // Round trips, one at a time.
  std::vector<double> rtt;
  rtt.reserve(static_cast<size_t>(o.round_trips));
  for (int i = 0; i < o.round_trips; ++i) {
    const double t0 = qpc_seconds();
    if (!client.write(request) || !client.wait_for(reply, &f.stray_lines)) {
      std::fprintf(stderr, "round trip %d failed\n", i);
      return f;
    }
    rtt.push_back((qpc_seconds() - t0) * 1e6);
  }
  f.rtt_median_us = median(rtt);
  f.rtt_p90_us = percentile(rtt, 0.9);
  f.rtt_min_us = *std::min_element(rtt.begin(), rtt.end());
  double sum = 0;
  for (double x : rtt) sum += x;
  f.rtt_mean_us = sum / static_cast<double>(rtt.size());
  if (client.pending_bytes() != 0) {
    std::fprintf(stderr, "unexpected bytes after the round trips\n");
    return f;
  }
  const Burst burst = pipelined(client, request, o.pipelined, o.batch, o.window);
  if (!burst.write_ok || burst.lines != static_cast<size_t>(o.pipelined) ||
      burst.bytes != static_cast<size_t>(o.pipelined) * (reply.size() + 1)) {
    std::fprintf(stderr, "pipelined run: %zu lines, %zu bytes (expected %d lines of %zu bytes)\n", burst.lines,
                 burst.bytes, o.pipelined, reply.size() + 1);
    return f;
  }
  f.seconds = burst.seconds;
  f.events_per_s = o.pipelined / burst.seconds;
  f.mb_per_s = static_cast<double>(burst.bytes) / burst.seconds / 1e6;
  f.ok = true;
  return f;
}

void print(const char* who, const PipeFigures& f) {
  std::printf("%-5s round trip: median %.1f us, p90 %.1f us, min %.1f us, mean %.1f us\n", who, f.rtt_median_us,
              f.rtt_p90_us, f.rtt_min_us, f.rtt_mean_us);
  std::printf("%-5s pipelined: %.3f s, %.0f events/s, %.2f MB/s (stray lines %zu)\n", who, f.seconds, f.events_per_s,
              f.mb_per_s, f.stray_lines);
}

bool bench_host(const Options& o, PipeFigures* out) {
  Host host{o.host};
  if (!host.start() || !host.wait_ready()) {
    std::fprintf(stderr, "the host did not come up (another one running?)\n");
    return false;
  }
  Client client;
  if (!client.connect(pipe_name())) {
    std::fprintf(stderr, "cannot reach the host's pipe\n");
    return false;
  }
  const std::string request = encode(Request{UsageRequest{1, "gemini"}}) + "\n";
  const std::string reply = encode(Event{NoteEvent{1, "§usage:[]"}});
  // A panel's opening, then one usage round trip so that everything the
  // opening brought back is read before the clock starts.
  if (!client.write(encode(Request{HelloRequest{GetCurrentProcessId(), 64, "C:\\windows\\system32\\notepad.exe"}}) +
                    "\n") ||
      !client.write(encode(Request{OpenRequest{1, "x"}}) + "\n") || !client.write(request) ||
      !client.wait_for(reply)) {
    std::fprintf(stderr, "hello/open/usage failed\n");
    return false;
  }
  *out = measure(client, request, reply, o);
  if (!out->ok) return false;
  // The same burst with no window: what a writer that never waits loses.
  const Burst flood = pipelined(client, request, o.pipelined, o.batch, o.pipelined);
  std::printf("host  unpaced burst of %d: %zu events arrived, %zu lost, in %.3f s%s\n", o.pipelined, flood.lines,
              static_cast<size_t>(o.pipelined) - std::min(flood.lines, static_cast<size_t>(o.pipelined)),
              flood.seconds, flood.write_ok ? "" : " (writer stuck)");
  return true;
}

bool bench_echo(const Options& o, PipeFigures* out) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring name = L"\\\\.\\pipe\\lumaro-bench-echo-" + std::to_wstring(GetCurrentProcessId());
  TestProcess server = start_process(self, L"--echo-server " + name, nullptr);
  if (!server.process) {
    std::fprintf(stderr, "cannot start the echo server: error %lu\n", GetLastError());
    return false;
  }
  Client client;
  if (!client.connect(name)) {
    std::fprintf(stderr, "cannot reach the echo server\n");
    TerminateProcess(server.process.get(), 9);
    return false;
  }
  // The same line both ways, so the byte counts match the host's closely.
  const std::string request = encode(Request{UsageRequest{1, "gemini"}}) + "\n";
  *out = measure(client, request, request.substr(0, request.size() - 1), o);
  client = Client();  // the server ends when its client goes
  if (!server.wait(kWaitMs)) TerminateProcess(server.process.get(), 9);
  return out->ok;
}

double filetime_seconds(const FILETIME& t) {
  ULARGE_INTEGER u;
  u.LowPart = t.dwLowDateTime;
  u.HighPart = t.dwHighDateTime;
  return static_cast<double>(u.QuadPart) / 1e7;
}

struct CpuSample {
  double kernel = 0, user = 0;
};

CpuSample cpu_of(HANDLE process) {
  FILETIME created, exited, kernel, user;
  CpuSample s;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    s.kernel = filetime_seconds(kernel);
    s.user = filetime_seconds(user);
  }
  return s;
}

bool bench_idle(const Options& o) {
  Host host{o.host};
  if (!host.start() || !host.wait_ready()) {
    std::fprintf(stderr, "the host did not come up (another one running?)\n");
    return false;
  }
  const CpuSample ready = cpu_of(host.child.process.get());
  std::printf("idle  host pid %lu ready; start-up CPU %.3f s (kernel %.3f, user %.3f); idling %d s\n", host.child.pid,
              ready.kernel + ready.user, ready.kernel, ready.user, o.idle_seconds);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(o.idle_seconds) * 1000);
  const CpuSample after = cpu_of(host.child.process.get());
  PROCESS_MEMORY_COUNTERS_EX mem{};
  mem.cb = sizeof mem;
  const bool have_mem = K32GetProcessMemoryInfo(host.child.process.get(),
                                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
  const double idle_cpu = (after.kernel + after.user) - (ready.kernel + ready.user);
  std::printf("idle  CPU during %d s idle: %.3f s (kernel %.3f, user %.3f) = %.4f%% of one core\n", o.idle_seconds,
              idle_cpu, after.kernel - ready.kernel, after.user - ready.user, 100.0 * idle_cpu / o.idle_seconds);
  std::printf("idle  CPU since start: %.3f s\n", after.kernel + after.user);
  if (have_mem) {
    std::printf("idle  peak working set %.2f MiB, working set %.2f MiB, private %.2f MiB\n",
                mem.PeakWorkingSetSize / 1048576.0, mem.WorkingSetSize / 1048576.0, mem.PrivateUsage / 1048576.0);
  } else {
    std::printf("idle  K32GetProcessMemoryInfo failed: %lu\n", GetLastError());
  }
  std::fflush(stdout);
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: lumaro_pipe_bench <host.exe> [--idle-seconds S] [--round-trips N] [--pipelined N]\n"
               "                         [--batch N] [--window N] [--skip-pipe] [--skip-idle]\n"
               "       lumaro_pipe_bench --echo-server <pipe name>\n");
  return 2;
}

int run(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring_view(argv[1]) == L"--echo-server") return run_echo_server(argv[2]);
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view a = argv[i];
    auto number = [&](int* v) {
      if (i + 1 >= argc) return false;
      *v = _wtoi(argv[++i]);
      return *v > 0;
    };
    if (a == L"--idle-seconds") {
      if (!number(&o.idle_seconds)) return usage();
    } else if (a == L"--round-trips") {
      if (!number(&o.round_trips)) return usage();
    } else if (a == L"--pipelined") {
      if (!number(&o.pipelined)) return usage();
    } else if (a == L"--batch") {
      if (!number(&o.batch)) return usage();
    } else if (a == L"--window") {
      if (!number(&o.window)) return usage();
    } else if (a == L"--skip-pipe") {
      o.pipe = false;
    } else if (a == L"--skip-idle") {
      o.idle = false;
    } else if (o.host.empty() && !a.starts_with(L"--")) {
      o.host = a;
    } else {
      return usage();
    }
  }
  if (o.host.empty()) return usage();
  if (host_window()) {
    std::fprintf(stderr, "a host is already running in this session; quit it first\n");
    return 1;
  }
  if (o.pipe) {
    std::printf("pipe  %d round trips, %d pipelined in batches of %d, window %d\n", o.round_trips, o.pipelined,
                o.batch, o.window);
    PipeFigures host, bare;
    if (!bench_host(o, &host)) return 1;
    print("host", host);
    std::fflush(stdout);
    if (!bench_echo(o, &bare)) return 1;
    print("bare", bare);
    std::printf("ratio host/bare: round-trip median %.2fx, p90 %.2fx; events/s %.3fx\n",
                host.rtt_median_us / bare.rtt_median_us, host.rtt_p90_us / bare.rtt_p90_us,
                host.events_per_s / bare.events_per_s);
    std::printf("RESULT host_rtt_med_us=%.1f host_rtt_p90_us=%.1f host_ev_s=%.0f host_mb_s=%.2f "
                "bare_rtt_med_us=%.1f bare_rtt_p90_us=%.1f bare_ev_s=%.0f bare_mb_s=%.2f\n",
                host.rtt_median_us, host.rtt_p90_us, host.events_per_s, host.mb_per_s, bare.rtt_median_us,
                bare.rtt_p90_us, bare.events_per_s, bare.mb_per_s);
    std::fflush(stdout);
  }
  if (o.idle && !bench_idle(o)) return 1;
  return 0;
}

}  // namespace
}  // namespace lumaro

int wmain(int argc, wchar_t** argv) { return lumaro::run(argc, argv); }
