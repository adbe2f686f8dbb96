// One-variable minimisation. Every search of the solver is expressed as a small function object
// derived from Func, built on the caller's stack, and handed to one of these routines.
#ifndef TARSEL_SOLVER_MINIMISE_H
#define TARSEL_SOLVER_MINIMISE_H

#include <cmath>

#include "la3d/vk_3dla.h"

// A function of one real variable. Search routines only call operator(); they never copy, keep or
// delete the object. operator() is not const so that an object may write scratch results.
class Func {
 public:
  virtual double operator()(double x) = 0;
  virtual ~Func() = default;
};

// Tolerance of the solver's angle searches: 2 pi * 1e-5 rad.
constexpr double angle_tolerance = 6.283185307179587e-05;

// Values that close (relative to the larger one) differ by rounding only: a choice between two
// candidates whose values are that close is left to the caller's tie rule, not to the noise.
constexpr double rounding_tie = 1e-12;

// Whether a lies below b by more than rounding.
inline bool clearly_below(double a, double b) {
  return a < b - rounding_tie * std::fmax(std::fabs(a), std::fabs(b));
}

// Golden-section search: R and C = 1 - R, and the bracket expansion factor.
constexpr double golden_r = 0.61803399;
constexpr double golden_c = 1.0 - golden_r;
constexpr double golden_g = 1.618034;

// Safety bounds on the two open-ended loops. A sound bracket with a positive tolerance needs far
// fewer (under 3000 even across the whole double range); the bounds only stop loops that non-finite
// values, a zero or negative tolerance, or rounding stalls would keep going forever.
constexpr int golden_iteration_limit = 10000;
constexpr int bracket_iteration_limit = 10000;

// Golden-section search over the bracket (ax, bx, cx): bx between ax and cx, f(bx) not above f(ax)
// and f(cx). The tolerance is absolute, on the abscissa. Writes the abscissa of the smallest value
// (the second inner point on a tie) and returns that value.
double golden_search(double* x_min, Func& f, double ax, double bx, double cx, double tol);

// Walks downhill from ax towards bx until the minimum is bracketed. Writes the abscissae
// (ax, bx, cx) and their values (fa, fb, fc) as triples.
void bracket_minimum(double ax, double bx, Func& f, vk_3dla::vec3* abscissae,
                     vk_3dla::vec3* values);

// Bracketing followed by a golden-section search. A flat function leaves the abscissa at ax.
double find_minimum(double* x_min, Func& f, double ax, double bx, double tol);

// Fixed-step descent from x0 in the direction of the sign of `step`, halving the step when it
// finds no descent, ending in a golden-section search once the minimum is bracketed. At most 1000
// steps.
double step_search(double* x_min, Func& f, double step, double x0, double tol);

#endif
