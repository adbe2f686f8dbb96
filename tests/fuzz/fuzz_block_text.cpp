// Fuzz target: the host's block reader in text mode, driven by a table-driven stand-in module.
#include <cstddef>
#include <cstdint>

#include "sdk/lwio.h"
#include "tests/fuzz/block_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::drive_block_reader(LWIO_ASCII, data, size);
  return 0;
}
