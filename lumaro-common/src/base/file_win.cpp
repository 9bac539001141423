#include <windows.h>

#include "base/file_win.h"
#include "base/text_win.h"
#include "base/unique_handle_win.h"

namespace lumaro {

std::optional<std::string> read_small_file(const std::wstring& path, size_t max_bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > max_bytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
      return std::nullopt;
    }
    if (got == 0) break;  // the file shrank meanwhile
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

std::optional<std::string> write_whole_file(const std::wstring& path, std::string_view bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return system_error_text(GetLastError());
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    if (!WriteFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, nullptr)) {
      return system_error_text(GetLastError());
    }
    done += wrote;
  }
  return std::nullopt;
}

void create_directories(const std::wstring& dir) {
  if (dir.empty() || CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return;
  const size_t cut = dir.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut == 0) return;
  create_directories(dir.substr(0, cut));
  CreateDirectoryW(dir.c_str(), nullptr);
}

std::string system_error_text(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  std::string out = to_utf8(text);
  out += " (os error " + std::to_string(code) + ")";
  return out;
}

}  // namespace lumaro
