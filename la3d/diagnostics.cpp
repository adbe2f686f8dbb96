#include "la3d/diagnostics.h"

#include <cstdio>

namespace vk_3dla {

void report_abs_zero() { std::fputs("abs = 0\n", stderr); }
void report_determinant_zero() { std::fputs("determinant = 0\n", stderr); }

}  // namespace vk_3dla
