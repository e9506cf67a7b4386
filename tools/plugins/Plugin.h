#pragma once

// What the test plug-ins share: Plugin.cpp exports the entry point and hands out the module
// that each plug-in defines as module 0.

#include "dsp/DspRecords.h"

extern TDspModule PluginModule;
