#include "apps/target_app.h"

#include <gtest/gtest.h>

namespace lumaro {
namespace {

TEST(TargetApp, ClassifyMatchesBasenameWithAsciiFolding) {
  struct Case {
    std::string exe;
    TargetKind kind;
    std::string_view row_exe;  // the table's spelling; empty for the fallback row
  };
  const Case cases[] = {
      {"C:\\Windows\\System32\\NOTEPAD.EXE", TargetKind::EditControl, "notepad.exe"},
      {"C:/apps/Hwp.exe", TargetKind::Hangul, "hwp.exe"},
      {"D:\\Program Files\\Cellwick\\CellWick.exe", TargetKind::Connector, "cellwick.exe"},
      {"C:\\Office\\WINWORD.EXE", TargetKind::Office, "winword.exe"},
      {"excel.exe", TargetKind::Office, "excel.exe"},
      {"C:\\x/y\\PowerPnt.exe", TargetKind::Office, "powerpnt.exe"},
      {"C:\\apps\\hwp.exe.bak", TargetKind::EditControl, ""},
      {"C:\\apps\\hwp.ex", TargetKind::EditControl, ""},
      {"C:\\apps\\", TargetKind::EditControl, ""},
      {"", TargetKind::EditControl, ""},
      {"browser:edge", TargetKind::Browser, "browser:"},
      {"browser:", TargetKind::Browser, "browser:"},
      {"Browser:edge", TargetKind::EditControl, ""},
      {"browser", TargetKind::EditControl, ""},
      // Only ASCII letters fold: fullwidth and Latin-1 capitals stay distinct.
      {"C:\\\xEF\xBC\xAEotepad.exe", TargetKind::EditControl, ""},  // U+FF2E FULLWIDTH N
      {"C:\\HWP\xC3\x89.exe", TargetKind::EditControl, ""},
  };
  for (const auto& c : cases) {
    const TargetApp row = classify(c.exe);
    EXPECT_EQ(row.kind, c.kind) << c.exe;
    EXPECT_EQ(row.exe, c.row_exe) << c.exe;
  }
}

TEST(TargetApp, RowsCarryTheirTexts) {
  EXPECT_EQ(classify("C:\\Windows\\NOTEPAD.EXE").display, "메모장");
  EXPECT_EQ(classify("hwp.exe").description, "Korean word processor (Hangul, hwp and hwpx documents)");
  EXPECT_EQ(classify("unknown.exe"), kFallbackApp);
  EXPECT_EQ(kFallbackApp.display, "대상 앱");
  EXPECT_EQ(kFallbackApp.description, "desktop app");
  EXPECT_EQ(classify("browser:verso"), kBrowserApp);
  EXPECT_EQ(kBrowserApp.description, "web browser side panel (page text is provided)");

  const TargetApp cellwick = classify("C:\\a\\cellwick.exe");
  EXPECT_EQ(cellwick.connector, (ConnectorInfo{7979, "cellwick", "cellwick-cli.exe", "CELLWICK_CONTROL_PORT"}));
  // Only the connector row has a payload.
  for (const TargetApp& row : kTargetApps) {
    if (row.kind != TargetKind::Connector) {
      EXPECT_EQ(row.connector, ConnectorInfo{}) << row.exe;
    }
  }
}

TEST(TargetApp, DisplayNamesOfBothVariants) {
  struct Case {
    std::string exe;
    std::string panel, host;
  };
  const Case cases[] = {
      {"C:\\Windows\\System32\\NOTEPAD.EXE", "메모장", "메모장"},
      {"C:/apps/Hwp.exe", "한글", "한글"},
      {"C:\\x\\my.tool.exe", "my.tool", "my"},
      {"D:\\tools\\editor", "editor", "editor"},
      {"C:\\x\\.exe", "대상 앱", "대상 앱"},
      {"C:\\x\\.hidden.exe", ".hidden", "대상 앱"},
      {"C:\\x\\", "대상 앱", "대상 앱"},
      {"", "대상 앱", "대상 앱"},
      {"C:\\apps\\hwp.exe.bak", "hwp.exe", "hwp"},
      {"C:\\x\\메모.exe", "메모", "메모"},
      {"browser:EDGE", "Edge", "Edge"},
      {"browser:orlo", "Orlo", "Orlo"},
      {"browser:Verso", "Verso", "Verso"},
      {"browser:chrome", "Chrome", "Chrome"},
      {"browser:chromium", "Chromium", "Chromium"},
      {"browser:", "브라우저", "브라우저"},
      {"browser:firefox", "브라우저", "브라우저"},
      {"browser:edge ", "브라우저", "브라우저"},
      {"Browser:edge", "Browser:edge", "Browser:edge"},  // not a browser: an unknown program
  };
  for (const auto& c : cases) {
    EXPECT_EQ(display_name(c.exe), c.panel) << c.exe;
    EXPECT_EQ(host_display_name(c.exe), c.host) << c.exe;
  }
}

TEST(TargetApp, BasenameAndOfficeExclusion) {
  EXPECT_EQ(basename("C:\\a/b\\c.exe"), "c.exe");
  EXPECT_EQ(basename("C:/a\\b/c.exe"), "c.exe");
  EXPECT_EQ(basename("c.exe"), "c.exe");
  EXPECT_EQ(basename("C:\\a\\"), "");

  struct Case {
    std::string exe;
    bool office;
  };
  const Case cases[] = {
      {"C:\\Office\\WINWORD.EXE", true}, {"excel.exe", true},       {"D:/x/PowerPnt.Exe", true},
      {"C:\\x\\winword.exe.old", false}, {"C:\\x\\notepad.exe", false}, {"winword", false},
      {"C:\\x\\hwp.exe", false},         {"browser:edge", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_office_exe(c.exe), c.office) << c.exe;
}

}  // namespace
}  // namespace lumaro
