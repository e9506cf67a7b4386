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
  EXCEPTION_REGISTRATION_RECORD* Registrations;
#endif
};

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
  frame.Outer = static_cast<TGuardFrame*>(TlsGetValue(FrameSlot()));
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
  frame.Registrations = reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ExceptionList;
#endif
  TlsSetValue(FrameSlot(), &frame);
  if (__builtin_setjmp(frame.Jump) != 0) {
#if defined(__i386__)
    reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ExceptionList = frame.Registrations;
#endif
    if (frame.Code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
    TlsSetValue(FrameSlot(), frame.Outer);
    return false;
  }
  frame.Armed = true;
  call(context);
  frame.Armed = false;
  TlsSetValue(FrameSlot(), frame.Outer);
  return true;
}
