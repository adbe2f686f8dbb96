// Fuzz target: the loaded module solving small rigs decoded from the input. Finite input (every
// rig the generator builds is finite) must give finite rotations.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/sweep/rig_checks.h"
#include "tests/sweep/rig_generator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static sweep::Rig_solver solver(TARSEL_MODULE_PATH);
  if (size == 0) return 0;
  static const sweep::Rig_class classes[] = {
      sweep::Rig_class::general, sweep::Rig_class::limited_root, sweep::Rig_class::reachable};
  sweep::Byte_source source(data + 1, size - 1);
  sweep::Rig rig = sweep::generate_rig(source, classes[data[0] % 3]);
  if (data[0] & 0x80) rig = sweep::carried(rig, source);

  solver.solve(rig);
  for (std::size_t k = 0; k < rig.bones.size(); ++k) {
    const sweep::Vec3 r = solver.rotation(static_cast<int>(k));
    if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) {
      std::fprintf(stderr, "bone %zu: rotation (%g, %g, %g) from the rig\n%s\n", k, r[0], r[1],
                   r[2], sweep::rig_json(rig).c_str());
      std::abort();
    }
  }
  return 0;
}
