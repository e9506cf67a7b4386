// libFuzzer entry: any bytes as a run of window messages from other programs, scans, peers that
// come, go and hang, and the main loop (CommandOracle.h). Built by scripts/fuzz.sh with clang's
// -fsanitize=fuzzer,address,undefined.

#include <cstdio>
#include <cstdlib>

#include "fuzz/CommandOracle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bad = command_oracle::Check(data, size);
  if (!bad.empty()) {
    std::fprintf(stderr, "command oracle: %s\n", bad.c_str());
    std::abort();
  }
  return 0;
}
