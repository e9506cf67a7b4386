#pragma once

#include <cstdint>

// Calls of malloc, calloc and realloc made by code linked into this test program, counted
// through the linker's --wrap (the resampler library is linked statically, so its own calls are
// counted; operator new inside the shared C++ library is not).
uint64_t CAllocations();
