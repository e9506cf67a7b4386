// Counts heap allocations made on the relay thread while a session runs: there must be none.
// The operators below replace the program's own, so this test has a binary of its own.

#include <atomic>
#include <cstdlib>
#include <new>

#include "unit/app/MainFixture.h"

namespace {

thread_local bool Counting = false;
std::atomic<size_t> Allocations{0};

void* Allocate(size_t size) {
  if (Counting) Allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

// The simulated devices stand in for the platform's driver: what they allocate is not ours.
class TUncountedWave : public TWaveApi {
 public:
  explicit TUncountedWave(TWaveApi& inner) : Inner(inner) {}

#define KESTRUNE_PASS(call, ...)              \
  const bool was = Counting;                  \
  Counting = false;                           \
  const uint32_t r = Inner.call(__VA_ARGS__); \
  Counting = was;                             \
  return r;

  uint32_t InGetNumDevs() override{KESTRUNE_PASS(InGetNumDevs)} uint32_t
      InGetDevCaps(uint32_t id,
                   TWaveCaps& caps) override{KESTRUNE_PASS(InGetDevCaps, id, caps)} uint32_t
      InOpen(TWaveRawHandle* h, uint32_t id, const TWaveFormatEx& f, TWaveDoneProc cb,
             uintptr_t inst,
             uint32_t flags) override{KESTRUNE_PASS(InOpen, h, id, f, cb, inst, flags)} uint32_t
      InPrepareHeader(TWaveRawHandle h,
                      TWaveHdr* b) override{KESTRUNE_PASS(InPrepareHeader, h, b)} uint32_t
      InUnprepareHeader(TWaveRawHandle h,
                        TWaveHdr* b) override{KESTRUNE_PASS(InUnprepareHeader, h, b)} uint32_t
      InAddBuffer(TWaveRawHandle h, TWaveHdr* b) override{KESTRUNE_PASS(InAddBuffer, h, b)} uint32_t
      InStart(TWaveRawHandle h) override{KESTRUNE_PASS(InStart, h)} uint32_t
      InStop(TWaveRawHandle h) override{KESTRUNE_PASS(InStop, h)} uint32_t
      InReset(TWaveRawHandle h) override{KESTRUNE_PASS(InReset, h)} uint32_t
      InClose(TWaveRawHandle h) override{KESTRUNE_PASS(InClose, h)} uint32_t
      OutGetNumDevs() override{KESTRUNE_PASS(OutGetNumDevs)} uint32_t
      OutGetDevCaps(uint32_t id,
                    TWaveCaps& caps) override{KESTRUNE_PASS(OutGetDevCaps, id, caps)} uint32_t
      OutOpen(TWaveRawHandle* h, uint32_t id, const TWaveFormatEx& f, TWaveDoneProc cb,
              uintptr_t inst,
              uint32_t flags) override{KESTRUNE_PASS(OutOpen, h, id, f, cb, inst, flags)} uint32_t
      OutPrepareHeader(TWaveRawHandle h,
                       TWaveHdr* b) override{KESTRUNE_PASS(OutPrepareHeader, h, b)} uint32_t
      OutUnprepareHeader(TWaveRawHandle h,
                         TWaveHdr* b) override{KESTRUNE_PASS(OutUnprepareHeader, h, b)} uint32_t
      OutWrite(TWaveRawHandle h, TWaveHdr* b) override{KESTRUNE_PASS(OutWrite, h, b)} uint32_t
      OutReset(TWaveRawHandle h) override{KESTRUNE_PASS(OutReset, h)} uint32_t
      OutClose(TWaveRawHandle h) override {
    KESTRUNE_PASS(OutClose, h)
  }
#undef KESTRUNE_PASS

 private:
  TWaveApi& Inner;
};

// A stream tap that keeps nothing, as a send queue with its slots sized keeps nothing new.
struct TCountingStream : TStreamSink {
  uint64_t Bytes = 0;
  void AddSendData(const int16_t*, int32_t size, int32_t) override { Bytes += size; }
};

}  // namespace

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (Counting) Allocations.fetch_add(1);
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  if (Counting) Allocations.fetch_add(1);
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

class RelayAllocationTest : public MainFixture {
 protected:
  TUncountedWave Wave{Sim};
  TCountingStream Sink;
  TMainServices Counted{App, Clock,       Wave,        Window,  Dialogs, Tray,       RelayHost,
                        Ini, PlugInFiles, PlugInGuard, Desktop, Shell,   "C:\\Apps", "1.0.1.5",
                        '.', &Notifier,   &Sink,       nullptr, {}};

