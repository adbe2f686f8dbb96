#include "tests/fuzz/block_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sdk/lwio.h"
#include "stage/block_io.h"

namespace fuzz {

namespace {

constexpr LWID id4(char a, char b, char c, char d) {
  return (static_cast<LWID>(static_cast<unsigned char>(a)) << 24) |
         (static_cast<LWID>(static_cast<unsigned char>(b)) << 16) |
         (static_cast<LWID>(static_cast<unsigned char>(c)) << 8) |
         static_cast<LWID>(static_cast<unsigned char>(d));
}

// The chain root's own table, one with nested blocks and tokens that are prefixes of others,
// and an empty one.
const LWBlockIdent options_table[] = {{0x20202020, "EndEnd"},
                                      {0x20202021, "Twist"},
                                      {0x20202022, "TwistTarget"},
                                      {0x20202023, "TwistEffect"},
                                      {0x20202024, "GoalPosition"},
                                      {0x20202025, "PluginEffect"},
                                      {0x20202026, "MixWithFk"},
                                      {0x20202027, "ExcessStretch"},
                                      {0x20202028, "PostureWeight"},
                                      {0x20202029, "ArbitraryLimit"},
                                      {0, nullptr}};
const LWBlockIdent nested_table[] = {{id4('O', 'U', 'T', 'R'), "Outer"},
                                     {id4('I', 'N', 'N', 'R'), "Inner"},
                                     {id4('T', 'w', 'i', 's'), "Twist"},
                                     {id4('T', 'w', 'i', 'T'), "TwistT"},
                                     {0, nullptr}};
const LWBlockIdent empty_table[] = {{0, nullptr}};
const LWBlockIdent* const tables[] = {options_table, nested_table, options_table, empty_table};

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "block reader broke its contract: %s\n", what);
  std::abort();
}

bool in_table(LWID id, const LWBlockIdent* table) {
  for (; table->id != 0; ++table)
    if (table->id == id) return true;
  return false;
}

// Reads up to n values into a buffer filled with a marker and checks the count and the marker
// beyond it.
template <typename T, typename Read>
void read_checked(Read read, void* reader, int n) {
  T vals[8];
  std::memset(vals, 0xA5, sizeof vals);
  const int got = read(reader, vals, n);
  if (got < 0 || got > n) broken("value count out of range");
  unsigned char marker[sizeof(T)];
  std::memset(marker, 0xA5, sizeof marker);
  for (int i = got; i < 8; ++i)
    if (std::memcmp(&vals[i], marker, sizeof(T)) != 0) broken("output written beyond the count");
}

}  // namespace

void drive_block_reader(int io_mode, const uint8_t* input, std::size_t size) {
  if (size == 0) return;
  const std::size_t ops = std::min<std::size_t>(input[0] % 64, size - 1);
  const uint8_t* op = input + 1;
  stage::Block_reader reader(
      io_mode, std::string(reinterpret_cast<const char*>(input + 1 + ops), size - 1 - ops));
  const LWLoadState* state = reader.state();
  if (state->ioMode != io_mode) broken("wrong mode");

  int depth = 0;
  bool failed = false;
  for (std::size_t i = 0; i < ops; ++i) {
    const int arg = op[i] >> 2;
    switch (op[i] & 3) {
      case 0: {
        const LWBlockIdent* table = tables[arg & 3];
        const LWID id = state->findBlk(state->readData, table);
        if (id != 0) {
          if (!in_table(id, table)) broken("identifier not in the table");
          ++depth;
          if (depth > stage::max_block_depth) broken("entered beyond the depth bound");
        }
        break;
      }
      case 1:
        read_checked<int32_t>(state->readI4, state->readData, arg & 7);
        break;
      case 2:
        read_checked<float>(state->readFP, state->readData, arg & 7);
        break;
      default:
        // A careless module may also end a block it never entered; the reader must shrug.
        if (depth > 0 || (arg & 1)) {
          state->endBlk(state->readData);
          if (depth > 0) --depth;
        }
        break;
    }
    if (failed && !reader.failed()) broken("failure flag cleared");
    failed = reader.failed();
  }

  // Then the chain root's own load loop over whatever is left.
  for (int guard = 0; guard < 10000; ++guard) {
    const LWID id = state->findBlk(state->readData, options_table);
    if (id == 0 || id == 0x20202020) break;
    if (id == 0x20202028)
      read_checked<float>(state->readFP, state->readData, 1);
    else
      read_checked<int32_t>(state->readI4, state->readData, 1);
    state->endBlk(state->readData);
  }
}

}  // namespace fuzz
