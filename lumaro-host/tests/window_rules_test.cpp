#include "app/window_rules.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

constexpr uint32_t kOverlapped = 0x00CF0000;  // WS_OVERLAPPEDWINDOW
constexpr uint32_t kPopupCaption = 0x80C00000;  // WS_POPUP | WS_CAPTION

WindowFacts frame() {
  WindowFacts f;
  f.exists = f.visible = f.is_own_root = true;
  f.style = kOverlapped;
  f.width = 800;
  f.height = 600;
  f.tid = 42;
  return f;
}

TEST(WindowRules, OnlyVisibleUnownedFramesOfSufficientSizeQualify) {
  struct Case {
    const char* name;
    void (*change)(WindowFacts&);
    bool expected;
  };
  const Case cases[] = {
      {"application frame", [](WindowFacts&) {}, true},
      {"popup with caption", [](WindowFacts& f) { f.style = kPopupCaption; }, true},
      {"thick frame only", [](WindowFacts& f) { f.style = 0x00040000; }, true},
      {"gone", [](WindowFacts& f) { f.exists = false; }, false},
      {"hidden", [](WindowFacts& f) { f.visible = false; }, false},
      {"child of another window", [](WindowFacts& f) { f.is_own_root = false; }, false},
      {"owned dialog", [](WindowFacts& f) { f.has_owner = true; }, false},
      {"no caption or frame", [](WindowFacts& f) { f.style = 0x80000000; }, false},
      {"child style", [](WindowFacts& f) { f.style |= kStyleChild; }, false},
      {"tool window", [](WindowFacts& f) { f.ex_style = kExStyleToolWindow; }, false},
      {"no-activate window", [](WindowFacts& f) { f.ex_style = kExStyleNoActivate; }, false},
      {"other extended styles", [](WindowFacts& f) { f.ex_style = 0x00000100 | 0x00080000; }, true},
      {"exactly 200 x 150", [](WindowFacts& f) { f.width = 200, f.height = 150; }, true},
      {"199 wide", [](WindowFacts& f) { f.width = 199; }, false},
      {"149 high", [](WindowFacts& f) { f.height = 149; }, false},
      {"negative size", [](WindowFacts& f) { f.width = -800; }, false},
      {"no thread", [](WindowFacts& f) { f.tid = 0; }, false},
  };
  for (const Case& c : cases) {
    WindowFacts f = frame();
    c.change(f);
    EXPECT_EQ(is_panel_window(f), c.expected) << c.name;
  }
}

TEST(WindowRules, TargetsByLowerCasedFileNameWithOfficeNeverInjected) {
  const std::vector<std::string> targets{"notepad.exe", "hwp.exe", "winword.exe", "édit.exe"};
  struct Case {
    const char* path;
    bool listed, injected;
  };
  const Case cases[] = {
      {"C:\\Windows\\System32\\NOTEPAD.EXE", true, true},
      {"C:/Program Files/Hnc/Hwp.exe", true, true},
      {"hwp.exe", true, true},
      {"C:\\Apps\\ÉDIT.EXE", true, true},  // full Unicode lower-casing
      {"C:\\Office\\WINWORD.EXE", true, false},
      {"C:\\Office\\excel.exe", false, false},
      {"C:\\Windows\\notepad.exe.bak", false, false},
      {"C:\\Windows\\", false, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_listed_exe(c.path, targets), c.listed) << c.path;
    EXPECT_EQ(is_injection_target(c.path, targets), c.injected) << c.path;
  }
}

TEST(WindowRules, AttachTableDecidesWhetherAndWithWhichAttemptToGoOn) {
  using S = AttachState;
  struct Case {
    const char* name;
    std::optional<AttachRecord> entry;
    bool examine;
    int attempt;
  };
  const Case cases[] = {
      {"no entry", std::nullopt, true, 1},
      {"hook in progress", AttachRecord{1, S::hooked}, false, 2},
      {"helper in progress", AttachRecord{2, S::helper_running}, false, 3},
      {"attached, panel may have gone", AttachRecord{3, S::attached}, true, 1},
      {"failed once", AttachRecord{1, S::failed, 1, false}, true, 2},
      {"failed twice", AttachRecord{2, S::failed, 2, false}, true, 3},
      {"three attempts used", AttachRecord{3, S::failed, 3, false}, false, 4},
      {"given up", AttachRecord{1, S::failed, 3, true}, false, 2},
      {"given up early by a helper", AttachRecord{1, S::failed, 1, true}, false, 2},
      {"transient failure", AttachRecord{4, S::failed, 0, false}, true, 5},
  };
  for (const Case& c : cases) {
    const AttachRecord* entry = c.entry ? &*c.entry : nullptr;
    EXPECT_EQ(may_examine(entry), c.examine) << c.name;
    EXPECT_EQ(next_attempt(entry), c.attempt) << c.name;
  }
}

