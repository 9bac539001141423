// Running the real lumaro-host.exe (path in LUMARO_TEST_HOST) for tests:
// start it with a private data folder, read its log, talk to it as a panel.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"
#include "ipc/codec.h"
#include "ipc/line_splitter.h"
#include "ipc/pipe_name.h"
#include "paths/user_paths.h"
#include "test_process_win.h"

namespace lumaro {

constexpr DWORD kWaitMs = 15000;

inline std::wstring host_exe() { return read_env(L"LUMARO_TEST_HOST").value_or(L""); }

// A started lumaro-host process with its own LOCALAPPDATA.
using HostProcess = TestProcess;

// Starts lumaro-host with our environment, LOCALAPPDATA replaced and mock
// mode on, then `changes` applied (an empty value removes the variable).
inline HostProcess start_host(const std::wstring& local_app_data, const std::wstring& args = L"",
                              EnvChanges changes = {}) {
  changes.insert(changes.begin(), {{L"LOCALAPPDATA", local_app_data}, {L"LUMARO_MOCK", L"1"}});
  std::wstring block = environment_block(changes);
  HostProcess host = start_process(host_exe(), args, &block);
  if (!host.process) ADD_FAILURE() << "cannot start " << to_utf8(host_exe()) << ": " << GetLastError();
  return host;
}

inline std::string host_log(const std::wstring& local_app_data, DWORD pid) {
  return read_small_file(local_app_data + L"\\Lumaro\\log\\lumaro-" + std::to_wstring(pid) + L".log", 16u << 20)
      .value_or("");
}

// Waits until the host's log holds `text` (the log is how we see the host's steps).
inline bool wait_for_log(const std::wstring& local_app_data, DWORD pid, const std::string& text, DWORD ms = kWaitMs) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    if (host_log(local_app_data, pid).find(text) != std::string::npos) return true;
    Sleep(50);
  }
  return false;
}

// One pipe client with its own read buffer.
class Client {
 public:
  bool connect(DWORD ms = kWaitMs) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      pipe_.reset(CreateFileW(pipe_name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
      if (pipe_) return true;
      Sleep(50);
    }
    return false;
  }
  bool send(const Request& r) { return write_raw(encode(r) + "\n"); }
  bool write_raw(const std::string& bytes) {
    OVERLAPPED ov{};
    UniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = ev.get();
    DWORD n = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    return GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) && n == bytes.size();
  }
  // The next event, or nothing after `ms` or when the pipe ends.
  std::optional<Event> next(DWORD ms = kWaitMs) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (pending_.empty()) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end || !read_some(static_cast<DWORD>(end - now))) return std::nullopt;
    }
    auto line = pending_.front();
    pending_.erase(pending_.begin());
    auto event = decode_event(line);
    EXPECT_TRUE(event) << line;
    return event;
  }
  // Skips events until one of type T arrives.
  template <typename T>
  std::optional<T> next_of(DWORD ms = kWaitMs) {
    while (auto e = next(ms)) {
      if (auto* t = std::get_if<T>(&*e)) return *t;
    }
    return std::nullopt;
  }
  // True when the host closed this pipe.
  bool closed_by_host(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
      if (!read_some(100) && eof_) return true;
    }
    return false;
  }
  void close() { pipe_.reset(); }

 private:
  bool read_some(DWORD ms) {
    char buf[16384];
    OVERLAPPED ov{};
    UniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = ev.get();
    DWORD n = 0;
    if (!ReadFile(pipe_.get(), buf, sizeof buf, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
      eof_ = true;
      return false;
    }
    if (WaitForSingleObject(ev.get(), ms) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_.get(), &ov);
      GetOverlappedResult(pipe_.get(), &ov, &n, TRUE);
      if (n == 0) return false;
    } else if (!GetOverlappedResult(pipe_.get(), &ov, &n, FALSE)) {
      eof_ = true;
      return false;
    }
    for (auto& line : splitter_.feed(std::string_view(buf, n))) pending_.push_back(std::move(line));
    return true;
  }

  UniqueFile pipe_;
  LineSplitter splitter_;
  std::vector<std::string> pending_;
  bool eof_ = false;
};

}  // namespace lumaro