  // Like Run, with the relay passes counted.
  void CountedRun(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 10) {
      App.Advance(10);
      Sim.Advance(10);
      Counting = true;
      RelayHost.Pass();
      Counting = false;
    }
  }
};

TEST_F(RelayAllocationTest, ARunningSessionAllocatesNothingOnTheRelayThread) {
  // The counter itself sees an allocation.
  Counting = true;
  auto probe = std::make_unique<int>(1);
  Counting = false;
  ASSERT_EQ(Allocations.load(), 1u);
  for (int send : {1, 3}) {
    SCOPED_TRACE(send);
    // An output that runs fast keeps the stabilizer correcting; the volume moves throughout.
    const std::string name = "Fast Speakers " + std::to_string(send);
    Sim.AddOutput(TSimDeviceSpec(name, TSimDeviceSpec::AllFormats, 3000));
    Ini.Set("Destination", name);
    Ini.Set("Auto", "1");
    Ini.Set("Send", std::to_string(send));
    Ini.Set("FadeIn", "1");
    Form = std::make_unique<TOV_Kestrune>(Counted);
    App.Attach(Form->TimerWork);
    App.Attach(Form->FaderTick);
    Form->FormCreate();
    RunUntilStatus("Online", 2000);
    Run(3000);

    Allocations = 0;
    const uint64_t before = Sink.Bytes;
    for (int i = 0; i < 10; ++i) {
      Form->sVolume.SetValue(100 + 10 * i);
      CountedRun(10000);  // 1,000 passes
    }
    EXPECT_EQ(Allocations.load(), 0u);
    EXPECT_GT(Sink.Bytes - before, 17000000u) << "audio went through the taps";
    EXPECT_NE(Form->Stab.StabValue.load(), 0) << "the stabilizer was correcting";
    EXPECT_EQ(Form->LabStatus.Caption(), "Online");
    Form->FormClose();
    Form.reset();
  }
}

TEST_F(RelayAllocationTest, TheSmoothStabilizerAllocatesNothingOnTheRelayThreadEither) {
  // Counted from the session's first pass: the start trim and the filter's first blocks too.
  Sim.AddOutput(TSimDeviceSpec("Fast Speakers", TSimDeviceSpec::AllFormats, 3000));
  Ini.Set("Destination", "Fast Speakers");
  Ini.Set("Auto", "1");
  Ini.Set("Send", "1");
  Ini.Set("StabMode", "1");
  Form = std::make_unique<TOV_Kestrune>(Counted);
  App.Attach(Form->TimerWork);
  App.Attach(Form->FaderTick);
  Form->FormCreate();
  Allocations = 0;
  const uint64_t before = Sink.Bytes;
  for (int i = 0; i < 6; ++i) {
    Form->sVolume.SetValue(100 + 10 * i);
    CountedRun(5000);
  }
  EXPECT_EQ(Allocations.load(), 0u);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");
  EXPECT_EQ(Form->Path.SessionStab.load(), TStabMode::Smooth);
  EXPECT_GT(Sink.Bytes - before, 4000000u) << "audio went through the taps";
  EXPECT_GT(Form->Path.CorrectionPpm(), 1000) << "the smooth stabilizer was correcting";
  Form->FormClose();
  Form.reset();
}
