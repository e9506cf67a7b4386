#include "util/Clock.h"

#include <chrono>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
// timeGetTime, after the base types.
#include <mmsystem.h>
#endif

namespace {

constexpr double MsPerDay = 86400000.0;

class TSystemClock : public TClock {
 public:
  uint64_t TickCount64() override {
#ifdef _WIN32
    return GetTickCount64();
#else
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
#endif
  }

  double WallNow() override {
#ifdef _WIN32
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<double>(v.QuadPart / 10000) / MsPerDay;
#else
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    return (static_cast<double>(ms) + local.tm_gmtoff * 1000.0) / MsPerDay;
#endif
  }

  uint32_t StampMs() override {
#ifdef _WIN32
    return timeGetTime();
#else
    return static_cast<uint32_t>(TickCount64());
#endif
  }
};

}  // namespace

TClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

uint64_t TickCount64() {
  return SystemClock().TickCount64();
}

uint64_t TManualClock::TickCount64() {
  std::lock_guard<std::mutex> g(Lock);
  return Tick;
}

uint32_t TManualClock::StampMs() {
  return static_cast<uint32_t>(TickCount64());
}

double TManualClock::WallNow() {
  std::lock_guard<std::mutex> g(Lock);
  return Wall;
}

void TManualClock::Advance(uint64_t ms) {
  std::lock_guard<std::mutex> g(Lock);
  Tick += ms;
  Wall += static_cast<double>(ms) / MsPerDay;
}

void TManualClock::SetTick(uint64_t ms) {
  std::lock_guard<std::mutex> g(Lock);
  Tick = ms;
}

void TManualClock::ShiftWall(int64_t ms) {
  std::lock_guard<std::mutex> g(Lock);
  Wall += static_cast<double>(ms) / MsPerDay;
}

uint64_t TTickWrap::Read(uint32_t tick) {
  std::lock_guard<std::mutex> g(Lock);
  if (tick < LastTick) ++WrapCount;
  LastTick = tick;
  return (static_cast<uint64_t>(WrapCount) << 32) + tick;
}
