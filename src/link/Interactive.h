#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/WinMSG.h"

// What the main window offers to controlling programs.
class TInteractiveTarget {
 public:
  virtual ~TInteractiveTarget() = default;
  virtual void RunPlay(bool fade) = 0;
  virtual void StopPlay(bool fade) = 0;
  virtual void FadeIn() = 0;
  virtual void FadeOut() = 0;
  virtual void SetInsideVolume(int32_t v) = 0;
  // The input is silent (the last notification was ntfSilence).
  virtual bool SilenceFlag() const = 0;
  // The program ID by which controlling programs tell instances apart.
  virtual int32_t PID() const = 0;
  // Interactive mode is on: commands and control messages are handled.
  virtual bool SourceMode() const = 0;
};

// Runs a function later on the main loop, outside any send and any modal loop.
using TPostToMainLoop = std::function<void(std::function<void()>)>;

// The main window's handling of WM_WINMSG from controlling programs. Control messages are
// answered during the call (ctlHello with the silence state, ctlQueryId with the program ID);
// commands are posted to the main loop, so none changes the session inside a send.
class TInteractiveMode {
 public:
  TInteractiveMode(TWinMSG& transport, TInteractiveTarget& target, TPostToMainLoop post);
  TInteractiveMode(const TInteractiveMode&) = delete;
  TInteractiveMode& operator=(const TInteractiveMode&) = delete;

  // A received WM_WINMSG; returns the message result. Outside interactive mode nothing is
  // done and the result is 0.
  intptr_t ReceiveCMD(TWnd wParam, intptr_t lParam);
  // A received WM_COPYDATA: data does not flow to this program, so it is not read; the result
  // is 0 (FALSE, not handled).
  static intptr_t ReceiveData() { return 0; }

  // Commands waiting for the main loop are kept up to this number; more are dropped, so a
  // flood of commands cannot grow the main loop's queue.
  static constexpr size_t MaxWaitingCommands = 256;
  size_t WaitingCommands() const;
  uint64_t DroppedCommands() const { return Dropped; }

 private:
  struct TShared {
    TInteractiveTarget* Target = nullptr;
    size_t Waiting = 0;
  };
  void Post(uint16_t code, uint16_t parameter);
  static void Execute(TInteractiveTarget& target, uint16_t code, uint16_t parameter);

  TWinMSG& Transport;
  TInteractiveTarget& Target;
  TPostToMainLoop PostToMain;
  // Shared with the posted commands, which do nothing once this object is gone.
  std::shared_ptr<TShared> State;
  uint64_t Dropped = 0;
};
