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

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Tags of the interpolation: the blend runs in double, so a float vector
// holds as many lanes as a full double vector.
using ReadDoubles = hn::ScalableTag<double>;
using ReadFloats = hn::Rebind<float, ReadDoubles>;
using ReadInts = hn::Rebind<std::int32_t, ReadDoubles>;

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
  const auto j0 = hn::Add(i, hn::Set(di, 1));
  const auto j = hn::IfThenZeroElse(hn::Eq(j0, sizes), j0);
  const auto current = hn::GatherIndex(df, samples, i);
  const auto next = hn::GatherIndex(df, samples, j);
  const auto nextPart = hn::Mul(fraction, next);
  const auto weight = hn::Sub(hn::Set(dd, 1.0), hn::PromoteTo(dd, fraction));
  const auto sum =
      hn::Add(hn::Mul(weight, hn::PromoteTo(dd, current)), hn::PromoteTo(dd, nextPart));
  y = hn::DemoteTo(df, sum);
  return true;
}

// What a delay line stores: finite samples as they are, silence otherwise.
template <class D>
HWY_INLINE hn::Vec<D> LineSamples(hn::Vec<D> x) {
  return hn::IfThenElseZero(hn::IsFinite(x), x);
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard toggled per target
