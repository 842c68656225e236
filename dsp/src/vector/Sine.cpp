// The single-precision sine of a block of angles, bit for bit the C
// library's sinf (glibc's): the angle is widened to double, reduced by pi/2
// in double, and the sine or the cosine polynomial of the remainder, by
// quadrant and with sign, is rounded to float once. The same steps on
// several lanes give the same bits; angles the vector steps are not exact
// for take the library call, lane by lane.
#include <cmath>
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/Sine.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// 2 / pi scaled by 2^24: the quadrant is the nearest integer to x x 2 / pi,
// taken as (trunc(x x this) + 2^23) >> 24 in 32-bit integers, which is how
// the library rounds it.
constexpr double kQuadrantsScaled = 0x1.45F306DC9C883p+23;
// pi / 2 in double, split into a 26-bit head and the rest. With a quadrant n
// below 2^7, n x head and n x tail are exact, x - n x head is exact (x and
// n x head lie within a factor of two of each other), so subtracting n x tail
// rounds once: the value a fused multiply-subtract x - n x pi/2 gives, which
// is what the library computes, without a fused operation.
constexpr double kHalfPi = 0x1.921FB54442D18p0;
constexpr double kHalfPiHead = 0x1.921fb58p+0;
constexpr double kHalfPiTail = -0x1.dde974p-27;
static_assert(kHalfPiHead + kHalfPiTail == kHalfPi, "the split must be exact");
// Below this the library returns the angle itself.
constexpr double kTiny = 0x1p-12;
// The vector steps cover [0, kDomainEnd), four times the oscillators'
// angles. The library takes the same fast reduction up to 120, but there its
// builds with and without fused multiply-add differ: six floats of [53, 120)
// reduce differently unfused. Below 32 the kernel gives the bits of either
// build, so a CPU without FMA keeps the vector path too. Negative, larger and
// non-finite angles take std::sin.
constexpr float kDomainEnd = 32.0f;
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

// The library's sinf of float angles widened to double, in [0, kDomainEnd).
// Every multiply and add is its own rounded operation, in the library's order.
template <class D, class V>
HWY_INLINE V WideSine(D dd, V x) {
  const hn::Rebind<std::int32_t, D> di;
  const auto quadrant = hn::ShiftRight<24>(
      hn::Add(hn::DemoteTo(di, hn::Mul(x, hn::Set(dd, kQuadrantsScaled))), hn::Set(di, 0x800000)));
  const V n = hn::PromoteTo(dd, quadrant);
  const V y = hn::Sub(hn::Sub(x, hn::Mul(n, hn::Set(dd, kHalfPiHead))),
                      hn::Mul(n, hn::Set(dd, kHalfPiTail)));
  // Odd quadrants take the cosine, the upper two of each cycle are negated.
  // The library negates by odd symmetry and by a negated cosine table; both
  // give exactly the negated polynomial.
  const V inCycle = hn::PromoteTo(dd, hn::And(quadrant, hn::Set(di, 3)));
  const auto odd = hn::Or(hn::Eq(inCycle, hn::Set(dd, 1.0)), hn::Eq(inCycle, hn::Set(dd, 3.0)));
  const auto upper = hn::Ge(inCycle, hn::Set(dd, 2.0));

  // One evaluation serves both polynomials, lane by lane, in the shape
  //   head + p x k + q x (k' + r^2 x k''),
  // sine: head = r, p = r^3, q = r^5; cosine: head = c0 + c1 r^2, p = r^4,
  // q = r^6; each lane's operations are those of its own polynomial.
  const V y2 = hn::Mul(y, y);
  const V y3 = hn::Mul(y, y2);
  const V y4 = hn::Mul(y2, y2);
  const V cosineHead = hn::Add(hn::Set(dd, kCos0), hn::Mul(y2, hn::Set(dd, kCos1)));
  const V head = hn::IfThenElse(odd, cosineHead, y);
  const V p = hn::IfThenElse(odd, y4, y3);
  const V k = hn::IfThenElse(odd, hn::Set(dd, kCos2), hn::Set(dd, kSin1));
  const V inner = hn::Add(hn::IfThenElse(odd, hn::Set(dd, kCos3), hn::Set(dd, kSin2)),
                          hn::Mul(y2, hn::IfThenElse(odd, hn::Set(dd, kCos4), hn::Set(dd, kSin3))));
  const V q = hn::Mul(p, y2);
  const V v = hn::Add(hn::Add(head, hn::Mul(p, k)), hn::Mul(q, inner));
  const V signedV = hn::IfThenElse(upper, hn::Neg(v), v);
  return hn::IfThenElse(hn::Lt(x, hn::Set(dd, kTiny)), x, signedV);
}

