// The single-precision sine of a block of angles, bit for bit the scalar
// reference (referenceSine, glibc's sinf step for step): the angle is widened
// to double, reduced by pi/2 in double, and the sine or the cosine polynomial
// of the remainder, by quadrant and with sign, is rounded to float once. The
// same steps on several lanes give the same bits; angles outside the vector
// steps' domain take the scalar reference, lane by lane.
#include "Sine.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "ScalarSine.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/Sine.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using namespace detail::sine;

// The reference's sine of float angles widened to double, in [0, kVectorSineEnd).
// Where the target has fused multiply-add, the remainder is one fused
// x - n pi/2 (the value the split reduction rounds to) and the polynomials
// fuse each multiply with the add after it: every float of the domain keeps
// its bits, the test proves it target by target. Elsewhere each multiply and
// add is its own rounded operation, in the library's order (Highway's MulAdd
// is a multiply and an add there).
template <class D, class V>
HWY_INLINE V WideSine(D dd, V x) {
  const hn::Rebind<std::int32_t, D> di;
  const auto quadrant = hn::ShiftRight<24>(
      hn::Add(hn::DemoteTo(di, hn::Mul(x, hn::Set(dd, kQuadrantsScaled))), hn::Set(di, 0x800000)));
  const V n = hn::PromoteTo(dd, quadrant);
#if HWY_NATIVE_FMA
  const V y = hn::NegMulAdd(n, hn::Set(dd, kHalfPi), x);
#else
  const V y = hn::Sub(hn::Sub(x, hn::Mul(n, hn::Set(dd, kHalfPiHead))),
                      hn::Mul(n, hn::Set(dd, kHalfPiTail)));
#endif
  // Both polynomials in the library's order, then one select: fewer
  // operations than one evaluation steered lane by lane. Bit 0 of the
  // quadrant picks the cosine; bit 1, moved to the sign bit, negates (the
  // library negates by the sign of r and by a table of negated cosine
  // coefficients; both give exactly the negated polynomial).
  const V y2 = hn::Mul(y, y);
  const V y3 = hn::Mul(y, y2);
  const V sine = hn::MulAdd(hn::Mul(y3, y2), hn::MulAdd(y2, hn::Set(dd, kSin3), hn::Set(dd, kSin2)),
                            hn::MulAdd(y3, hn::Set(dd, kSin1), y));
  const V y4 = hn::Mul(y2, y2);
  const V cosine = hn::MulAdd(
      hn::Mul(y4, y2), hn::MulAdd(y2, hn::Set(dd, kCos4), hn::Set(dd, kCos3)),
      hn::MulAdd(y4, hn::Set(dd, kCos2), hn::MulAdd(y2, hn::Set(dd, kCos1), hn::Set(dd, kCos0))));
  const hn::Rebind<std::int64_t, D> dl;
  const auto wide = hn::PromoteTo(dl, quadrant);
  const auto odd = hn::RebindMask(dd, hn::Eq(hn::And(wide, hn::Set(dl, 1)), hn::Set(dl, 1)));
  const V v = hn::IfThenElse(odd, cosine, sine);
  const V signBit = hn::BitCast(dd, hn::And(hn::ShiftLeft<62>(wide), hn::Set(dl, INT64_MIN)));
  const V signedV = hn::Xor(v, signBit);
  return hn::IfThenElse(hn::Lt(x, hn::Set(dd, static_cast<double>(kTiny))), x, signedV);
}

// One vector's worth of angles: as many floats as there are double lanes.
template <class D, class DF>
HWY_INLINE void SineLanes(D dd, DF df, const float* angles, float* out) {
  const auto a = hn::LoadU(df, angles);
  const auto x = hn::PromoteTo(dd, a);
  const auto covered = hn::And(hn::Ge(x, hn::Zero(dd)),
                               hn::Lt(x, hn::Set(dd, static_cast<double>(detail::kVectorSineEnd))));
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
    if (!(saved[i] >= 0.0f && saved[i] < detail::kVectorSineEnd))
      out[i] = detail::referenceSine(saved[i]);
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
#include <cstring>

namespace quorvel::audio {

HWY_EXPORT(SineBlockKernel);

namespace detail {
namespace {

// Angles where a kernel that is not step for step the library's would show:
// either side of the tiny-angle and small-angle thresholds, the largest
// angles covered, the quadrant boundaries nearest a tie of the rounded
// quadrant and angles whose sine lies nearest a float rounding boundary.
// Found by running every float of [0, 120) against the library; only those
// of the kernel's domain are kept (beyond it the library's builds with and
// without fused multiply-add differ).
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
    0x1.78fdbap+3f,
    0x1.2d97c8p+1f,
    0x1.c463acp+2f,
    0x1.d12ed8p-12f,
    0x1.445f9ap+2f,
    0x1.349d0cp-7f,
    0x1.416464p-1f,
    0x1.25ed4ap-1f,
    0x1.c463acp+4f,
    0x1.52a0ecp-7f,
    0x1.bc5fa6p-3f,
    0x1.a6a594p-11f,
    0x1.d83924p+2f,
    0x1.0d587ap+0f,
    0x1.51fc78p-6f,
    0x1.20a696p+3f,
    0x1.f51a6ap-11f,
    0x1.f50b7p-5f,
    0x1.598ec2p+2f,
    0x1.19be44p+1f,
    0x1.7793d2p+0f,
};
constexpr std::size_t kCheckCount = sizeof(kCheckAngles) / sizeof(kCheckAngles[0]);
constexpr bool inDomain(std::size_t i) {
  return i == kCheckCount || (kCheckAngles[i] < kVectorSineEnd && inDomain(i + 1));
}
static_assert(inDomain(0), "the check is of the kernel's domain");

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
  // Another C library's sinf is not glibc's: nothing to check the kernel
  // against at run time; the domain hash test stands for it.
  static const bool inUse = true;
#endif
  return inUse;
}

void sineBlock(const float* angles, float* out, std::size_t count) noexcept {
  if (vectorSineInUse()) return HWY_DYNAMIC_DISPATCH(SineBlockKernel)(angles, out, count);
  for (std::size_t i = 0; i < count; ++i) out[i] = referenceSine(angles[i]);
}

}  // namespace detail
}  // namespace quorvel::audio
#endif  // HWY_ONCE
