// Asking for memory ahead of its use. In a scene of many chains what each chain keeps between
// evaluations is out of the cache by its next turn; fetches asked for together at the start of
// the turn overlap, where reading as the solve goes would wait for one line after another.
#ifndef TARSEL_SOLVER_PREFETCH_H
#define TARSEL_SOLVER_PREFETCH_H

#include <cstddef>
#include <vector>

inline void prefetch_bytes(const void* data, std::size_t bytes) {
#if (defined(__GNUC__) || defined(__clang__)) && !defined(__EMSCRIPTEN__)
  const char* p = static_cast<const char*>(data);
  for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
  // A prefetch changes nothing a program can see, so a function made of them alone counts as one
  // without effects, and GCC drops its calls; the empty statement counts as an effect.
  __asm__ volatile("");
#else
  (void)data;
  (void)bytes;
#endif
}

template <class T>
inline void prefetch_vector(const std::vector<T>& v) {
  prefetch_bytes(v.data(), v.size() * sizeof(T));
}

#endif
