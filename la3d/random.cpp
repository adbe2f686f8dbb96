#include "la3d/random.h"

#include <cstdlib>
#include <ctime>

#include "la3d/quat.h"

namespace vk_3dla {

namespace {
// One 15-bit draw, 0 to 32767. RAND_MAX may be far larger; the high bits are cut so that the
// quotients below stay inside their documented ranges.
double draw15() { return static_cast<double>(std::rand() & 0x7fff) / 32768.0; }
}  // namespace

double rand01() { return draw15(); }
double rand01_upper() { return 1.0 - draw15(); }
double rand_signed() {
  double v = draw15();
  return draw15() < 0.5 ? -v : v;
}
double rand_between(double a, double b) {
  double lo = a < b ? a : b, hi = a < b ? b : a;
  return lo + draw15() * (hi - lo);
}
int rand_scaled(int n) { return static_cast<int>(draw15() * n); }
int rand_signed_scaled(int n) { return static_cast<int>(rand_signed() * n); }
void seed_random() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  for (int i = 0; i < 2000; ++i) std::rand();
}

quat random_quat() {
  quat q;
  q.w = rand01() - 0.5;
  q.z = rand01() - 0.5;
  q.y = rand01() - 0.5;
  q.x = rand01() - 0.5;
  if (abs(q) == 0.0) return quat(0.0, 0.0, 0.0, 1.0);
  return q.normalize();
}

}  // namespace vk_3dla
