// A stand-in module for fuzzing the host's block reader: it loads blocks with findBlk, readI4,
// readFP and endBlk in an order its input dictates, and aborts when the reader breaks its
// promises (a count out of range, an identifier from outside the table, outputs written beyond
// the count read).
#ifndef TARSEL_TESTS_FUZZ_BLOCK_DRIVER_H
#define TARSEL_TESTS_FUZZ_BLOCK_DRIVER_H

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Input: byte 0 gives the number of operations (modulo 64), the next bytes are the operations,
// the rest is the block data handed to the reader in `io_mode`.
void drive_block_reader(int io_mode, const uint8_t* input, std::size_t size);

}  // namespace fuzz

#endif
