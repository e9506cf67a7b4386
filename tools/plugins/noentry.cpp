// A library without the plug-in entry point.
#include <windows.h>

extern "C" __declspec(dllexport) int dspNoEntry() {
  return 0;
}
