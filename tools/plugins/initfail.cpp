// A module whose Init fails: the host must release the library again.
#include "Plugin.h"

namespace {

int DSP_CALL Init(TDspModule*) {
  return 1;
}

int DSP_CALL ModifySamples(TDspModule*, short*, int frames, int, int, int) {
  return frames;
}

char Description[] = "Init fails";

}  // namespace

TDspModule PluginModule{Description, nullptr,        nullptr, nullptr,
                        &Init,       &ModifySamples, nullptr, nullptr};
