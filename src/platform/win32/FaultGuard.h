#pragma once

#include "dsp/OVPlugIns.h"

// Catches hardware exceptions raised inside calls into plug-ins. MinGW has no __try, so:
//  - Call keeps a resume point (__builtin_setjmp) in a frame on its own stack, which a
//    thread-local slot points to for the length of the call, and marks the frame armed while
//    the plug-in runs.
//  - A vectored exception handler that sees a hardware fault (access violation, illegal
//    instruction, division by zero, stack overflow, unmasked floating-point trap...) on a thread
//    whose frame is armed disarms the frame and resumes the thread in a landing function, on a
//    small stack area reserved inside Call's frame (so that even a stack overflow has room to
//    land). The landing function jumps back to the resume point (__builtin_longjmp restores the
//    stack and frame pointers; the function holding the resume point saves every callee-saved
//    register in its prologue) and Call returns false. The plug-in's frames are abandoned, not
//    unwound.
//  - On x86 the chain of exception registrations (fs:[0]) is set back to what it was before the
//    call: the abandoned frames may have registered handlers. After a stack overflow the stack's
//    guard page is put back.
// Any other exception, and any fault outside a guarded call, goes its usual way.
// Limits: the handler runs before the plug-in's own handlers, so a fault that the plug-in would
// have handled itself still ends the call; a plug-in that faults while holding a lock of the
// runtime or the system leaves that lock held.
class TFaultGuard : public TPlugInGuard {
 public:
  TFaultGuard();
  ~TFaultGuard() override;
  TFaultGuard(const TFaultGuard&) = delete;
  TFaultGuard& operator=(const TFaultGuard&) = delete;

  bool Call(void (*call)(void* context), void* context) override;

 private:
  void* Handler = nullptr;  // the registration of the vectored handler
};
