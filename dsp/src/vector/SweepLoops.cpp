// One swept delay line through a chunk, several frames at a time.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/SweepLoops.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "EffectSupport.hpp"
#include "InterpolatedRead.hpp"
#include "vector/InterpolateLanes-inl.h"
#include "vector/SweepLoops.hpp"

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {

// The unreduced read position of write index `w` and swept delay `d`
// reduced into [0, length): valid where it lies in [0, 2 x length).
HWY_INLINE float foldedPosition(int w, float d, float fixed, float length) {
  const float x = ((static_cast<float>(w) - d) - fixed) + length;
  return x < length ? x : x - length;
}

// Whether every swept delay of the chunk lies in [0, limit] (false for a NaN).
bool sweepsWithin(const float* HWY_RESTRICT d, unsigned int count, float limit) {
  const hn::ScalableTag<float> df;
  const std::size_t n = hn::Lanes(df);
  const auto zero = hn::Zero(df);
  const auto top = hn::Set(df, limit);
  auto inside = hn::Eq(zero, zero);
  std::size_t f = 0;
  for (; f + n <= count; f += n) {
    const auto v = hn::LoadU(df, d + f);
    inside = hn::And(inside, hn::And(hn::Ge(v, zero), hn::Le(v, top)));
  }
  bool within = hn::AllTrue(df, inside);
  for (; f < count; ++f) within &= (d[f] >= 0.0f) & (d[f] <= limit);
  return within;
}

// The chunk for one combination of kernels::kSweep* flags, fixed when compiled.
template <unsigned int kMode>
HWY_INLINE bool SweptLineRun(float* HWY_RESTRICT samples, int size, int* write,
                             const float* HWY_RESTRICT d, const kernels::SweptLineGains& gains,
                             const float* in, float* out, unsigned int count) {
  const ReadFloats df;
  const ReadInts di;
  const float length = static_cast<float>(size);
  const float fixed = gains.fixedDelay;
  // No read may wrap round to what the chunk writes after that read's own
  // frame, and every unreduced position must lie in [0, 2 x length), where
  // one conditional subtraction reduces it.
  if (!sweepsWithin(d, count, length - fixed - static_cast<float>(count) - 4.0f)) return false;
  int w = *write;
  constexpr bool writeFirst = (kMode & kernels::kSweepWriteFirst) != 0;
  constexpr bool feedsBack = (kMode & kernels::kSweepFeedback) != 0;
  constexpr bool dry = (kMode & kernels::kSweepDry) != 0;
  const std::size_t n = hn::Lanes(df);
  // Frames of a group run as vectors only when no read of the group touches
  // what the group writes before that read's own frame. A read after its
  // frame's write reaches index w - fixed - d + 1 at most (positions carry a
  // few hundredths of a sample of rounding), so fixed + d >= 1 suffices for
  // the group to be written first; a read before the write must stay behind
  // the group's first write, n frames, plus a margin.
  const float shallowest = writeFirst ? 1.0f : static_cast<float>(n) + 2.0f;
  const auto vLength = hn::Set(df, length);
  const auto vFixed = hn::Set(df, fixed);
  const auto vMix = hn::Set(df, gains.mix);
  const auto vFeedback = hn::Set(df, gains.feedback);
  const auto vShallowest = hn::Set(df, shallowest);
  // Iota goes through memory on some targets: built once, offset per group.
  const auto ramp = hn::Iota(di, 0);
  unsigned int f = 0;
  while (f < count) {
    bool grouped = f + n <= count && w + static_cast<int>(n) <= size;
    hn::Vec<ReadFloats> vd;
    if (grouped) {
      vd = hn::LoadU(df, d + f);
      grouped = hn::AllTrue(df, hn::Ge(hn::Add(vFixed, vd), vShallowest));
    }
    if (grouped) {
      const auto x = hn::LoadU(df, in + f);
      if (writeFirst) hn::StoreU(LineSamples<ReadFloats>(x), df, samples + w);
      const auto a = hn::Sub(hn::ConvertTo(df, hn::Add(ramp, hn::Set(di, w))), vd);
      const auto b = hn::Add(hn::Sub(a, vFixed), vLength);
      const auto p = hn::IfThenElse(hn::Lt(b, vLength), b, hn::Sub(b, vLength));
      hn::Vec<ReadFloats> y;
      if (InterpolateLanes(samples, size, p, y)) {
        if (!writeFirst) {
          const auto stored = feedsBack ? hn::Add(x, hn::Mul(vFeedback, y)) : x;
          hn::StoreU(LineSamples<ReadFloats>(stored), df, samples + w);
        }
        hn::StoreU(OutputSamples<ReadFloats>(dry ? hn::Add(x, hn::Mul(vMix, y)) : y), df, out + f);
        f += static_cast<unsigned int>(n);
        w += static_cast<int>(n);
        if (w == size) w = 0;
        continue;
      }
      // Lanes the vector read cannot take: the group runs frame by frame
      // (writes already made are made again with the same values, and no
      // read of a line written first looks past its own frame).
    }
    const unsigned int end = f + n < count ? f + static_cast<unsigned int>(n) : count;
    for (; f < end; ++f) {
      const float x = in[f];
      if (writeFirst) samples[w] = detail::lineSample(x);
      const float y = detail::interpolateAt(samples, size, foldedPosition(w, d[f], fixed, length));
      if (!writeFirst) samples[w] = detail::lineSample(feedsBack ? x + gains.feedback * y : x);
      if (++w == size) w = 0;
      out[f] = detail::outputSample(dry ? x + gains.mix * y : y);
    }
  }
  *write = w;
  return true;
}

bool sweptLineKernel(float* HWY_RESTRICT samples, int size, int* write, const float* HWY_RESTRICT d,
                     const kernels::SweptLineGains& gains, const float* in, float* out,
                     unsigned int count, unsigned int mode) {
  using namespace kernels;
  switch (mode) {
    case kSweepWriteFirst:
      return SweptLineRun<kSweepWriteFirst>(samples, size, write, d, gains, in, out, count);
    case kSweepWriteFirst | kSweepDry:
      return SweptLineRun<kSweepWriteFirst | kSweepDry>(samples, size, write, d, gains, in, out,
                                                        count);
    case kSweepFeedback:
      return SweptLineRun<kSweepFeedback>(samples, size, write, d, gains, in, out, count);
    case kSweepFeedback | kSweepDry:
      return SweptLineRun<kSweepFeedback | kSweepDry>(samples, size, write, d, gains, in, out,
                                                      count);
    case kSweepDry: return SweptLineRun<kSweepDry>(samples, size, write, d, gains, in, out, count);
    default: return SweptLineRun<0>(samples, size, write, d, gains, in, out, count);
  }
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quorvel::audio::kernels {

HWY_EXPORT(sweptLineKernel);

bool sweptLine(float* samples, int size, int& write, const float* sweeps,
               const SweptLineGains& gains, const float* in, float* out, unsigned int count,
               unsigned int mode) noexcept {
  return HWY_DYNAMIC_DISPATCH(sweptLineKernel)(samples, size, &write, sweeps, gains, in, out, count,
                                               mode);
}

}  // namespace quorvel::audio::kernels
#endif  // HWY_ONCE
