// The words of a double, as the range tests of pmath read them.
//
// The algorithms and polynomial coefficients of pmath's functions are those of FDLIBM, whose
// notice follows, as refined in musl (MIT licence).
//
// Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
// Developed at SunPro, a Sun Microsystems, Inc. business.
// Permission to use, copy, modify, and distribute this software is freely granted, provided that
// this notice is preserved.
#pragma once

#include <cstdint>
#include <cstring>

namespace pmath::detail {

// The upper 32 bits of a double (sign, exponent, top of the mantissa), as the range tests read it.
inline std::uint32_t high_word(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return static_cast<std::uint32_t>(u >> 32);
}

inline std::uint32_t low_word(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return static_cast<std::uint32_t>(u);
}

// x with the lower 32 bits of its mantissa cleared: a head whose square is exact.
inline double clear_low_word(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  u &= 0xffffffff00000000ULL;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

}  // namespace pmath::detail
