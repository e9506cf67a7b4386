#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "WaveRig.h"

namespace {

struct TDelivery {
  int16_t FirstLeft;
  int32_t Size;
};

// A capture of 880-byte blocks (220 frames, 5 ms) with 31 queued, recording a frame counter.
struct TCaptureRig : TWaveRig {
  std::vector<TDelivery> Delivered;

  TCaptureRig() {
    std::vector<int16_t> ramp;
    for (int16_t i = 0; i < 20000; ++i) {
      ramp.push_back(i);
      ramp.push_back(static_cast<int16_t>(-i));
    }
    Sim.SetSignal(In, TSimSignal::FromSamples(ramp));
    Capture.OnData = [this](TWaveCapture*, const int16_t* data, int32_t size) {
      Delivered.push_back({data[0], size});
    };
    Capture.BlockSize = 880;
    Capture.SetBufferSize(26460);
  }
};

}  // namespace

TEST(WaveCapture, FirstPassQueuesTheBufferThenBlocksArriveInOrder) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);
  EXPECT_TRUE(r.Capture.Active);
  ASSERT_TRUE(r.Capture.Blocks);
  EXPECT_TRUE(r.Capture.Blocks->empty());

  r.Capture.ProcessDone();
  ASSERT_EQ(r.Capture.Blocks->size(), 31u);
  for (auto& b : *r.Capture.Blocks) EXPECT_EQ(b->Header.dwBufferLength, 880u);
  EXPECT_TRUE(r.Delivered.empty());

  r.Sim.Advance(10);  // 441 frames: two whole blocks and part of a third
  EXPECT_EQ(r.Capture.ReadyBytes(), 1760u);
  r.Capture.ProcessDone();
  ASSERT_EQ(r.Delivered.size(), 2u);
  EXPECT_EQ(r.Delivered[0].FirstLeft, 0);
  EXPECT_EQ(r.Delivered[1].FirstLeft, 220);
  EXPECT_EQ(r.Delivered[0].Size, 880);
  EXPECT_EQ(r.Capture.Blocks->size(), 31u);
  EXPECT_EQ(r.Capture.PeakLeft, 439);
  EXPECT_EQ(r.Capture.PeakRight, 438);  // -439 counts as 438

  r.Sim.Advance(1000);
  r.Capture.ProcessDone();
  // Gapless: each block starts where the one before ended.
  for (size_t i = 1; i < r.Delivered.size(); ++i) {
    ASSERT_EQ(r.Delivered[i].FirstLeft, r.Delivered[i - 1].FirstLeft + 220) << i;
  }
  EXPECT_EQ(r.Capture.Close(), 0);
  EXPECT_TRUE(r.AllReleased());
  EXPECT_TRUE(r.CaptureErrors.empty());
}

TEST(WaveCapture, ReadyBytesStopsAtTheFirstUnfinishedBlock) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);
  EXPECT_EQ(r.Capture.ReadyBytes(), 0u);
  r.Capture.ProcessDone();
  r.Sim.Advance(10);
  TWaveHdr& fourth = (*r.Capture.Blocks)[3]->Header;
  fourth.dwUser = 1;  // as if the device had finished it out of order
  fourth.dwBytesRecorded = 880;
  EXPECT_EQ(r.Capture.ReadyBytes(), 1760u);
  fourth.dwUser = 0;
  fourth.dwBytesRecorded = 0;
  r.Capture.Close();
  EXPECT_EQ(r.Capture.ReadyBytes(), 0u);
}

TEST(WaveCapture, PeaksCoverEveryBlockOfOnePass) {
  TWaveRig r;
  std::vector<int16_t> s;
  for (int16_t p : {100, 5000, 20, 10}) {
    const auto f = Frames(220, p, static_cast<int16_t>(-p));
    s.insert(s.end(), f.begin(), f.end());
  }
  r.Sim.SetSignal(r.In, TSimSignal::FromSamples(s, false));
  r.Capture.BlockSize = 880;
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Sim.Advance(15);  // three blocks
  r.Capture.ProcessDone();
  EXPECT_EQ(r.Capture.PeakLeft, 5000);
  EXPECT_EQ(r.Capture.PeakRight, 4999);
  r.Capture.ProcessDone();  // collects nothing: the peaks stay
  EXPECT_EQ(r.Capture.PeakLeft, 5000);
  r.Sim.Advance(5);
  r.Capture.ProcessDone();
  EXPECT_EQ(r.Capture.PeakLeft, 10);
  EXPECT_NEAR(r.Capture.LevelLeft(), 20 * std::log10(10 / 32768.0), 1e-9);
  r.Capture.Close();
  EXPECT_EQ(r.Capture.PeakLeft, 0);
  EXPECT_EQ(r.Capture.PeakRight, 0);
  EXPECT_EQ(r.Capture.LevelLeft(), -90.3);
  EXPECT_EQ(r.Capture.LevelRight(), -90.3);
}

TEST(WaveCapture, ANewBlockSizeAppliesToNewBlocksOnly) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Capture.BlockSize = 1760;
  r.Capture.SetBufferSize(26460);  // 16: fewer than queued, nothing is removed
  r.Sim.Advance(10);
  r.Capture.ProcessDone();
  EXPECT_EQ(r.Capture.Blocks->size(), 29u);
  r.Capture.SetBufferSize(2 * 26460);
  r.Capture.ProcessDone();
  ASSERT_EQ(r.Capture.Blocks->size(), 31u);
  EXPECT_EQ(r.Capture.Blocks->front()->Header.dwBufferLength, 880u);
  EXPECT_EQ(r.Capture.Blocks->back()->Header.dwBufferLength, 1760u);
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveCapture, ANestedPassReturnsAtOnce) {
  TCaptureRig r;
  size_t nested = 0;
  r.Capture.OnData = [&](TWaveCapture* sender, const int16_t*, int32_t) {
    ++nested;
    const size_t before = nested;
    sender->ProcessDone();
    EXPECT_EQ(nested, before);
  };
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Sim.Advance(10);
  r.Capture.ProcessDone();
  EXPECT_EQ(nested, 2u);
  EXPECT_FALSE(r.Capture.Busy);
  r.Capture.Close();
}

