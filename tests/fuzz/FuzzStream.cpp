// libFuzzer entry: any bytes as a run of stream blocks received from the program, checked and
// recorded (StreamOracle.h). Built by scripts/fuzz.sh with clang's
// -fsanitize=fuzzer,address,undefined.

#include <cstdio>
#include <cstdlib>

#include "fuzz/StreamOracle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bad = stream_oracle::Check(data, size);
  if (!bad.empty()) {
    std::fprintf(stderr, "stream oracle: %s\n", bad.c_str());
    std::abort();
  }
  return 0;
}
