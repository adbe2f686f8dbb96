#pragma once
// The library's two diagnostic lines, written to the standard error stream when a normalisation
// meets a zero vector or an inversion a singular matrix. Kept out of line: they are cold paths.

namespace vk_3dla {

void report_abs_zero();          // writes "abs = 0\n"
void report_determinant_zero();  // writes "determinant = 0\n"

}  // namespace vk_3dla
