// Maths functions that give the same bits in every build: x86-64 and 32-bit x86 with SSE2,
// Windows, and WebAssembly. The C libraries of those builds (glibc, the MinGW runtime, musl) each
// round sin, cos, atan2 and the rest their own way, so a rig whose solve is sensitive to the last
// bit would answer differently in the viewer page than in tarsel-stage. These are written from
// IEEE-754 double arithmetic and sqrt alone, which every build rounds alike (with contraction into
// fused multiply-adds turned off), and are accurate to within one unit in the last place.
// May include: the standard library alone.
#pragma once

namespace pmath {

double sin(double x);
double cos(double x);
double asin(double x);
double acos(double x);
double atan(double x);
double atan2(double y, double x);
// sqrt(x*x + y*y) without overflow or underflow on the way.
double hypot(double x, double y);
// exp(x) - 1, accurate near 0.
double expm1(double x);

}  // namespace pmath
