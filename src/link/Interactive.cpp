#include "link/Interactive.h"

TInteractiveMode::TInteractiveMode(TWinMSG& transport, TInteractiveTarget& target,
                                   TPostToMainLoop post)
    : Transport(transport),
      Target(target),
      PostToMain(std::move(post)),
      State(std::make_shared<TShared>()) {
  State->Target = &target;
}

size_t TInteractiveMode::WaitingCommands() const {
  return State->Waiting;
}

intptr_t TInteractiveMode::ReceiveCMD(TWnd wParam, intptr_t lParam) {
  if (!Target.SourceMode()) return 0;
  // Code and parameter fill 31 bits; anything else is not this protocol's message.
  if (lParam < 0 || lParam > 0x7FFFFFFF) return 0;
  uint16_t code = 0;
  uint16_t parameter = 0;
  if (Transport.HandleMessage(wParam, static_cast<uint32_t>(lParam), code, parameter)) {
    if (parameter == ctlHello)
      Transport.SendCommand(wParam, Target.SilenceFlag() ? ntfSilence : ntfSound, 0);
    else if (parameter == ctlQueryId)
      return static_cast<intptr_t>(Target.PID());
    return 0;
  }
  switch (code) {
    case cmdPlay:
    case cmdStop:
    case cmdFadeIn:
    case cmdFadeOut:
    case cmdVolume:
      Post(code, parameter);
      break;
    default:
      break;
  }
  return 0;
}

void TInteractiveMode::Post(uint16_t code, uint16_t parameter) {
  if (State->Waiting >= MaxWaitingCommands) {
    ++Dropped;
    return;
  }
  ++State->Waiting;
  std::weak_ptr<TShared> weak = State;
  PostToMain([weak, code, parameter] {
    const auto state = weak.lock();
    if (!state) return;
    --state->Waiting;
    // Interactive mode may have been switched off since the command came.
    if (state->Target->SourceMode()) Execute(*state->Target, code, parameter);
  });
}

void TInteractiveMode::Execute(TInteractiveTarget& target, uint16_t code, uint16_t parameter) {
  switch (code) {
    case cmdPlay:
      target.RunPlay(parameter == cmdPlayWithFade);
      break;
    case cmdStop:
      target.StopPlay(parameter == cmdStopWithFade);
      break;
    case cmdFadeIn:
      target.FadeIn();
      break;
    case cmdFadeOut:
      target.FadeOut();
      break;
    case cmdVolume:
      target.SetInsideVolume(parameter);
      break;
    default:
      break;
  }
}
