#include "platform/win32/FaultGuard.h"

#include <malloc.h>
#include <windows.h>

#include <cstdint>

namespace {

// Room for the landing function to run in: it only jumps.
constexpr uintptr_t LandingBytes = 512;

struct TGuardFrame {
  void* Jump[5];  // __builtin_setjmp's buffer
  TGuardFrame* Outer;
  uintptr_t LandingStack;
  DWORD Code;
  volatile bool Armed;
#if defined(__i386__)
  void* Registrations;
#endif
};

#if defined(__i386__)
// The head of the thread's chain of exception registrations, fs:[0].
void* RegistrationChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void SetRegistrationChain(void* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}
#endif

// The thread-local slot that points to the innermost guarded call's frame. Allocated once for
// the process; the index itself never changes.
DWORD FrameSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

bool IsHardwareFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case STATUS_FLOAT_MULTIPLE_FAULTS:
    case STATUS_FLOAT_MULTIPLE_TRAPS:
      return true;
    default:
      return false;
  }
}

// Entered in place of the faulting instruction, on the frame's landing stack.
[[noreturn]] __attribute__((noinline)) void Land(TGuardFrame* frame) {
  __builtin_longjmp(frame->Jump, 1);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  // TlsGetValue clears the last error, which the code that raised the exception may still need.
  const DWORD lastError = GetLastError();
  auto* frame = static_cast<TGuardFrame*>(TlsGetValue(FrameSlot()));
  SetLastError(lastError);
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (!frame || !frame->Armed || !IsHardwareFault(code)) return EXCEPTION_CONTINUE_SEARCH;
  // A second fault before the jump back goes its usual way instead of looping.
  frame->Armed = false;
  frame->Code = code;
  CONTEXT& context = *info->ContextRecord;
#if defined(__x86_64__)
  context.Rip = reinterpret_cast<DWORD64>(&Land);
  context.Rsp = frame->LandingStack;
  context.Rcx = reinterpret_cast<DWORD64>(frame);
#else
  context.Eip = reinterpret_cast<DWORD>(&Land);
  context.Esp = frame->LandingStack;
#endif
  // Compiled code expects the direction flag clear.
  context.EFlags &= ~DWORD{0x400};
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Points the thread's slot at a frame for a scope, and back at the enclosing one after it, also
// when an exception leaves the call.
class TSlotScope {
 public:
  explicit TSlotScope(TGuardFrame& frame) {
    frame.Outer = static_cast<TGuardFrame*>(TlsGetValue(FrameSlot()));
    Outer = frame.Outer;
    TlsSetValue(FrameSlot(), &frame);
  }
  ~TSlotScope() { TlsSetValue(FrameSlot(), Outer); }
  TSlotScope(const TSlotScope&) = delete;
  TSlotScope& operator=(const TSlotScope&) = delete;

 private:
  TGuardFrame* Outer;
};

// The resume point: a fault in the call comes back here through Land with a non-zero result.
__attribute__((noinline)) bool RunArmed(TGuardFrame& frame, void (*call)(void*), void* context) {
  if (__builtin_setjmp(frame.Jump) != 0) {
#if defined(__i386__)
    SetRegistrationChain(frame.Registrations);
#endif
    if (frame.Code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
    return false;
  }
  frame.Armed = true;
  call(context);
  frame.Armed = false;
  return true;
}

}  // namespace

TFaultGuard::TFaultGuard() {
  // The slot exists before the handler can ask for it.
  FrameSlot();
  Handler = AddVectoredExceptionHandler(1, &OnException);
}

TFaultGuard::~TFaultGuard() {
  if (Handler) RemoveVectoredExceptionHandler(Handler);
}

bool TFaultGuard::Call(void (*call)(void* context), void* context) {
  if (!Handler || FrameSlot() == TLS_OUT_OF_INDEXES) {
    call(context);
    return true;
  }
  unsigned char landing[LandingBytes];
  TGuardFrame frame;
  frame.Code = 0;
  frame.Armed = false;
  // The landing function starts as if called: x64 with its return address slot and the 32-byte
  // home area above it, x86 with its argument above the return address.
  const uintptr_t top = (reinterpret_cast<uintptr_t>(landing) + LandingBytes - 64) & ~uintptr_t{15};
#if defined(__x86_64__)
  frame.LandingStack = top - 8;
#else
  *reinterpret_cast<TGuardFrame**>(top) = &frame;
  frame.LandingStack = top - 4;
  frame.Registrations = RegistrationChain();
#endif
  TSlotScope scope(frame);
  return RunArmed(frame, call, context);
}
