// The swept delays of a chunk and one swept delay line through it, several
// frames at a time.
#include <cmath>
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

// The oscillator values of a row become swept delays in place, two roundings
// as the frame-by-frame form makes them, while checking them against the
// range the line kernel takes (false for a NaN, which cannot survive anyway).
bool sweptDelaysKernel(float* HWY_RESTRICT row, unsigned int count, float width, float rate,
                       float limit) {
  const hn::ScalableTag<float> df;
  const std::size_t n = hn::Lanes(df);
  const auto vWidth = hn::Set(df, width);
  const auto vRate = hn::Set(df, rate);
  const auto zero = hn::Zero(df);
  const auto top = hn::Set(df, limit);
  auto inside = hn::Eq(zero, zero);
  std::size_t f = 0;
  for (; f + n <= count; f += n) {
    const auto scaled = hn::Mul(hn::Mul(hn::LoadU(df, row + f), vWidth), vRate);
    const auto d = hn::IfThenElseZero(hn::IsFinite(scaled), scaled);
    hn::StoreU(d, df, row + f);
    inside = hn::And(inside, hn::And(hn::Ge(d, zero), hn::Le(d, top)));
  }
  bool within = hn::AllTrue(df, inside);
  for (; f < count; ++f) {
    const float d = detail::sweptDelay(row[f], width, rate);
    row[f] = d;
    within &= (d >= 0.0f) & (d <= limit);
  }
  return within;
}

// What one line needs through a chunk.
struct LineChunk {
  float* HWY_RESTRICT samples;
  int size;
  float length;
  float fixed;
  float mix;
  float feedback;
  const float* HWY_RESTRICT d;
  const float* in;
  float* out;
};

// One frame as the frame-by-frame loop runs it.
template <unsigned int kMode>
HWY_INLINE void LineFrame(const LineChunk& c, unsigned int f, int& w) {
  constexpr bool writeFirst = (kMode & kernels::kSweepWriteFirst) != 0;
  constexpr bool feedsBack = (kMode & kernels::kSweepFeedback) != 0;
  constexpr bool dry = (kMode & kernels::kSweepDry) != 0;
  const float x = c.in[f];
  if (writeFirst) c.samples[w] = detail::lineSample(x);
  const float y =
      detail::interpolateAt(c.samples, c.size, foldedPosition(w, c.d[f], c.fixed, c.length));
  if (!writeFirst) c.samples[w] = detail::lineSample(feedsBack ? x + c.feedback * y : x);
  if (++w == c.size) w = 0;
  c.out[f] = detail::outputSample(dry ? x + c.mix * y : y);
}

