#include <gtest/gtest.h>

#include "MemoryStores.h"
#include "settings/FSettings.h"

namespace {

const char* const Exe = "C:\\Apps\\Relay.exe";

TEST(Autostart, EnableTakesTheFirstFreeName) {
  TMemoryRunKeys keys;
  keys.User.Values = {{"OVKestrune", "D:\\Other\\Relay.exe"},
                      {"ovkestrune1", "7", false},
                      {"Tool", "C:\\tool.exe"}};
  EXPECT_FALSE(IsAutostart(keys, Exe));
  ASSERT_TRUE(SetAutostart(keys, Exe, true));
  ASSERT_EQ(keys.User.Values.size(), 4u);
  EXPECT_EQ(keys.User.Values.back().Name, "OVKestrune2");
  EXPECT_EQ(keys.User.Values.back().Data, Exe);
  EXPECT_TRUE(IsAutostart(keys, Exe));
  EXPECT_TRUE(keys.Machine.Values.empty());
}

TEST(Autostart, EnableWhenAnyNameAlreadyPointsHereChangesNothing) {
  TMemoryRunKeys keys;
  keys.User.Values = {{"Mine", "c:\\apps\\relay.EXE"}};
  ASSERT_TRUE(SetAutostart(keys, Exe, true));
  ASSERT_EQ(keys.User.Values.size(), 1u);
  EXPECT_EQ(keys.User.Values[0].Name, "Mine");
}

TEST(Autostart, DisableRemovesEveryUserValueButNoMachineValue) {
  TMemoryRunKeys keys;
  keys.User.Values = {{"OVKestrune", Exe},
                      {"Other", "C:\\other.exe"},
                      {"OVKestrune1", "c:\\APPS\\relay.exe"},
                      {"Binary", "x", false}};
  keys.Machine.Values = {{"OVKestrune", Exe}};
  ASSERT_TRUE(SetAutostart(keys, Exe, false));
  ASSERT_EQ(keys.User.Values.size(), 2u);
  EXPECT_EQ(keys.User.Values[0].Name, "Other");
  EXPECT_EQ(keys.User.Values[1].Name, "Binary");
  EXPECT_EQ(keys.Machine.Values.size(), 1u);
  EXPECT_TRUE(IsAutostart(keys, Exe));
  keys.MachineOpens = false;
  EXPECT_FALSE(IsAutostart(keys, Exe));
}

TEST(Autostart, UnopenableOrReadOnlyUserKeyIsReported) {
  TMemoryRunKeys keys;
  keys.UserOpens = false;
  EXPECT_FALSE(SetAutostart(keys, Exe, true));
  EXPECT_FALSE(IsAutostart(keys, Exe));

  keys.UserOpens = true;
  keys.User.FailWrites = true;
  EXPECT_FALSE(SetAutostart(keys, Exe, true));
  keys.User.Values = {{"OVKestrune", Exe}};
  EXPECT_FALSE(SetAutostart(keys, Exe, false));
  EXPECT_TRUE(IsAutostart(keys, Exe));
}

}  // namespace
