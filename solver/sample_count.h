// How many samples of a fixed spacing fit into a span, for the walks along a limit boundary and
// the arc-length sampling of the cone.
#ifndef TARSEL_SOLVER_SAMPLE_COUNT_H
#define TARSEL_SOLVER_SAMPLE_COUNT_H

// Largest count handed out. Real boundaries need a few hundred samples at most; the bound only
// keeps an absurd span from asking for unbounded work or overflowing the integer conversion.
constexpr int sample_count_limit = 65536;

// The integer part of span / spacing, capped at sample_count_limit; 0 when the quotient is not a
// non-negative number (NaN or a negative span). Callers add their own minimum or extra sample.
inline int sample_count(double span, double spacing) {
  const double n = span / spacing;
  if (!(n >= 0.0)) return 0;
  if (n >= sample_count_limit) return sample_count_limit;
  return static_cast<int>(n);
}

#endif
