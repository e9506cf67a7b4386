#include "Plugin.h"

#include <windows.h>

namespace {

char Description[] = "Kestrune test plug-in";

TDspModule* DSP_CALL GetModule(int which) {
  return which == 0 ? &PluginModule : nullptr;
}

TDspHeader Header{0x20, Description, &GetModule};

}  // namespace

extern "C" __declspec(dllexport) TDspHeader* DSP_CALL winampDSPGetHeader2(HWND) {
  return &Header;
}
