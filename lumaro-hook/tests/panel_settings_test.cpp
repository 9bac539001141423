#include "target/panel_settings.h"

#include <gtest/gtest.h>

namespace lumaro::hook {
namespace {

TEST(PanelSettings, DefaultsForEmptyOrInvalidText) {
  EXPECT_EQ(parse_panel_settings(""), PanelSettings{});
  EXPECT_EQ(parse_panel_settings("panel_width=500\n\xff\n"), PanelSettings{});  // not UTF-8
}

TEST(PanelSettings, KeysAreCaseInsensitiveAndCommentsCut) {
  const auto s = parse_panel_settings("PANEL_WIDTH = 500 # wider\r\nanim=Slide\n");
  EXPECT_EQ(s.panel_width, 500);
  EXPECT_EQ(s.anim, PanelAnimation::slide);
}

TEST(PanelSettings, OutOfRangeOrMalformedWidthKeepsPrevious) {
  EXPECT_EQ(parse_panel_settings("panel_width=150").panel_width, 320);
  EXPECT_EQ(parse_panel_settings("panel_width=abc").panel_width, 320);
  EXPECT_EQ(parse_panel_settings("panel_width=801").panel_width, 320);
  EXPECT_EQ(parse_panel_settings("panel_width=99999999999999999999").panel_width, 320);
  EXPECT_EQ(parse_panel_settings("panel_width=+200").panel_width, 200);
  EXPECT_EQ(parse_panel_settings("panel_width=400\npanel_width=x\n").panel_width, 400);
  EXPECT_EQ(parse_panel_settings("panel_width=400\npanel_width=600").panel_width, 600);
}

TEST(PanelSettings, ByteOrderMarkAndUnknownValues) {
  const auto s = parse_panel_settings("\xEF\xBB\xBFpanel_width=640\nanim=bounce\nnoequals\n");
  EXPECT_EQ(s.panel_width, 640);
  EXPECT_EQ(s.anim, PanelAnimation::spring);
  EXPECT_EQ(settings_text(s), "panel_width=640 anim=Spring");
}

}  // namespace
}  // namespace lumaro::hook