TEST(WindowRules, AttemptsAreJudgedAfterMoreThanThreeAndAHalfSeconds) {
  EXPECT_FALSE(attach_timed_out(0));
  EXPECT_FALSE(attach_timed_out(3'000'000'000));
  EXPECT_FALSE(attach_timed_out(3'500'000'000));
  EXPECT_TRUE(attach_timed_out(3'500'000'001));
  EXPECT_TRUE(attach_timed_out(4'000'000'000));

  // attached, exists, timed out -> over
  EXPECT_FALSE(hooked_attempt_over(false, true, false));
  EXPECT_TRUE(hooked_attempt_over(true, true, false));
  EXPECT_TRUE(hooked_attempt_over(false, false, false));
  EXPECT_TRUE(hooked_attempt_over(false, true, true));
  // exists, timed out, helper running -> over
  EXPECT_FALSE(helper_attempt_over(true, false, true));
  EXPECT_TRUE(helper_attempt_over(true, false, false));
  EXPECT_TRUE(helper_attempt_over(false, false, true));
  EXPECT_TRUE(helper_attempt_over(true, true, true));
}

TEST(WindowRules, SettlingAnAttempt) {
  using S = AttachState;
  struct Case {
    const char* name;
    int attempt;
    bool attached, exists;
    std::optional<uint32_t> exit;
    S state;
    int used;
    bool give_up, retry, log_attached, log_failure;
  };
  const Case cases[] = {
      {"panel answers", 1, true, true, std::nullopt, S::attached, 0, false, false, true, false},
      {"helper confirmed", 2, true, true, 0u, S::attached, 0, false, false, true, false},
      {"no answer, first attempt", 1, false, true, std::nullopt, S::failed, 1, false, true, false, true},
      {"no answer, second attempt", 2, false, true, 1u, S::failed, 2, false, true, false, true},
      {"no answer, third attempt", 3, false, true, std::nullopt, S::failed, 3, false, false, false, true},
      {"helper denied access", 1, false, true, 2u, S::failed, 1, true, false, false, true},
      {"window gone", 2, false, false, 1u, S::failed, 3, true, false, false, false},
  };
  for (const Case& c : cases) {
    const Settlement s = settle_attempt(c.attempt, c.attached, c.exists, c.exit);
    EXPECT_EQ(s.state, c.state) << c.name;
    EXPECT_EQ(s.attempts_used, c.used) << c.name;
    EXPECT_EQ(s.give_up, c.give_up) << c.name;
    EXPECT_EQ(s.retry, c.retry) << c.name;
    EXPECT_EQ(s.log_attached, c.log_attached) << c.name;
    EXPECT_EQ(s.log_failure, c.log_failure) << c.name;
  }
}

TEST(WindowRules, ThreeFailedAttemptsThenNoMore) {
  std::optional<AttachRecord> entry;
  int attempts = 0;
  while (may_examine(entry ? &*entry : nullptr)) {
    const int attempt = next_attempt(entry ? &*entry : nullptr);
    ++attempts;
    const Settlement s = settle_attempt(attempt, false, true, std::nullopt);
    entry = AttachRecord{attempt, s.state, s.attempts_used, s.give_up};
    if (!s.retry) break;
    ASSERT_LT(attempts, 10);
  }
  EXPECT_EQ(attempts, 3);
  EXPECT_FALSE(may_examine(&*entry));
}

TEST(WindowRules, LogTexts) {
  EXPECT_EQ(format_exit_code(std::nullopt), "None");
  EXPECT_EQ(format_exit_code(0u), "Some(0)");
  EXPECT_EQ(format_exit_code(2u), "Some(2)");
  EXPECT_EQ(format_exit_code(0xFFFFFFFFu), "Some(4294967295)");
  EXPECT_EQ(hex_handle(0), "0x0");
  EXPECT_EQ(hex_handle(0x1A2B), "0x1a2b");
  EXPECT_EQ(hex_handle(0xFFFFFFFFFFFFFFFFull), "0xffffffffffffffff");

  struct Case {
    InjectFailure failure;
    bool permanent;
    const char* text;
  };
  const Case cases[] = {
      {hook_library_missing_failure(), true, "hook DLL 없음"},
      {set_hook_failure(5), true, "SetWindowsHookExW 권한 거부(5)"},
      {set_hook_failure(1428), false, "SetWindowsHookExW 실패(1428)"},
      {post_attach_failure(5), true, "PostMessageW 권한 거부(5), 관리자 권한 앱으로 판단"},
      {post_attach_failure(1400), false, "PostMessageW 실패(1400)"},
      {no_other_host_failure(), true, "다른 비트 host 없음(dist/x86 또는 dist/x64)"},
      {helper_start_failure("C:\\d\\x64\\lumaro-host.exe", "Access is denied."), false,
       "보조 host 실행 실패 C:\\d\\x64\\lumaro-host.exe: Access is denied."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.failure.permanent, c.permanent) << c.text;
    EXPECT_EQ(c.failure.text, c.text);
  }
  EXPECT_EQ(inject_failure_line(0x10, set_hook_failure(5)), "주입 불가 hwnd=0x10. SetWindowsHookExW 권한 거부(5)");
  EXPECT_EQ(inject_failure_line(0xab, post_attach_failure(6)), "주입 실패 hwnd=0xab. PostMessageW 실패(6)");
}

TEST(WindowRules, BitnessRoute) {
  using R = InjectRoute;
  struct Case {
    const char* name;
    bool build64;
    std::optional<bool> host_wow64, target_wow64;
    R route;
  };
  const Case cases[] = {
      {"x64 host, 64-bit target", true, std::nullopt, false, R::local},
      {"x64 host, 32-bit target", true, std::nullopt, true, R::helper},
      {"x64 host, target unreadable", true, std::nullopt, std::nullopt, R::unknown},
      {"x86 host on 32-bit Windows", false, false, std::nullopt, R::local},
      {"x86 host under WOW64, 32-bit target", false, true, true, R::local},
      {"x86 host under WOW64, 64-bit target", false, true, false, R::helper},
      {"x86 host under WOW64, target unreadable", false, true, std::nullopt, R::unknown},
      {"x86 host, own bitness unknown", false, std::nullopt, true, R::unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(choose_route(c.build64, c.host_wow64, c.target_wow64), c.route) << c.name;
  EXPECT_EQ(other_arch(true), "x86");
  EXPECT_EQ(other_arch(false), "x64");
}

TEST(WindowRules, HelperHostIsLookedForBesideAndBelowTheHostsFolder) {
  using V = std::vector<std::wstring>;
  struct Case {
    const wchar_t* host;
    const wchar_t* arch;
    V expected;
  };
  const Case cases[] = {
      {L"C:\\Lumaro\\x86\\lumaro-host.exe", L"x64",
       V{L"C:\\Lumaro\\x64\\lumaro-host.exe", L"C:\\Lumaro\\x86\\x64\\lumaro-host.exe"}},
      {L"C:\\Lumaro\\x64\\lumaro-host.exe", L"x86",
       V{L"C:\\Lumaro\\x86\\lumaro-host.exe", L"C:\\Lumaro\\x64\\x86\\lumaro-host.exe"}},
      {L"C:\\Lumaro\\lumaro-host.exe", L"x64", V{L"C:\\x64\\lumaro-host.exe", L"C:\\Lumaro\\x64\\lumaro-host.exe"}},
      {L"C:\\lumaro-host.exe", L"x64", V{L"C:\\x64\\lumaro-host.exe"}},
      {L"Z:/work/dist/x86/lumaro-host.exe", L"x64",
       V{L"Z:/work/dist\\x64\\lumaro-host.exe", L"Z:/work/dist/x86\\x64\\lumaro-host.exe"}},
      {L"lumaro-host.exe", L"x64", V{}},
      {L"", L"x64", V{}},
  };
  for (const Case& c : cases) EXPECT_EQ(helper_host_candidates(c.host, c.arch), c.expected);
}

TEST(WindowRules, HookLibraryAndHelperCommandLine) {
  EXPECT_EQ(hook_library_path(L"C:\\Lumaro\\x64\\lumaro-host.exe"), L"C:\\Lumaro\\x64\\lumaro-hook.dll");
  EXPECT_EQ(hook_library_path(L""), L"lumaro-hook.dll");
  EXPECT_EQ(hook_library_path(L"lumaro-host.exe"), L"lumaro-hook.dll");
  EXPECT_EQ(helper_command_line(L"C:\\A B\\x64\\lumaro-host.exe", 0x20A3E),
            L"\"C:\\A B\\x64\\lumaro-host.exe\" --helper --hwnd 133694");
}

}  // namespace
}  // namespace lumaro
