// The fault guard on its own: hardware faults inside a guarded call come back as a result, and
// the caller's state survives the jump back.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <thread>

#include "platform/win32/FaultGuard.h"

namespace {

int* volatile NullTarget = nullptr;
volatile int One = 1;
volatile int Zero = 0;

void WriteNull(void*) {
  *NullTarget = 1;
}

void DivideByZero(void* context) {
  *static_cast<int*>(context) = One / Zero;
}

void IllegalInstruction(void*) {
  asm volatile("ud2");
}

volatile bool Deeper = true;

void Overflow(void* context) {
  volatile char page[4096];
  page[0] = 1;
  if (Deeper) Overflow(context);
  page[1] = page[0];
}

void Add(void* context) {
  ++*static_cast<int*>(context);
}

TEST(FaultGuard, CompletedCallsReturnTrue) {
  TFaultGuard guard;
  int n = 0;
  EXPECT_TRUE(guard.Call(&Add, &n));
  EXPECT_TRUE(guard.Call(&Add, &n));
  EXPECT_EQ(n, 2);
}

TEST(FaultGuard, HardwareFaultsEndTheCallAndTheGuardStaysArmed) {
  TFaultGuard guard;
  int out = 0;
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(guard.Call(&WriteNull, nullptr));
    EXPECT_FALSE(guard.Call(&DivideByZero, &out));
    EXPECT_FALSE(guard.Call(&IllegalInstruction, nullptr));
    int n = 0;
    EXPECT_TRUE(guard.Call(&Add, &n));
    EXPECT_EQ(n, 1);
  }
}

TEST(FaultGuard, StackOverflowIsCaughtAndTheStackStaysUsable) {
  TFaultGuard guard;
  // On a thread of its own, so that a failure cannot take the test program's stack with it.
  bool first = true, second = true, after = false;
  std::thread t([&] {
    first = guard.Call(&Overflow, nullptr);
    second = guard.Call(&Overflow, nullptr);
    int n = 0;
    after = guard.Call(&Add, &n) && n == 1;
  });
  t.join();
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  EXPECT_TRUE(after);
}

// Values the compiler keeps in callee-saved registers across the calls (general and, on x64,
// xmm6-xmm15) must be intact after every abandoned call.
TEST(FaultGuard, CallerStateSurvivesAbandonedCalls) {
  TFaultGuard guard;
  uint64_t a = 1, b = 2, c = 3, d = 5, e = 7;
  double x = 0.5, y = 1.25, z = 2.0, w = 3.5;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_FALSE(guard.Call(&WriteNull, nullptr));
    a = a * 3 + b;
    b ^= c + i;
    c += d * e;
    d = d * 7 + 1;
    e += a >> 3;
    x = x * 0.999 + y;
    y = y * 0.5 + z;
    z = z + w * 0.001;
    w = w * 1.0001;
  }
  uint64_t ea = 1, eb = 2, ec = 3, ed = 5, ee = 7;
  double ex = 0.5, ey = 1.25, ez = 2.0, ew = 3.5;
  for (int i = 0; i < 1000; ++i) {
    ea = ea * 3 + eb;
    eb ^= ec + i;
    ec += ed * ee;
    ed = ed * 7 + 1;
    ee += ea >> 3;
    ex = ex * 0.999 + ey;
    ey = ey * 0.5 + ez;
    ez = ez + ew * 0.001;
    ew = ew * 1.0001;
  }
  EXPECT_EQ(a, ea);
  EXPECT_EQ(b, eb);
  EXPECT_EQ(c, ec);
  EXPECT_EQ(d, ed);
  EXPECT_EQ(e, ee);
  EXPECT_EQ(x, ex);
  EXPECT_EQ(y, ey);
  EXPECT_EQ(z, ez);
  EXPECT_EQ(w, ew);
}

// Other exceptions pass through the guard to whoever handles them.
TEST(FaultGuard, SoftwareExceptionsAreNotTaken) {
  TFaultGuard guard;
  bool caught = false;
  try {
    guard.Call([](void*) { throw 42; }, nullptr);
  } catch (int) {
    caught = true;
  }
  EXPECT_TRUE(caught);
  // The guard is not left pointing at the abandoned call.
  EXPECT_FALSE(guard.Call(&WriteNull, nullptr));
}

}  // namespace