TEST(WaveCapture, CloseReleasesWithoutDeliveringAndTwiceIsHarmless) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Sim.Advance(30);
  EXPECT_EQ(r.Capture.Close(), 0);
  EXPECT_FALSE(r.Capture.Active);
  EXPECT_FALSE(r.Capture.Blocks);
  EXPECT_TRUE(r.Delivered.empty());
  EXPECT_TRUE(r.AllReleased());
  r.Capture.ProcessDone();
  EXPECT_TRUE(r.Delivered.empty());
  EXPECT_EQ(r.Capture.Close(), 0);
  // The settings survive and the device opens again.
  EXPECT_EQ(r.Capture.BlockSize, 880);
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  EXPECT_EQ(r.Capture.Blocks->size(), 31u);
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveCapture, OpenReportsTheFirstFailingCallAndLeavesNothingOpen) {
  TCaptureRig r;
  r.Sim.FailNext(TSimCall::InQuery, WAVERR_BADFORMAT);
  EXPECT_EQ(r.Capture.Open(), static_cast<int32_t>(WAVERR_BADFORMAT));
  EXPECT_EQ(r.Sim.CallCount(TSimCall::InOpen), 0u);
  r.Sim.FailNext(TSimCall::InOpen, MMSYSERR_ALLOCATED);
  EXPECT_EQ(r.Capture.Open(), static_cast<int32_t>(MMSYSERR_ALLOCATED));
  EXPECT_FALSE(r.Capture.Active);
  EXPECT_TRUE(r.AllReleased());

  // A failed start leaves the device open for the owner to close.
  r.Sim.FailNext(TSimCall::InStart, MMSYSERR_ERROR);
  EXPECT_EQ(r.Capture.Open(), static_cast<int32_t>(MMSYSERR_ERROR));
  EXPECT_TRUE(r.Capture.Active);
  EXPECT_EQ(r.Sim.OpenHandles(), 1);
  // Opening again while open would strand the first handle's blocks.
  EXPECT_EQ(r.Capture.Open(), static_cast<int32_t>(MMSYSERR_ALLOCATED));
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveCapture, RateTheDeviceRefusesFailsTheFormatQuery) {
  TSimWaveApi sim;
  sim.AddInput(TSimDeviceSpec("48k only", TSimDeviceSpec::AllFormats, 0, 0, {48000}));
  TWaveCapture capture(sim);
  EXPECT_EQ(capture.Open(), static_cast<int32_t>(WAVERR_BADFORMAT));
  capture.SampleRate = 48000;
  EXPECT_EQ(capture.Open(), 0);
  capture.Close();
}

TEST(WaveCapture, RefillFailuresAreReportedAndReleaseTheBlock) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);

  r.Sim.FailNext(TSimCall::InPrepare, MMSYSERR_NOMEM, 5);
  r.Capture.ProcessDone();
  EXPECT_EQ(r.CaptureErrors, std::vector<int32_t>{static_cast<int32_t>(MMSYSERR_NOMEM)});
  EXPECT_EQ(r.Capture.Blocks->size(), 5u);
  EXPECT_EQ(r.Sim.PreparedHeaders(), 5);

  // A block the device refuses must not sit on the queue forever.
  r.Sim.FailNext(TSimCall::InAddBuffer, MMSYSERR_NODRIVER, 3);
  r.Capture.ProcessDone();
  ASSERT_EQ(r.CaptureErrors.size(), 2u);
  EXPECT_EQ(r.CaptureErrors[1], static_cast<int32_t>(MMSYSERR_NODRIVER));
  EXPECT_EQ(r.Capture.Blocks->size(), 8u);
  EXPECT_EQ(r.Sim.PreparedHeaders(), 8);
  EXPECT_EQ(r.Sim.QueuedHeaders(), 8);

  r.Capture.ProcessDone();  // the queue is made whole again
  EXPECT_EQ(r.Capture.Blocks->size(), 31u);
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveCapture, AFailedUnprepareIsReportedAndTheBlockStillDelivered) {
  TCaptureRig r;
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Sim.Advance(10);
  r.Sim.FailNext(TSimCall::InUnprepare, MMSYSERR_ERROR);
  r.Capture.ProcessDone();
  EXPECT_EQ(r.CaptureErrors, std::vector<int32_t>{static_cast<int32_t>(MMSYSERR_ERROR)});
  EXPECT_EQ(r.Delivered.size(), 2u);
  r.Capture.Close();
  EXPECT_EQ(r.Sim.OpenHandles(), 0);
  EXPECT_EQ(r.Sim.QueuedHeaders(), 0);
  // The block was kept aside, not reused, and its unprepare tried again at the close.
  EXPECT_EQ(r.Sim.PreparedHeaders(), 0);
}

TEST(WaveCapture, AThrowingHandlerEndsThePassWithoutLeaking) {
  TCaptureRig r;
  int calls = 0;
  r.Capture.OnData = [&](TWaveCapture*, const int16_t*, int32_t) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  r.Sim.Advance(10);
  r.Capture.ProcessDone();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(r.Capture.Busy);
  EXPECT_EQ(r.Capture.Blocks->size(), 30u);  // the refill did not run either
  r.Capture.ProcessDone();
  EXPECT_EQ(calls, 2);
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}
