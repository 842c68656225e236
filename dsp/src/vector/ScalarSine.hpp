#pragma once

// The oscillators' sine, one value at a time, for any float: the steps of
// glibc's sinf in plain double arithmetic, so that every platform and every
// C library gives the same bits. The block sine's vector kernel computes the
// same values on its domain; the constants both use are here.
namespace quorvel::audio::detail {

// sin(angle) for any float angle in radians: the bits of glibc's sinf with
// the quadrant remainder x - n pi/2 rounded once (as its builds with fused
// multiply-add round it). NaN for an infinite or NaN angle.
float referenceSine(float angle) noexcept;

namespace sine {

// 2 / pi scaled by 2^24: the quadrant of x is the nearest integer to
// x 2 / pi, taken as (trunc(x this) + 2^23) >> 24 in 32-bit integers, which
// is how the library rounds it (a tie or a value within 2^-24 above one goes
// up, for either sign of x).
constexpr double kQuadrantsScaled = 0x1.45F306DC9C883p+23;
// pi / 2 in double, split into a 26-bit head and the rest. With a quadrant n
// below 2^7 in magnitude, n head and n tail are exact, and so is x - n head
// (a float x of at least 0.5 and n head are both multiples of 2^-25, their
// difference is below 1: 25 bits at most), so subtracting n tail rounds once:
// the value a fused multiply-subtract x - n pi/2 gives, without one.
constexpr double kHalfPi = 0x1.921FB54442D18p0;
constexpr double kHalfPiHead = 0x1.921fb58p+0;
constexpr double kHalfPiTail = -0x1.dde974p-27;
static_assert(kHalfPiHead + kHalfPiTail == kHalfPi, "the split must be exact");
// Below this magnitude the library returns the angle itself; below the next
// it takes the polynomial without a reduction; below the last it reduces
// with the quadrant above, beyond it with 192 bits of 2 / pi.
constexpr float kTiny = 0x1p-12f;
constexpr float kUnreduced = 0.75f;
constexpr float kFastReduction = 120.0f;
// sin r ~ r + s1 r^3 + r^5 (s2 + s3 r^2) on [-pi/4, pi/4].
constexpr double kSin1 = -0x1.555545995a603p-3;
constexpr double kSin2 = 0x1.1107605230bc4p-7;
constexpr double kSin3 = -0x1.994eb3774cf24p-13;
// cos r ~ c0 + c1 r^2 + c2 r^4 + r^6 (c3 + c4 r^2) on [-pi/4, pi/4].
constexpr double kCos0 = 1.0;
constexpr double kCos1 = -0x1.ffffffd0c621cp-2;
constexpr double kCos2 = 0x1.55553e1068f19p-5;
constexpr double kCos3 = -0x1.6c087e89a359dp-10;
constexpr double kCos4 = 0x1.99343027bf8c3p-16;

}  // namespace sine
}  // namespace quorvel::audio::detail