// One vector's worth of angles: as many floats as there are double lanes.
template <class D, class DF>
HWY_INLINE void SineLanes(D dd, DF df, const float* angles, float* out) {
  const auto a = hn::LoadU(df, angles);
  const auto x = hn::PromoteTo(dd, a);
  const auto covered =
      hn::And(hn::Ge(x, hn::Zero(dd)), hn::Lt(x, hn::Set(dd, static_cast<double>(kDomainEnd))));
  // Uncovered lanes are computed as 0, then replaced: no conversion of a
  // NaN or an out-of-range value to an integer.
  const auto result = hn::DemoteTo(df, WideSine(dd, hn::IfThenElseZero(covered, x)));
  if (HWY_LIKELY(hn::AllTrue(dd, covered))) {
    hn::StoreU(result, df, out);
    return;
  }
  // `out` may alias `angles`: keep the inputs before the store. Sized by the
  // double tag: Highway 1.0's MaxLanes() halves the bound of a fractional
  // float tag on SVE_256 and SVE2_128, below the lanes it really has.
  HWY_ALIGN float saved[hn::MaxLanes(dd)];
  hn::Store(a, df, saved);
  hn::StoreU(result, df, out);
  for (std::size_t i = 0; i < hn::Lanes(df); ++i) {
    if (!(saved[i] >= 0.0f && saved[i] < kDomainEnd)) out[i] = std::sin(saved[i]);
  }
}

void SineBlockKernel(const float* angles, float* out, std::size_t count) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const std::size_t lanes = hn::Lanes(dd);
  std::size_t i = 0;
  for (; i + lanes <= count; i += lanes) SineLanes(dd, df, angles + i, out + i);
  if (i == count) return;
  // The last few angles, padded with zeros to a whole vector.
  HWY_ALIGN float rest[hn::MaxLanes(dd)] = {};  // see SineLanes
  for (std::size_t j = 0; i + j < count; ++j) rest[j] = angles[i + j];
  SineLanes(dd, df, rest, rest);
  for (std::size_t j = 0; i + j < count; ++j) out[i + j] = rest[j];
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <cstdint>
#include <cstring>

#include "Sine.hpp"

namespace quorvel::audio {

HWY_EXPORT(SineBlockKernel);

namespace detail {
namespace {

// Angles where a kernel that is not step for step the library's would show:
// either side of the tiny-angle and small-angle thresholds, the largest
// angles covered, the quadrant boundaries nearest a tie of the rounded
// quadrant, angles whose sine lies nearest a float rounding boundary, and
// angles where an unfused x - n x pi/2 would round differently (beyond the
// domain now, kept for a kernel that reaches them again). Found by running
// every float of [0, 120) against the library.
constexpr float kCheckAngles[] = {
    0.0f,
    0x1p-149f,
    0x1p-126f,
    0x1.fffffep-13f,
    0x1p-12f,
    0x1.000002p-12f,
    0x1.7ffffep-1f,
    0x1.8p-1f,
    0x1.921fb6p-1f,
    0x1.921fb6p+0f,
    0x1.921fb6p+1f,
    0x1.921fb6p+2f,
    0x1.f6a7a2p+2f,
    0x1.dffffep+6f,
    0x1.ae65fp+6f,
    0x1.62fffep+6f,
    0x1.179a0cp+6f,
    0x1.78fdbap+3f,
    0x1.2d97c8p+1f,
    0x1.c463acp+2f,
    0x1.e3ce26p+5f,
    0x1.986834p+5f,
    0x1.4d0242p+5f,
    0x1.da6168p+6f,
    0x1.d12ed8p-12f,
    0x1.445f9ap+2f,
    0x1.349d0cp-7f,
    0x1.416464p-1f,
    0x1.25ed4ap-1f,
    0x1.c463acp+4f,
    0x1.52a0ecp-7f,
    0x1.f9ceb2p+5f,
    0x1.bc5fa6p-3f,
    0x1.a6a594p-11f,
    0x1.d83924p+2f,
    0x1.0d587ap+0f,
    0x1.c463acp+5f,
    0x1.51fc78p-6f,
    0x1.20a696p+3f,
    0x1.f51a6ap-11f,
    0x1.f50b7p-5f,
    0x1.598ec2p+2f,
    0x1.19be44p+1f,
    0x1.7793d2p+0f,
    0x1.ab6152p+5f,
    0x1.46b80ep+6f,
    0x1.46ba88p+6f,
    0x1.52e6cp+6f,
    0x1.9eb0a8p+6f,
};
constexpr std::size_t kCheckCount = sizeof(kCheckAngles) / sizeof(kCheckAngles[0]);

[[maybe_unused]] bool kernelMatchesLibrary() noexcept {
  float vector[kCheckCount];
  HWY_DYNAMIC_DISPATCH(SineBlockKernel)(kCheckAngles, vector, kCheckCount);
  for (std::size_t i = 0; i < kCheckCount; ++i) {
    // Through a volatile, so that the compiler cannot fold the call into its
    // own correctly rounded sine, which is not the library's.
    const volatile float angle = kCheckAngles[i];
    const float library = std::sin(static_cast<float>(angle));
    if (std::memcmp(&library, &vector[i], sizeof(float)) != 0) return false;
  }
  return true;
}

}  // namespace

bool vectorSineInUse() noexcept {
#if defined(__GLIBC__)
  static const bool inUse = kernelMatchesLibrary();
#else
  // Another C library's sinf is not the reference: the kernel is.
  static const bool inUse = true;
#endif
  return inUse;
}

void sineBlock(const float* angles, float* out, std::size_t count) noexcept {
  if (vectorSineInUse()) return HWY_DYNAMIC_DISPATCH(SineBlockKernel)(angles, out, count);
  for (std::size_t i = 0; i < count; ++i) out[i] = std::sin(angles[i]);
}

}  // namespace detail
}  // namespace quorvel::audio
#endif  // HWY_ONCE
