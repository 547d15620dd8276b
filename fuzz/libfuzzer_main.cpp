// The libFuzzer side of one target: FUZZ_ENTRY names its entry point.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FUZZ_ENTRY(data, size);
}
