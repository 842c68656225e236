// The single-precision sine of any float in plain double arithmetic, step
// for step glibc's sinf: the angle widened to double, reduced to a remainder
// r in [-pi/4, pi/4] and a quadrant n (by one multiply below 120, by the
// angle's mantissa times a 96-bit window of 2 / pi above), then the sine or
// the cosine polynomial of r, by quadrant and with sign, rounded to float
// once. Every multiply and add is its own rounded operation: a fused
// multiply-add would round differently, so contraction is off here whatever
// the build's flags.
#include "ScalarSine.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace quorvel::audio::detail {
namespace {

using namespace sine;

// The fraction of 2 / pi, 192 bits, most significant first, after one word
// of zeros (the integer part): enough for the window of the largest float.
constexpr std::uint32_t kTwoOverPi[] = {0x00000000, 0xA2F9836E, 0x4E441529, 0xFC2757D1,
                                        0xF534DDC0, 0xDB629599, 0x3C439041};
// pi / 2 scaled by 2^-62: the remainder's fixed-point unit in radians.
constexpr double kHalfPiScaled = 0x1.921FB54442D18p-62;
constexpr std::uint32_t kSignBit = 0x80000000u;
constexpr std::uint32_t kQuietBit = 0x00400000u;

std::uint32_t bitsOf(float x) noexcept {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

float floatOf(std::uint32_t bits) noexcept {
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// sin r in an even quadrant n, cos r in an odd one, negated in the upper
// two of each cycle, for the remainder r of the angle. The library negates
// by the sign of r and by a table of negated cosine coefficients; both give
// exactly the negated polynomial, each rounding being symmetric.
float onQuadrant(double r, std::uint32_t n) noexcept {
  const double r2 = r * r;
  double v;
  if ((n & 1) == 0) {
    const double r3 = r * r2;
    const double inner = kSin2 + r2 * kSin3;
    const double r5 = r3 * r2;
    const double head = r + r3 * kSin1;
    v = head + r5 * inner;
  } else {
    const double r4 = r2 * r2;
    const double inner = kCos3 + r2 * kCos4;
    const double head = kCos0 + r2 * kCos1;
    const double r6 = r4 * r2;
    const double body = head + r4 * kCos2;
    v = body + r6 * inner;
  }
  return static_cast<float>((n & 2) ? -v : v);
}

// 32 bits of kTwoOverPi from bit `first` (0: its most significant).
std::uint32_t twoOverPiBits(unsigned int first) noexcept {
  const unsigned int word = first / 32;
  const unsigned int shift = first % 32;
  if (shift == 0) return kTwoOverPi[word];
  return (kTwoOverPi[word] << shift) | (kTwoOverPi[word + 1] >> (32 - shift));
}

// |angle| in [120, 2^128) from its bits: the angle is m 2^(e - 150) with a
// 24-bit mantissa m, and e = 8 k + s. m 2^s times the 96 bits of 2 / pi that
// begin 8 k - 152 bits after the point (as many zeros before it as that goes
// below 1), shifted right 32, is the angle in quadrants with 62 fraction bits,
// modulo 4: the bits above the window only add multiples of 4. The quadrant
// is that rounded, the remainder the rest as a signed fixed-point number.
float largeSine(std::uint32_t magnitude, bool negative) noexcept {
  const std::uint32_t exponent = magnitude >> 23;
  const std::uint64_t mantissa = ((magnitude & 0x7FFFFFu) | 0x800000u) << (exponent & 7);
  const unsigned int first = 8 * (exponent >> 3) - 120;  // 8 k - 152, after the zero word
  const std::uint32_t high = static_cast<std::uint32_t>(mantissa * twoOverPiBits(first));
  const std::uint64_t middle = mantissa * twoOverPiBits(first + 32);
  const std::uint64_t low = mantissa * twoOverPiBits(first + 64);
  std::uint64_t quadrants = (static_cast<std::uint64_t>(high) << 32) + middle + (low >> 32);
  const std::uint64_t n = (quadrants + (1ull << 61)) >> 62;
  quadrants -= n << 62;
  const double r = static_cast<double>(static_cast<std::int64_t>(quadrants)) * kHalfPiScaled;
  // sin(-x) = -sin(x): two quadrants on flips the sign.
  return onQuadrant(r, static_cast<std::uint32_t>(n) + (negative ? 2 : 0));
}

}  // namespace

float referenceSine(float angle) noexcept {
  const std::uint32_t bits = bitsOf(angle);
  const std::uint32_t magnitude = bits & ~kSignBit;
  const double x = angle;
  if (magnitude < bitsOf(kUnreduced)) {
    if (magnitude < bitsOf(kTiny)) return angle;
    return onQuadrant(x, 0);
  }
  if (magnitude < bitsOf(kFastReduction)) {
    // The truncation and the floor of the shift as the library's 32-bit
    // integers give them, for negative angles too: a quadrant that rounds
    // up for x may round down for -x, so no symmetry is assumed.
    const std::int32_t scaled = static_cast<std::int32_t>(x * kQuadrantsScaled);
    const std::int64_t shifted = static_cast<std::int64_t>(scaled) + 0x800000 + (1ll << 31);
    const std::int32_t n = static_cast<std::int32_t>(shifted >> 24) - 128;  // shifted >= 0
    const double quadrant = n;
    const double r = (x - quadrant * kHalfPiHead) - quadrant * kHalfPiTail;
    return onQuadrant(r, static_cast<std::uint32_t>(n));
  }
  if (magnitude < bitsOf(std::numeric_limits<float>::infinity()))
    return largeSine(magnitude, bits != magnitude);
  // A NaN comes back quieted, with its payload; an infinity gives the
  // positive quiet NaN, on every platform.
  return floatOf(magnitude > 0x7F800000u ? bits | kQuietBit : 0x7FC00000u);
}

}  // namespace quorvel::audio::detail
