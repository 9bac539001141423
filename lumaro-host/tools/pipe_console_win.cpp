// lumaro-console: talk to a running resident host from a console, as a panel
// would. It connects to the session's pipe, says hello as Notepad and opens
// one panel (window 1), then:
//   - a line starting with "{" is sent as it is (a request in JSON);
//   - any other line is sent as a question ("send") for window 1;
//   - "/stop" stops the running answer; an empty line or end of input quits.
// Every event the host sends is printed as its JSON line.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "base/text_win.h"
#include "base/thread_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/pipe_name.h"

using namespace lumaro;

namespace {

HANDLE g_pipe = INVALID_HANDLE_VALUE;

// The pipe is opened for overlapped I/O so the reader thread's pending read
// does not hold up writes from the main thread.
bool overlapped_io(bool write, void* data, DWORD size, DWORD& done) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const BOOL ok = write ? WriteFile(g_pipe, data, size, nullptr, &ov) : ReadFile(g_pipe, data, size, nullptr, &ov);
  const bool result = (ok || GetLastError() == ERROR_IO_PENDING) && GetOverlappedResult(g_pipe, &ov, &done, TRUE);
  CloseHandle(ov.hEvent);
  return result;
}

bool write_line(const std::string& line) {
  std::string bytes = line + "\n";
  DWORD n = 0;
  return overlapped_io(true, bytes.data(), static_cast<DWORD>(bytes.size()), n) && n == bytes.size();
}

void print_events() {
  LineSplitter splitter;
  char buf[kReadBufferBytes];
  DWORD n = 0;
  while (overlapped_io(false, buf, sizeof buf, n) && n > 0) {
    for (const auto& line : splitter.feed(std::string_view(buf, n))) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  std::printf("(the host closed the pipe)\n");
  std::fflush(stdout);
}

}  // namespace

int main() {
  SetConsoleOutputCP(CP_UTF8);
  const std::wstring name = pipe_name();
  for (int i = 0; i < 50 && g_pipe == INVALID_HANDLE_VALUE; ++i) {
    g_pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
    if (g_pipe == INVALID_HANDLE_VALUE) Sleep(200);
  }
  if (g_pipe == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "no host on %s\n", to_utf8(name).c_str());
    return 1;
  }
  UniqueHandle reader = start_thread(print_events);
  write_line(encode(HelloRequest{GetCurrentProcessId(), 8 * sizeof(void*), "C:\\windows\\system32\\notepad.exe"}));
  write_line(encode(OpenRequest{1, "lumaro-console"}));
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    if (line == "/stop") write_line(encode(StopRequest{1}));
    else if (line.front() == '{') write_line(line);
    else write_line(encode(SendRequest{1, line, "", "claude", "", ""}));
  }
  CloseHandle(g_pipe);
  return 0;
}
