#pragma once

#include <cstdint>
#include <mutex>

// Time sources behind one seam: the program reads the platform's clocks, tests drive a manual one.
class TClock {
 public:
  virtual ~TClock() = default;
  // Monotonic milliseconds; never decreases, safe to call from any thread.
  virtual uint64_t TickCount64() = 0;
  // Local wall-clock time in days (with fraction); may jump when the user sets the clock.
  virtual double WallNow() = 0;
  // Milliseconds that may be read inside a wave device's done callback (timeGetTime on Windows,
  // one of the few calls the platform allows there); wraps every 49.7 days, so only differences
  // of two readings mean anything.
  virtual uint32_t StampMs() = 0;
};

// The platform's clocks: GetTickCount64 and the local time on Windows, steady/system clock
// elsewhere.
TClock& SystemClock();

// Shorthand for SystemClock().TickCount64().
uint64_t TickCount64();

// A clock that moves only when told to. Both readings move together unless set apart.
class TManualClock : public TClock {
 public:
  uint64_t TickCount64() override;
  double WallNow() override;
  // The tick, cut to 32 bits.
  uint32_t StampMs() override;
  void Advance(uint64_t ms);
  void SetTick(uint64_t ms);
  // Moves only the wall clock (the user setting the clock), by milliseconds.
  void ShiftWall(int64_t ms);

 private:
  std::mutex Lock;
  uint64_t Tick = 1000;
  double Wall = 46000.0;  // an arbitrary day in 2025
};

// Extends a 32-bit millisecond counter that wraps every 49.7 days to 64 bits.
// The read-compare-store is locked so two threads cannot count one wrap twice.
class TTickWrap {
 public:
  uint64_t Read(uint32_t tick);

 private:
  std::mutex Lock;
  uint32_t LastTick = 0;
  uint32_t WrapCount = 0;
};
