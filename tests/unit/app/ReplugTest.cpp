#include <algorithm>
#include <cstdio>

#include "MainFixture.h"

// A device that goes away without a word (a sound server's sink unloaded: it opens, but nothing
// ever comes back) and returns: how soon the relay is online again.

class ReplugTest : public MainFixture {
 protected:
  void StartOnline() {
    Ini.Set("Auto", "1");
    Ini.Set("Wait", "600");
    Create();
    RunUntilStatus("Online", 2000);
    Run(1000);
  }

  // Unplugs the device silently for awayMs, plugs it back and returns how long "Online" took.
  uint64_t Replug(TWaveSide side, int32_t id, uint64_t awayMs) {
    Sim.Unplug(side, id, TSimUnplug::Silent);
    Run(awayMs);
    EXPECT_EQ(Form->LabStatus.Caption(), "WAIT") << "away for " << awayMs << " ms";
    Sim.Plug(side, id);
    const uint64_t back = RunUntilStatus("Online", 5000);
    Run(500);
    return back;
  }
};

TEST_F(ReplugTest, ADeviceThatComesBackIsOnlineWithinHalfASecondPlusTheBuffer) {
  StartOnline();
  // Away for times that meet every phase of the tries made meanwhile.
  for (TWaveSide side : {TWaveSide::Input, TWaveSide::Output}) {
    uint64_t worst = 0;
    for (uint64_t away = 1500; away < 6000; away += 370) {
      const uint64_t back = Replug(side, 0, away);
      worst = std::max(worst, back);
    }
    std::printf("measured: %s back online after at most %llu ms\n",
                side == TWaveSide::Input ? "input" : "output",
                static_cast<unsigned long long>(worst));
    // A try gives a device that started within 10 ms at most 400 ms; then the next poll opens
    // it, and the prefill waits for the buffer (100 ms).
    EXPECT_LE(worst, 700u);
  }
}

TEST_F(ReplugTest, ADeviceSlowToStartIsGivenTheTimeItTookBefore) {
  // Every recorded block comes 600 ms after it was filled: a short first-block limit alone
  // would give up on this device at every try.
  Sim.SetLatency(TWaveSide::Input, Input, 600);
  StartOnline();
  const uint64_t back = Replug(TWaveSide::Input, Input, 3000);
  EXPECT_LE(back, 2000u);
  Run(5000);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");
}

TEST_F(ReplugTest, APlayRequestGivesTheFirstBlockTheWholeStallLimit) {
  // 900 ms to start: within the stall limit (1.1 s), past the retries' shortest limit.
  Sim.SetLatency(TWaveSide::Input, Input, 900);
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 2000);
  EXPECT_EQ(Form->Path.PendingError, 0u);
  EXPECT_EQ(std::count(Notifier.Codes.begin(), Notifier.Codes.end(), ntfOnline), 1);
}