// Frames [f, f + lanes of D) as one vector; the caller has checked that the
// write indices do not wrap. A group runs as a vector only when no read of
// it touches what the group writes before that read's own frame. A read after
// its frame's write reaches index w - fixed - d + 1 at most (positions carry a
// few hundredths of a sample of rounding), so fixed + d >= 1 suffices for the
// group to be written first; a read before the write must stay behind the
// group's first write, a vector of frames, plus a margin. A group too shallow
// for that (the flanger's sweep near its shallowest point) runs as two groups
// of half the frames, whose reads need half the distance, down to vectors of
// four; groups the vector read cannot take run frame by frame.
template <class D, unsigned int kMode>
HWY_INLINE void LineGroup(const LineChunk& c, unsigned int f, int& w) {
  constexpr bool writeFirst = (kMode & kernels::kSweepWriteFirst) != 0;
  constexpr bool feedsBack = (kMode & kernels::kSweepFeedback) != 0;
  constexpr bool dry = (kMode & kernels::kSweepDry) != 0;
  const D df;
  const hn::RebindToSigned<D> di;
  const unsigned int n = static_cast<unsigned int>(hn::Lanes(df));
  const float shallowest = writeFirst ? 1.0f : static_cast<float>(n) + 2.0f;
  const auto vFixed = hn::Set(df, c.fixed);
  const auto vd = hn::LoadU(df, c.d + f);
  if (!hn::AllTrue(df, hn::Ge(hn::Add(vFixed, vd), hn::Set(df, shallowest)))) {
    if constexpr (kSplits<D>) {
      LineGroup<hn::Half<D>, kMode>(c, f, w);
      LineGroup<hn::Half<D>, kMode>(c, f + n / 2, w);
    } else {
      for (unsigned int k = f; k < f + n; ++k) LineFrame<kMode>(c, k, w);
    }
    return;
  }
  const auto vLength = hn::Set(df, c.length);
  const auto x = hn::LoadU(df, c.in + f);
  if (writeFirst) hn::StoreU(LineSamples<D>(x), df, c.samples + w);
  const auto a = hn::Sub(hn::ConvertTo(df, hn::Add(hn::Iota(di, 0), hn::Set(di, w))), vd);
  const auto b = hn::Add(hn::Sub(a, vFixed), vLength);
  const auto p = hn::IfThenElse(hn::Lt(b, vLength), b, hn::Sub(b, vLength));
  hn::Vec<D> y;
  if (!InterpolateLanes<D>(c.samples, c.size, p, y)) {
    // Lanes the vector read cannot take: the group runs frame by frame
    // (writes already made are made again with the same values, and no read
    // of a line written first looks past its own frame).
    for (unsigned int k = f; k < f + n; ++k) LineFrame<kMode>(c, k, w);
    return;
  }
  if (!writeFirst) {
    const auto stored = feedsBack ? hn::Add(x, hn::Mul(hn::Set(df, c.feedback), y)) : x;
    hn::StoreU(LineSamples<D>(stored), df, c.samples + w);
  }
  const auto mixed = dry ? hn::Add(x, hn::Mul(hn::Set(df, c.mix), y)) : y;
  hn::StoreU(OutputSamples<D>(mixed), df, c.out + f);
  w += static_cast<int>(n);
  if (w == c.size) w = 0;
}

// As many groups of D from frame f as fit before `end` and the end of the
// ring, then the rest in groups of half the lanes while they split.
template <class D, unsigned int kMode>
HWY_INLINE void LineGroups(const LineChunk& c, unsigned int& f, unsigned int end, int& w) {
  const unsigned int n = static_cast<unsigned int>(hn::Lanes(D()));
  while (f + n <= end && w + static_cast<int>(n) <= c.size) {
    LineGroup<D, kMode>(c, f, w);
    f += n;
  }
  if constexpr (kSplits<D>) LineGroups<hn::Half<D>, kMode>(c, f, end, w);
}

// The chunk for one combination of kernels::kSweep* flags, fixed when compiled.
template <unsigned int kMode>
HWY_INLINE void SweptLineRun(float* HWY_RESTRICT samples, int size, int* write,
                             const float* HWY_RESTRICT d, const kernels::SweptLineGains& gains,
                             const float* in, float* out, unsigned int count) {
  const LineChunk c{
      samples, size, static_cast<float>(size), gains.fixedDelay, gains.mix, gains.feedback, d,
      in,      out};
  int w = *write;
  unsigned int f = 0;
  while (f < count) {
    LineGroups<ReadFloats, kMode>(c, f, count, w);
    // Frames left over at the end of the chunk or of the ring.
    if (f < count) LineFrame<kMode>(c, f++, w);
  }
  *write = w;
}

void sweptLineKernel(float* HWY_RESTRICT samples, int size, int* write, const float* HWY_RESTRICT d,
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

HWY_EXPORT(sweptDelaysKernel);
HWY_EXPORT(sweptLineKernel);

bool sweptDelays(float* row, unsigned int count, float width, float rate, float limit) noexcept {
  return HWY_DYNAMIC_DISPATCH(sweptDelaysKernel)(row, count, width, rate, limit);
}

void sweptLine(float* samples, int size, int& write, const float* sweeps,
               const SweptLineGains& gains, const float* in, float* out, unsigned int count,
               unsigned int mode) noexcept {
  HWY_DYNAMIC_DISPATCH(sweptLineKernel)(samples, size, &write, sweeps, gains, in, out, count, mode);
}

}  // namespace quorvel::audio::kernels
#endif  // HWY_ONCE
