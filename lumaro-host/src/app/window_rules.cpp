#include "app/window_rules.h"

#include <algorithm>
#include <cstdio>

#include "apps/target_app.h"
#include "base/unicode_lower.h"

namespace lumaro {

bool is_panel_window(const WindowFacts& f) noexcept {
  if (!f.exists || !f.visible) return false;
  if (!f.is_own_root || f.has_owner) return false;
  if ((f.style & kStyleCaptionOrFrame) == 0 || (f.style & kStyleChild) != 0) return false;
  if ((f.ex_style & (kExStyleNoActivate | kExStyleToolWindow)) != 0) return false;
  if (f.width < kMinTargetWidth || f.height < kMinTargetHeight) return false;
  return f.tid != 0;
}

bool is_listed_exe(std::string_view exe_path, const std::vector<std::string>& targets) {
  const std::string name = to_lower_unicode(basename(exe_path));
  return !name.empty() && std::find(targets.begin(), targets.end(), name) != targets.end();
}

bool is_injection_target(std::string_view exe_path, const std::vector<std::string>& targets) {
  return is_listed_exe(exe_path, targets) && !is_office_exe(exe_path);
}

bool may_examine(const AttachRecord* current) noexcept {
  if (!current) return true;
  switch (current->state) {
    case AttachState::hooked:
    case AttachState::helper_running:
      return false;
    case AttachState::attached:
      return true;
    case AttachState::failed:
      return !current->give_up && current->attempts_used < kMaxAttempts;
  }
  return false;
}

int next_attempt(const AttachRecord* current) noexcept {
  if (!current || current->state == AttachState::attached) return 1;
  return current->attempt + 1;
}

Settlement settle_attempt(int attempt, bool attached, bool exists, std::optional<uint32_t> helper_exit) noexcept {
  Settlement s;
  if (attached) {
    s.state = AttachState::attached;
    s.log_attached = true;
  } else if (exists) {
    s.state = AttachState::failed;
    s.attempts_used = attempt;
    s.give_up = helper_exit == kHelperExitAccessDenied;
    s.retry = attempt < kMaxAttempts && !s.give_up;
    s.log_failure = true;
  } else {
    s.state = AttachState::failed;
    s.attempts_used = kMaxAttempts;
    s.give_up = true;
  }
  return s;
}

std::string format_exit_code(std::optional<uint32_t> code) {
  return code ? "Some(" + std::to_string(*code) + ")" : "None";
}

std::string hex_handle(uint64_t handle) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(handle));
  return buf;
}

InjectFailure hook_library_missing_failure() { return {true, "hook DLL 없음"}; }

InjectFailure set_hook_failure(uint32_t error) {
  const std::string code = std::to_string(error);
  if (error == kErrorAccessDenied) return {true, "SetWindowsHookExW 권한 거부(" + code + ")"};
  return {false, "SetWindowsHookExW 실패(" + code + ")"};
}

InjectFailure post_attach_failure(uint32_t error) {
  const std::string code = std::to_string(error);
  if (error == kErrorAccessDenied) return {true, "PostMessageW 권한 거부(" + code + "), 관리자 권한 앱으로 판단"};
  return {false, "PostMessageW 실패(" + code + ")"};
}

InjectFailure no_other_host_failure() { return {true, "다른 비트 host 없음(dist/x86 또는 dist/x64)"}; }

InjectFailure helper_start_failure(std::string_view path, std::string_view system_text) {
  return {false, "보조 host 실행 실패 " + std::string(path) + ": " + std::string(system_text)};
}

std::string inject_failure_line(uint64_t window, const InjectFailure& failure) {
  return std::string(failure.permanent ? "주입 불가 hwnd=" : "주입 실패 hwnd=") + hex_handle(window) + ". " +
         failure.text;
}

InjectRoute choose_route(bool build_is_64bit, std::optional<bool> host_wow64,
                         std::optional<bool> target_wow64) noexcept {
  if (build_is_64bit) {
    if (!target_wow64) return InjectRoute::unknown;
    return *target_wow64 ? InjectRoute::helper : InjectRoute::local;
  }
  if (!host_wow64) return InjectRoute::unknown;
  if (!*host_wow64) return InjectRoute::local;  // 32-bit Windows: everything is 32-bit
  if (!target_wow64) return InjectRoute::unknown;
  return *target_wow64 ? InjectRoute::local : InjectRoute::helper;
}

namespace {

// The text before the last "\" or "/", or nothing when there is none.
std::optional<std::wstring_view> parent_of(std::wstring_view path) {
  const size_t sep = path.find_last_of(L"\\/");
  if (sep == std::wstring_view::npos) return std::nullopt;
  return path.substr(0, sep);
}

}  // namespace

std::vector<std::wstring> helper_host_candidates(std::wstring_view host_exe, std::wstring_view arch) {
  std::vector<std::wstring> out;
  const auto folder = parent_of(host_exe);
  if (!folder || folder->empty()) return out;
  const std::wstring tail = std::wstring(arch) + L"\\lumaro-host.exe";
  if (const auto parent = parent_of(*folder); parent && !parent->empty()) {
    out.push_back(std::wstring(*parent) + L"\\" + tail);
  }
  out.push_back(std::wstring(*folder) + L"\\" + tail);
  return out;
}

std::wstring hook_library_path(std::wstring_view host_exe) {
  const std::wstring name(kHookLibraryName.begin(), kHookLibraryName.end());
  const auto folder = parent_of(host_exe);
  if (!folder || folder->empty()) return name;
  return std::wstring(*folder) + L"\\" + name;
}

std::wstring helper_command_line(std::wstring_view exe, uint64_t window) {
  const std::string number = std::to_string(window);
  return L"\"" + std::wstring(exe) + L"\" --helper --hwnd " + std::wstring(number.begin(), number.end());
}

}  // namespace lumaro
