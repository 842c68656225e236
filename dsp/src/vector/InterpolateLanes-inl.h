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

// The reads run on full float vectors: the positions, indices, loads and
// stores at full width, the blend (which needs double) as two halves.
using ReadFloats = hn::ScalableTag<float>;

// Whether a group of lanes of tag D can be split into two halves that are
// still whole vectors of at least four lanes.
template <class D>
constexpr bool kSplits = HWY_TARGET != HWY_SCALAR&& hn::MaxLanes(D()) >= 8;

// samples[i] and samples[i + 1] for indices `i` that rise from their first
// lane by less than twice the lanes, as a sweep's reads do (they move by about
// one sample a frame): two loads and two permutations while the indices span
// less than one vector, four of each and a select for up to two, instead of
// two gathers. False where the indices spread wider or fall below the first,
// or the window leaves the ring.
template <class D>
HWY_INLINE bool WindowLanes(const float* HWY_RESTRICT samples, int size,
                            hn::Vec<hn::RebindToSigned<D>> i, hn::Vec<D>& current,
                            hn::Vec<D>& next) {
#if HWY_TARGET == HWY_SCALAR
  (void)samples;
  (void)size;
  (void)i;
  (void)current;
  (void)next;
  return false;
#else
  const D df;
  const hn::RebindToSigned<D> di;
  const int n = static_cast<int>(hn::Lanes(df));
  const int base = hn::GetLane(i);
  const auto offsets = hn::Sub(i, hn::Set(di, base));
  if (!hn::AllTrue(di, hn::Gt(offsets, hn::Set(di, -1)))) return false;
  if (base <= size - n - 1 && hn::AllTrue(di, hn::Lt(offsets, hn::Set(di, n)))) {
    const auto at = hn::IndicesFromVec(df, offsets);
    current = hn::TableLookupLanes(hn::LoadU(df, samples + base), at);
    next = hn::TableLookupLanes(hn::LoadU(df, samples + base + 1), at);
    return true;
  }
  if (base > size - 2 * n - 1 || !hn::AllTrue(di, hn::Lt(offsets, hn::Set(di, 2 * n)))) {
    return false;
  }
  const auto at = hn::IndicesFromVec(df, hn::And(offsets, hn::Set(di, n - 1)));
  const auto upper = hn::RebindMask(df, hn::Gt(offsets, hn::Set(di, n - 1)));
  current = hn::IfThenElse(upper, hn::TableLookupLanes(hn::LoadU(df, samples + base + n), at),
                           hn::TableLookupLanes(hn::LoadU(df, samples + base), at));
  next = hn::IfThenElse(upper, hn::TableLookupLanes(hn::LoadU(df, samples + base + n + 1), at),
                        hn::TableLookupLanes(hn::LoadU(df, samples + base + 1), at));
  return true;
#endif
}

// (1 - t) x current + t x next as the scalar read forms it: the weight of
// `current` in double, the product t x next (already formed in float) added
// in double and the sum rounded to float once. A double carries half as many
// lanes as a float, so a full vector is blended as two halves.
template <class D>
HWY_INLINE hn::Vec<D> BlendLanes(hn::Vec<D> fraction, hn::Vec<D> current, hn::Vec<D> nextPart) {
#if HWY_TARGET == HWY_SCALAR
  const hn::Rebind<double, D> dd;
  const auto weight = hn::Sub(hn::Set(dd, 1.0), hn::PromoteTo(dd, fraction));
  const auto sum =
      hn::Add(hn::Mul(weight, hn::PromoteTo(dd, current)), hn::PromoteTo(dd, nextPart));
  return hn::DemoteTo(D(), sum);
#else
  const D df;
  const hn::Half<D> dh;
  const hn::Rebind<double, decltype(dh)> dd;
  const auto one = hn::Set(dd, 1.0);
  const auto lower = hn::Add(hn::Mul(hn::Sub(one, hn::PromoteTo(dd, hn::LowerHalf(dh, fraction))),
                                     hn::PromoteTo(dd, hn::LowerHalf(dh, current))),
                             hn::PromoteTo(dd, hn::LowerHalf(dh, nextPart)));
  const auto upper = hn::Add(hn::Mul(hn::Sub(one, hn::PromoteTo(dd, hn::UpperHalf(dh, fraction))),
                                     hn::PromoteTo(dd, hn::UpperHalf(dh, current))),
                             hn::PromoteTo(dd, hn::UpperHalf(dh, nextPart)));
  return hn::Combine(df, hn::DemoteTo(dh, upper), hn::DemoteTo(dh, lower));
#endif
}

// The samples of a ring of `size` samples at positions `p`, each lane as the
// scalar read forms it: floor by truncation, the upper neighbour folded to
// 0 at the end, then BlendLanes. Only for positions in [0, size) without a
// negative zero: false (and no read) if any lane lies elsewhere, for the
// caller to read that group lane by lane.
template <class D>
HWY_INLINE bool InterpolateLanes(const float* HWY_RESTRICT samples, int size, hn::Vec<D> p,
                                 hn::Vec<D>& y) {
  const D df;
  const hn::RebindToSigned<D> di;
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
  hn::Vec<D> current;
  hn::Vec<D> next;
  if (!WindowLanes<D>(samples, size, i, current, next)) {
    const auto j0 = hn::Add(i, hn::Set(di, 1));
    const auto j = hn::IfThenZeroElse(hn::Eq(j0, sizes), j0);
    current = hn::GatherIndex(df, samples, i);
    next = hn::GatherIndex(df, samples, j);
  }
  y = BlendLanes<D>(fraction, current, hn::Mul(fraction, next));
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
