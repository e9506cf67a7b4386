// libFuzzer entry: any bytes as the INI file, loaded and saved under both decimal separators.
// Built by scripts/fuzz.sh with clang's -fsanitize=fuzzer,address,undefined.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/SettingsOracle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (char separator : {'.', ','}) {
    const std::string bad = settings_oracle::Check(text, separator);
    if (!bad.empty()) {
      std::fprintf(stderr, "settings oracle (separator '%c'): %s\n", separator, bad.c_str());
      std::abort();
    }
  }
  return 0;
}
