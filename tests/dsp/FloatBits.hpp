#pragma once

#include <cstdint>
#include <cstring>

// A float's bit pattern and back, for tests that compare results bit for bit
// (a value compare would take -0 for +0 and never match a NaN).
namespace quorvel::audio::testing {

inline std::uint32_t bitsOf(float x) {
  std::uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

inline float floatOf(std::uint32_t b) {
  float x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

}  // namespace quorvel::audio::testing
