#include "solver/minimise.h"

#include <cmath>
#include <utility>

using vk_3dla::vec3;

double golden_search(double* x_min, Func& f, double ax, double bx, double cx, double tol) {
  double x0 = ax;
  double x3 = cx;
  double x1;
  double x2;
  // Put the new inner point into the larger of the two segments.
  if (std::fabs(bx - ax) < std::fabs(cx - bx)) {
    x1 = bx;
    x2 = bx + golden_c * (cx - bx);
  } else {
    x2 = bx;
    x1 = bx - golden_c * (bx - ax);
  }
  double f1 = f(x1);
  double f2 = f(x2);
  // Absolute test on the inner points. The count bound only stops a zero or negative tolerance or
  // a rounding stall.
  for (int i = 0; std::fabs(x1 - x2) > tol && i < golden_iteration_limit; ++i) {
    if (f2 < f1) {
      x0 = x1;
      x1 = x2;
      x2 = x3 + golden_r * (x1 - x3);
      f1 = f2;
      f2 = f(x2);
    } else {
      x3 = x2;
      x2 = x1;
      x1 = x0 + golden_r * (x2 - x0);
      f2 = f1;
      f1 = f(x1);
    }
  }
  if (f1 < f2) {
    *x_min = x1;
    return f1;
  }
  *x_min = x2;
  return f2;
}

void bracket_minimum(double ax, double bx, Func& f, vec3* abscissae, vec3* values) {
  double fa = f(ax);
  double fb = f(bx);
  if (fb > fa) {  // walk downhill from ax towards bx
    std::swap(ax, bx);
    std::swap(fa, fb);
  }
  double cx = bx + golden_g * (bx - ax);
  double fc = f(cx);
  if (fa == fb && fb == fc) {  // flat so far: try the other side once
    cx = ax + golden_g * (ax - bx);
    fc = f(cx);
  }
  // Ends at the first outer point not below the middle one; the count bound only stops walks that
  // non-finite values keep going.
  for (int i = 0; fb > fc && i < bracket_iteration_limit; ++i) {
    double r = (bx - ax) * (fb - fc);
    double q = (bx - cx) * (fb - fa);
    double d = q - r;
    if (std::fabs(d) < 1e-10) d = d < 0.0 ? -1e-10 : 1e-10;
    // Parabola through the three points, limited to a hundred times the last step.
    double u = bx - ((bx - cx) * q - (bx - ax) * r) / (2.0 * d);
    double ulim = bx + 100.0 * (cx - bx);
    double fu;
    if ((bx - u) * (u - cx) > 0.0) {
      fu = f(u);
      if (!(fu > fc)) {
        ax = bx;
        bx = u;
        fa = fb;
        fb = fu;
        break;
      }
      if (fu > fb) {
        cx = u;
        fc = fu;
        break;
      }
      u = cx + golden_g * (cx - bx);
      fu = f(u);
    } else if ((cx - u) * (u - ulim) > 0.0) {
      fu = f(u);
      if (fu < fc) {
        bx = cx;
        cx = u;
        u = cx + golden_g * (cx - bx);
        fb = fc;
        fc = fu;
        fu = f(u);
      }
    } else if ((u - ulim) * (ulim - cx) >= 0.0) {
      u = ulim;
      fu = f(u);
    } else {
      u = cx + golden_g * (cx - bx);
      fu = f(u);
    }
    ax = bx;
    bx = cx;
    cx = u;
    fa = fb;
    fb = fc;
    fc = fu;
  }
  *abscissae = vec3(ax, bx, cx);
  *values = vec3(fa, fb, fc);
}

double find_minimum(double* x_min, Func& f, double ax, double bx, double tol) {
  vec3 x;
  vec3 fx;
  bracket_minimum(ax, bx, f, &x, &fx);
  double m = golden_search(x_min, f, x.x, x.y, x.z, tol);
  // A flat function leaves the variable where the caller started.
  if (m == fx.x && m == fx.y && m == fx.z) *x_min = ax;
  return m;
}

double step_search(double* x_min, Func& f, double step, double x0, double tol) {
  double f_best = f(x0);
  double x_best = x0;
  bool found = false;
  double x = x0;
  double f_prev = f_best;
  double x_before = x0;
  for (int n = 0;;) {
    double x_prev = x;
    x = x + step;
    double fx = f(x);
    if (fx < f_prev) {
      x_before = x_prev;
      x_best = x;
      f_best = fx;
      f_prev = fx;
      found = true;
    } else if (found) {
      return golden_search(x_min, f, x_before, x_best, x, tol);
    } else if (std::fabs(step) <= tol) {
      *x_min = x0;
      return f_best;
    } else {
      x = x_prev;
      step = 0.5 * step;
    }
    if (++n >= 1000) {
      *x_min = x_best;
      return f_best;
    }
  }
}
