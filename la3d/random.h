#pragma once
// Random numbers from the standard library's shared generator, taken 15 bits at a time so that
// every platform gives the same spread whatever its RAND_MAX.

namespace vk_3dla {

double rand01();                          // [0, 1)
double rand01_upper();                    // (0, 1]
double rand_signed();                     // (-1, 1)
double rand_between(double a, double b);  // between min(a, b) and max(a, b)
int rand_scaled(int n);                   // rand01() * n, truncated
int rand_signed_scaled(int n);            // rand_signed() * n, truncated
void seed_random();                       // seeds from the clock and discards 2000 draws

}  // namespace vk_3dla
