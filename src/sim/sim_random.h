#pragma once
// A small seeded generator whose output is the same on every compiler and
// library: the standard distributions are not, and "same seed, same bytes"
// must hold for captures made on another machine.

#include <cstdint>

class SimRandom {
 public:
  explicit SimRandom(std::uint64_t seed) : m_state(seed) {}

  // splitmix64
  std::uint64_t Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // 0 .. n-1 (0 when n is 0).
  std::uint32_t Below(std::uint32_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(Next() % n); }
  // lo .. hi inclusive.
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Below(static_cast<std::uint32_t>(hi - lo + 1)));
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }
  // True with probability p (0..1).
  bool Chance(double p) {
    if (p <= 0) return false;
    if (p >= 1) return true;
    return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p;
  }

 private:
  std::uint64_t m_state;
};
