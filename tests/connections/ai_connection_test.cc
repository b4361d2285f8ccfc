#include "connections/ai_connection.h"

#include <gtest/gtest.h>

#include "connections/connection_store.h"
#include "platform/user_defaults.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

TEST(Colours, HexAndHexRGB) {
  EXPECT_EQ(hex(" #00c7be "), hex("00C7BE"));
  EXPECT_EQ(hexRGB(hex("00C7BE")), "00C7BE");
  EXPECT_EQ(hex("FFF"), kMintColor);
  EXPECT_EQ(hex("zzzzzz"), kMintColor);
  EXPECT_EQ(hex("12zzzz"), (RGBColor{0, 0, 0x12 / 255.0, 1}));  // scans the leading digits
  EXPECT_EQ(hexRGB(hex("FFF")), "00C7BE");
  EXPECT_EQ(hexRGB({1, 0, 0, 1}), "FF0000");
  EXPECT_EQ(hexRGB({0.5, 0.5, 0.5, 1}), "808080");
}

TEST(SourceKind, CatalogueAndAvailability) {
  EXPECT_EQ(uniqueSubscriptions({SourceKind::gjc, SourceKind::claudeCode, SourceKind::codex,
                                 SourceKind::codex}),
            (std::vector<Subscription>{{"Claude Max", 200}, {"ChatGPT Pro", 200}}));
  for (SourceKind k : kAllSourceKinds) EXPECT_EQ(sourceKindFromRaw(rawValue(k)), k);
  EXPECT_FALSE(sourceKindFromRaw("ClaudeCode"));

  test::TempDir home;
  EXPECT_FALSE(isAvailable(SourceKind::cursor, home.path()));
  home.write(".config/Cursor/User/globalStorage/state.vscdb", "");
  EXPECT_TRUE(isAvailable(SourceKind::cursor, home.path()));
  EXPECT_FALSE(isAvailable(SourceKind::grok, home.path()));
  home.write(".grok/sessions/a.json", "");
  EXPECT_TRUE(isAvailable(SourceKind::grok, home.path()));
}

TEST(ConnectionStore, ReadsLenientlyAndSkipsOnlyTheBadEntry) {
  test::TempDir home;
  home.write(".config/Brimvale/defaults.json", R"({"aiConnections":[
    {"id":"A","source":"codex","name":"Codex","colorHex":"FF0000","metricKey":"week"},
    {"id":"B","source":"notATool","name":"?","colorHex":"FF0000","metricKey":"week"},
    {"id":"C","source":"grok","name":"Grok","colorHex":"00FF00","metricKey":"x","iconKey":"rainbow"},
    {"id":"D","source":"gemini"}
  ], "menuBarUnit":"cost"})");
  UserDefaults defaults = UserDefaults::forHome(home.path());
  auto list = ConnectionStore(defaults).load();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].id, "A");
  EXPECT_EQ(list[0].iconKey, "app");
  EXPECT_EQ(list[1].iconKey, "rainbow");
  EXPECT_EQ(list[1].icon(), IconStyle::app);
  EXPECT_EQ(list[1].metric(), MetricKind::session());

  // Saving keeps the other keys of the defaults file.
  ConnectionStore(defaults).save(list);
  UserDefaults reread = UserDefaults::forHome(home.path());
  EXPECT_EQ(reread.string("menuBarUnit", "percent"), "cost");
  EXPECT_EQ(ConnectionStore(reread).load(), list);

  home.write(".config/Brimvale/defaults.json", "{not json");
  UserDefaults broken = UserDefaults::forHome(home.path());
  EXPECT_TRUE(ConnectionStore(broken).load().empty());
  EXPECT_EQ(broken.string("menuBarUnit", "percent"), "percent");
  EXPECT_FALSE(broken.boolean("autoUpdate", false));
}

}  // namespace
}  // namespace brimvale
