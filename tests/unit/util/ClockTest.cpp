#include <gtest/gtest.h>

#include "ui/Headless.h"
#include "util/Clock.h"
#include "util/Helpers.h"

TEST(TickWrap, CountsOneWrapAcrossTheBoundaryAndRepeatsWithinAMillisecond) {
  TTickWrap w;
  EXPECT_EQ(w.Read(4294967290u), 4294967290ull);
  EXPECT_EQ(w.Read(5), 4294967301ull);
  EXPECT_EQ(w.Read(5), 4294967301ull);
  EXPECT_EQ(w.Read(6), 4294967302ull);
}

TEST(SystemClock, TicksNeverGoBack) {
  uint64_t last = TickCount64();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t t = TickCount64();
    ASSERT_GE(t, last);
    last = t;
  }
}

TEST(Helpers, AddBackslash) {
  EXPECT_EQ(AddBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(AddBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("C:/dir/"), "C:/dir/\\");
}

TEST(Helpers, UpCaseStrMapsLatinAndCyrillicOnly) {
  // "dsp_" + "абв" + "ё" + "я" + ".dll7" in Windows-1251
  const std::string in = "dsp_\xE0\xE1\xE2\xB8\xFF.dll7";
  EXPECT_EQ(UpCaseStr(in), "DSP_\xC0\xC1\xC2\xA8\xDF.DLL7");
  EXPECT_EQ(in, "dsp_\xE0\xE1\xE2\xB8\xFF.dll7");
}

TEST(Helpers, FreeBlockListEmptiesOrDestroys) {
  std::unique_ptr<TBlockList> none;
  FreeBlockList(none, true);
  EXPECT_EQ(none, nullptr);

  auto list = std::make_unique<TBlockList>();
  list->push_back(std::malloc(16));
  list->push_back(std::malloc(32));
  FreeBlockList(list, false);
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->empty());
  list->push_back(std::malloc(8));
  FreeBlockList(list, true);
  EXPECT_EQ(list, nullptr);
}

TEST(Helpers, DirExistsOnlyForDirectories) {
  EXPECT_TRUE(DirExists("."));
  EXPECT_FALSE(DirExists("/no/such/dir/anywhere"));
  EXPECT_FALSE(DirExists(__FILE__));
}

TEST(Helpers, TrimAndSameText) {
  EXPECT_EQ(TrimText("\t  Line In \r\n"), "Line In");
  EXPECT_TRUE(SameText("LINE in", "line IN"));
  EXPECT_FALSE(SameText("Line", "Line In"));
}

TEST(HeadlessApp, FiresTimersInOrderAndFollowsIntervalChanges) {
  TManualClock clock;
  THeadlessApp app(clock);
  TTimer fast("fast", 10), slow("slow", 200);
  int fastCount = 0, slowCount = 0;
  fast.OnTimer = [&] { ++fastCount; };
  slow.OnTimer = [&] {
    ++slowCount;
    slow.SetInterval(10);
  };
  app.Attach(fast);
  app.Attach(slow);
  fast.SetEnabled(true);
  slow.SetEnabled(true);
  app.Advance(100);
  EXPECT_EQ(fastCount, 10);
  EXPECT_EQ(slowCount, 0);
  app.Advance(110);
  EXPECT_EQ(slowCount, 2);  // at 200, then every 10 ms from there
  fast.SetEnabled(false);
  app.Advance(100);
  EXPECT_EQ(fastCount, 21);
}
