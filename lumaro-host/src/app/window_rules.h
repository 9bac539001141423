// The watcher's decisions, kept apart from the Win32 calls that gather their
// inputs so they can be checked with tables: which windows may carry a panel,
// which executables are targets, what an attach-table entry allows next, how
// an attempt is settled, which way a target of either bitness is reached,
// where the other bitness's host lives, and the texts of failures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaro {

// What an attached panel answers to the query, detach and toggle messages.
inline constexpr uint32_t kPanelAck = 0x5A1D0A11;

inline constexpr int32_t kMinTargetWidth = 200;
inline constexpr int32_t kMinTargetHeight = 150;
inline constexpr size_t kMaxAttachEntries = 4096;
inline constexpr size_t kMaxEnumeratedWindows = 4096;
inline constexpr int kMaxAttempts = 3;
// A hook or helper gets this long before its attempt is judged.
inline constexpr int64_t kAttachLimitNs = 3'500'000'000;

inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kHelperExitAccessDenied = 2;

inline constexpr std::string_view kHookLibraryName = "lumaro-hook.dll";
inline constexpr std::string_view kHookExportName = "lumaro_getmsg_proc";

// Style bits the window tests look at (values of the Win32 constants).
inline constexpr uint32_t kStyleCaptionOrFrame = 0x00C40000;  // WS_CAPTION | WS_THICKFRAME
inline constexpr uint32_t kStyleChild = 0x40000000;           // WS_CHILD
inline constexpr uint32_t kExStyleToolWindow = 0x00000080;    // WS_EX_TOOLWINDOW
inline constexpr uint32_t kExStyleNoActivate = 0x08000000;    // WS_EX_NOACTIVATE

// What the system says about a window, gathered cheaply before any process
// is opened.
struct WindowFacts {
  bool exists = false;
  bool visible = false;
  bool is_own_root = false;  // GetAncestor(GA_ROOT) is the window itself
  bool has_owner = false;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t tid = 0;
};

// A visible, unowned, top-level application frame of at least 200 x 150 that
// can take the focus and has a thread: the only kind of window a panel docks to.
bool is_panel_window(const WindowFacts& facts) noexcept;

// The executable's file name, lower-cased, is in the target list.
bool is_listed_exe(std::string_view exe_path, const std::vector<std::string>& targets);

// Listed, and not one of the Office programs, which are never injected.
bool is_injection_target(std::string_view exe_path, const std::vector<std::string>& targets);

enum class AttachState : uint8_t { hooked, helper_running, attached, failed };

// The parts of an attach-table entry that the decisions read.
struct AttachRecord {
  int attempt = 0;  // number of the last attempt, from 1
  AttachState state = AttachState::failed;
  int attempts_used = 0;  // Failed only
  bool give_up = false;   // Failed only
};

// `current` is the window's entry when its process and thread are still the
// ones recorded, else null. False while an attempt runs and after the window
// was given up or used its three attempts.
bool may_examine(const AttachRecord* current) noexcept;

// Number of the next attempt. A confirmed panel ends a run of attempts, so a
// window whose panel went away later starts again at 1.
int next_attempt(const AttachRecord* current) noexcept;

// More than 3.5 s since the attempt began.
constexpr bool attach_timed_out(int64_t elapsed_ns) noexcept { return elapsed_ns > kAttachLimitNs; }

// Whether the timer check settles a Hooked entry now.
constexpr bool hooked_attempt_over(bool attached, bool exists, bool timed_out) noexcept {
  return attached || !exists || timed_out;
}
// Whether the timer check settles a HelperRunning entry now: the helper's
// answer counts only once the helper has ended or its time is up.
constexpr bool helper_attempt_over(bool exists, bool timed_out, bool helper_running) noexcept {
  return !exists || timed_out || !helper_running;
}

struct Settlement {
  AttachState state = AttachState::failed;
  int attempts_used = 0;
  bool give_up = false;
  bool retry = false;        // queue the window again for the next attempt
  bool log_attached = false;  // "붙음 확인"
  bool log_failure = false;   // "붙기 실패"
};

// The end of attempt `attempt`. `helper_exit` is the helper host's exit code,
// or nothing for a local hook or a helper that had to be stopped.
Settlement settle_attempt(int attempt, bool attached, bool exists, std::optional<uint32_t> helper_exit) noexcept;

// "Some(2)" or "None".
std::string format_exit_code(std::optional<uint32_t> code);

// "0x1a2b": a window handle in lower-case hexadecimal.
std::string hex_handle(uint64_t handle);

// A failed injection: permanent ones give the window up at once.
struct InjectFailure {
  bool permanent = false;
  std::string text;
  bool operator==(const InjectFailure&) const = default;
};

InjectFailure hook_library_missing_failure();
InjectFailure set_hook_failure(uint32_t error);
InjectFailure post_attach_failure(uint32_t error);
InjectFailure no_other_host_failure();
InjectFailure helper_start_failure(std::string_view path, std::string_view system_text);

// "주입 불가 hwnd=0x…. text" or "주입 실패 hwnd=0x…. text".
std::string inject_failure_line(uint64_t window, const InjectFailure& failure);

enum class InjectRoute : uint8_t { local, helper, unknown };

// Which way the target is reached. A 64-bit build asks only whether the
// target runs under WOW64 (then it is 32-bit and needs the x86 helper). A
// 32-bit build asks first about itself: on 32-bit Windows everything is
// local; under WOW64 a target that is not itself under WOW64 is 64-bit and
// needs the x64 helper. A question that could not be answered is nothing,
// and makes the target unknown.
InjectRoute choose_route(bool build_is_64bit, std::optional<bool> host_wow64, std::optional<bool> target_wow64) noexcept;

// "x86" in the 64-bit build, "x64" in the 32-bit one.
constexpr std::string_view other_arch(bool build_is_64bit) noexcept { return build_is_64bit ? "x86" : "x64"; }

// Where the host of the other bitness may be, in the order to try: the
// neighbouring folder (…\x86\ beside …\x64\), then a sub-folder of the
// host's own folder. Empty when the host's path has no folder.
std::vector<std::wstring> helper_host_candidates(std::wstring_view host_exe, std::wstring_view other_arch);

// The hook library beside the host; the bare name when the host's own path
// is unknown or has no folder.
std::wstring hook_library_path(std::wstring_view host_exe);

// `"<exe>" --helper --hwnd <window>`.
std::wstring helper_command_line(std::wstring_view exe, uint64_t window);

}  // namespace lumaro
