#include <malloc.h>

#include <algorithm>
#include <cstdio>

#include "MainFixture.h"
#include "link/Protocol.h"

// A relay left running for weeks must hold the same memory on the last day as on the first: every
// restart and every controlling program that comes and goes gives back what it took. Measured on
// glibc's own count of bytes in use, after a warm-up that fills what is bounded (pools, the send
// ring's slots, lists at their longest).

class HeapFlatTest : public MainFixture {
 protected:
  // Freed chunks still cached by the allocator count as in use until trimmed.
  static double HeapInUse() {
    malloc_trim(0);
    return static_cast<double>(mallinfo2().uordblks);
  }
  // What the fakes themselves keep of every run (sends, stream blocks, notifications).
  void ForgetRecorded() {
    Stream.Blocks = {};
    Stream.Rates = {};
    Notifier.Codes = {};
    Desktop.Sent = {};
  }
  // The growth per round of `round` over `rounds` rounds after `warmUp` rounds.
  template <typename F>
  double GrowthPerRound(int warmUp, int rounds, F round) {
    for (int i = 0; i < warmUp; ++i) round(i);
    const double before = HeapInUse();
    for (int i = warmUp; i < warmUp + rounds; ++i) round(i);
    const double grown = HeapInUse() - before;
    std::printf("measured: heap in use %+.0f bytes over %d rounds (%+.1f bytes each)\n", grown,
                rounds, grown / rounds);
    return grown / rounds;
  }
};

TEST_F(HeapFlatTest, HundredsOfReplugsKeepTheHeapFlat) {
  if (Sanitized) GTEST_SKIP() << "heap in use is glibc's figure";
  // Every restart sizes pools, opens devices, starts a relay thread and notifies. (The event log
  // is off: its files are memory here.)
  Ini.Set("Auto", "1");
  Ini.Set("Wait", "600");
  Create();
  RunUntilStatus("Online", 2000);
  const double perReplug = GrowthPerRound(200, 300, [this](int i) {
    const TWaveSide side = i % 3 == 0 ? TWaveSide::Output : TWaveSide::Input;
    Sim.Unplug(side, 0, TSimUnplug::Silent);
    Run(1500 + 100 * static_cast<uint64_t>(i % 5));
    Sim.Plug(side, 0);
    RunUntilStatus("Online", 5000);
    Run(500);
    ForgetRecorded();
  });
  // Measured: not a byte. Eight bytes kept per restart would fail.
  EXPECT_LT(perReplug * 300, 2048.0);
}

TEST_F(HeapFlatTest, ControllingProgramsThatComeAndGoKeepTheHeapFlat) {
  if (Sanitized) GTEST_SKIP() << "heap in use is glibc's figure";
  // The window's own peer link and stream, on the fake desktop. (The event log is off here as
  // above: its files would grow by the lines about each program.)
  Services.Notifier = nullptr;
  Services.Stream = nullptr;
  Ini.Set("SourceMode", "1");
  Ini.Set("PID", "3");
  Ini.Set("Send", "1");
  Create();
  // A program that stays all along starts the relay.
  Desktop.Add(0x100, "TCtl");
  PeerMessage(0x100, ctlCode, ctlHello);
  PeerMessage(0x100, cmdPlay, 0);
  RunUntilStatus("Online", 2000);
  // Each round a new program (a new window) announces itself, takes the stream, sends a command
  // and then withdraws, closes its window or hangs until it is dropped.
  const double perPeer = GrowthPerRound(200, 300, [this](int i) {
    const TWnd w = 0x10000 + static_cast<TWnd>(i) * 4;
    Desktop.Add(w, "TCtl");
    PeerMessage(w, ctlCode, ctlHello);
    Run(200);
    PeerMessage(w, cmdVolume, static_cast<uint16_t>(40 + i % 60));
    Run(100);
    switch (i % 3) {
      case 0:
        PeerMessage(w, ctlCode, ctlBye);
        break;
      case 1:
        Desktop.Windows.erase(w);
        break;
      default:
        Desktop.Windows[w].Hung = true;
        break;
    }
    Run(1000);
    EXPECT_TRUE(std::any_of(Desktop.Sent.begin(), Desktop.Sent.end(),
                            [w](const auto& s) { return s.To == w && s.CopyData; }));
    Desktop.Windows.erase(w);
    ForgetRecorded();
  });
  // Measured: not a byte.
  EXPECT_LT(perPeer * 300, 2048.0);
}
