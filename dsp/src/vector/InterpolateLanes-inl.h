// The interpolated read of a delay line for a vector of positions, inlined
// into each kernel that needs it, once per instruction set.
#if defined(QUORVEL_VECTOR_INTERPOLATE_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QUORVEL_VECTOR_INTERPOLATE_LANES_INL_H_
#undef QUORVEL_VECTOR_INTERPOLATE_LANES_INL_H_
#else
#define QUORVEL_VECTOR_INTERPOLATE_LANES_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <limits>

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Tags of the interpolation: the blend runs in double, so a float vector
// holds as many lanes as a full double vector.
using ReadDoubles = hn::ScalableTag<double>;
using ReadFloats = hn::Rebind<float, ReadDoubles>;
using ReadInts = hn::Rebind<std::int32_t, ReadDoubles>;

// samples[i] and samples[i + 1] for indices `i` that lie within a vector of
// twice the lanes from the first of them, as a sweep's reads do (they move by
// about one sample a frame): one load and two permutations instead of two
// gathers. False where the indices spread wider or the window leaves the ring.
HWY_INLINE bool WindowLanes(const float* HWY_RESTRICT samples, int size, hn::Vec<ReadInts> i,
                            hn::Vec<ReadFloats>& current, hn::Vec<ReadFloats>& next) {
#if HWY_TARGET == HWY_SCALAR
  (void)samples;
  (void)size;
  (void)i;
  (void)current;
  (void)next;
  return false;
#else
  const ReadInts di;
  const hn::Twice<ReadFloats> dw;
  const hn::RebindToSigned<decltype(dw)> dwi;
  const int span = static_cast<int>(hn::Lanes(dw));
  const int base = hn::GetLane(i);
  if (base > size - span) return false;
  const auto offsets = hn::Sub(i, hn::Set(di, base));
  const auto within =
      hn::And(hn::Gt(offsets, hn::Set(di, -1)), hn::Lt(offsets, hn::Set(di, span - 1)));
  if (!hn::AllTrue(di, within)) return false;
  const auto window = hn::LoadU(dw, samples + base);
  const auto upper = hn::Zero(di);
  const auto atCurrent = hn::IndicesFromVec(dw, hn::Combine(dwi, upper, offsets));
  const auto atNext =
      hn::IndicesFromVec(dw, hn::Combine(dwi, upper, hn::Add(offsets, hn::Set(di, 1))));
  current = hn::LowerHalf(hn::TableLookupLanes(window, atCurrent));
  next = hn::LowerHalf(hn::TableLookupLanes(window, atNext));
  return true;
#endif
}

// The samples of a ring of `size` samples at positions `p`, each lane as the
// scalar read forms it: floor by truncation, the upper neighbour folded to
// 0 at the end, the weight of `current` in double and that of `next` in
// float, summed in double and rounded to float once. Only for positions in
// [0, size) without a negative zero: false (and no read) if any lane lies
// elsewhere, for the caller to read that group lane by lane.
HWY_INLINE bool InterpolateLanes(const float* HWY_RESTRICT samples, int size, hn::Vec<ReadFloats> p,
                                 hn::Vec<ReadFloats>& y) {
  const ReadDoubles dd;
  const ReadFloats df;
  const ReadInts di;
  // A clear sign bit rules out -0 and every negative; the compare rules out NaN.
  const auto bits = hn::BitCast(di, p);
  const auto inside = hn::And(hn::RebindMask(di, hn::Lt(p, hn::Set(df, static_cast<float>(size)))),
                              hn::Gt(bits, hn::Set(di, -1)));
  if (!hn::AllTrue(di, inside)) return false;
  const auto sizes = hn::Set(di, size);
  const auto i = hn::ConvertTo(di, p);
  // A size that is not a float can let the float bound round up: check exactly.
  if (!hn::AllTrue(di, hn::Lt(i, sizes))) return false;
  const auto fraction = hn::Sub(p, hn::ConvertTo(df, i));
  hn::Vec<ReadFloats> current;
  hn::Vec<ReadFloats> next;
  if (!WindowLanes(samples, size, i, current, next)) {
    const auto j0 = hn::Add(i, hn::Set(di, 1));
    const auto j = hn::IfThenZeroElse(hn::Eq(j0, sizes), j0);
    current = hn::GatherIndex(df, samples, i);
    next = hn::GatherIndex(df, samples, j);
  }
  const auto nextPart = hn::Mul(fraction, next);
  const auto weight = hn::Sub(hn::Set(dd, 1.0), hn::PromoteTo(dd, fraction));
  const auto sum =
      hn::Add(hn::Mul(weight, hn::PromoteTo(dd, current)), hn::PromoteTo(dd, nextPart));
  y = hn::DemoteTo(df, sum);
  return true;
}

// What the effects output: subnormals as zeros of their sign (see
// outputSample in EffectSupport.hpp), lane by lane.
template <class D>
HWY_INLINE hn::Vec<D> OutputSamples(hn::Vec<D> x) {
  const D d;
  const auto tiny = hn::Lt(hn::Abs(x), hn::Set(d, std::numeric_limits<float>::min()));
  return hn::IfThenElse(tiny, hn::And(x, hn::Set(d, -0.0f)), x);
}

// What a delay line stores: finite samples as they are, subnormals flushed,
// silence in place of NaN and infinities (see lineSample).
template <class D>
HWY_INLINE hn::Vec<D> LineSamples(hn::Vec<D> x) {
  return OutputSamples<D>(hn::IfThenElseZero(hn::IsFinite(x), x));
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard toggled per target
