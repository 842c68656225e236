// The echo loops of the two fixed delays, several frames at a time.
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/EchoLoop.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "EffectSupport.hpp"
#include "vector/EchoLoop.hpp"
#include "vector/InterpolateLanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {

using EchoFloats = hn::ScalableTag<float>;

void echoLineKernel(float* HWY_RESTRICT samples, int size, int* read, int* write, const float* in,
                    float* out, unsigned int frames, const kernels::EchoGains& gains) {
  const EchoFloats df;
  const unsigned int n = static_cast<unsigned int>(hn::Lanes(df));
  int r = *read;
  int w = *write;
  // The read trails the write by the delay, a full line when they meet.
  const int behind = w - r;
  const int delay = behind > 0 ? behind : behind + size;
  // A frame reads what was written `delay` frames earlier: with a delay of at
  // least a vector, a vector of frames reads only what earlier vectors wrote.
  const bool wide = delay >= static_cast<int>(n);
  const auto dry = hn::Set(df, gains.dry);
  const auto wet = hn::Set(df, gains.wet);
  const auto feedback = hn::Set(df, gains.feedback);
  unsigned int f = 0;
  while (f < frames) {
    // Up to the first wrap of either index the line is contiguous.
    const int room = size - (r > w ? r : w);
    const unsigned int left = frames - f;
    const unsigned int run = static_cast<unsigned int>(room) < left ? room : left;
    const unsigned int end = f + run;
    if (wide) {
      for (; f + n <= end; f += n, r += n, w += n) {
        const auto x = hn::LoadU(df, in + f);
        const auto y = hn::LoadU(df, samples + r);
        hn::StoreU(LineSamples<EchoFloats>(hn::Add(hn::Mul(y, feedback), x)), df, samples + w);
        hn::StoreU(OutputSamples<EchoFloats>(hn::Add(hn::Mul(dry, x), hn::Mul(wet, y))), df,
                   out + f);
      }
    }
    for (; f < end; ++f, ++r, ++w) {
      const float x = in[f];
      const float y = samples[r];
      samples[w] = detail::lineSample(y * gains.feedback + x);
      out[f] = detail::outputSample(gains.dry * x + gains.wet * y);
    }
    if (r == size) r = 0;
    if (w == size) w = 0;
  }
  *read = r;
  *write = w;
}

unsigned int crossFedKernel(float* HWY_RESTRICT left, float* HWY_RESTRICT right, unsigned int index,
                            unsigned int length, const float* inLeft, const float* inRight,
                            float* outLeft, float* outRight, unsigned int frames,
                            const kernels::EchoGains& gains) {
  const EchoFloats df;
  const unsigned int n = static_cast<unsigned int>(hn::Lanes(df));
  const auto dry = hn::Set(df, gains.dry);
  const auto wet = hn::Set(df, gains.wet);
  const auto feedback = hn::Set(df, gains.feedback);
  const bool stereo = inRight != nullptr;
  unsigned int f = 0;
  while (f < frames) {
    // Up to the ring's end every index comes once, so no frame of the run
    // depends on another: the lines are read and written a vector at a time.
    const unsigned int remaining = frames - f;
    const unsigned int room = length - index;
    const unsigned int end = f + (room < remaining ? room : remaining);
    for (; f + n <= end; f += n, index += n) {
      // The order of the frame loop, so that buses processed in place, or
      // one channel's output on another's input, see what they see there.
      const auto l = hn::LoadU(df, left + index);
      const auto r = hn::LoadU(df, right + index);
      const auto xl = hn::LoadU(df, inLeft + f);
      hn::StoreU(OutputSamples<EchoFloats>(hn::Add(hn::Mul(wet, l), hn::Mul(dry, xl))), df,
                 outLeft + f);
      const auto storedLeft = LineSamples<EchoFloats>(hn::Add(hn::Mul(feedback, r), xl));
      hn::StoreU(storedLeft, df, left + index);
      if (stereo) {
        const auto xr = hn::LoadU(df, inRight + f);
        hn::StoreU(OutputSamples<EchoFloats>(hn::Add(hn::Mul(wet, r), hn::Mul(dry, xr))), df,
                   outRight + f);
        hn::StoreU(LineSamples<EchoFloats>(hn::Add(hn::Mul(feedback, storedLeft), xr)), df,
                   right + index);
      }
    }
    for (; f < end; ++f, ++index) {
      const float xl = inLeft[f];
      outLeft[f] = detail::outputSample(gains.wet * left[index] + gains.dry * xl);
      left[index] = detail::lineSample(gains.feedback * right[index] + xl);
      if (stereo) {
        const float xr = inRight[f];
        outRight[f] = detail::outputSample(gains.wet * right[index] + gains.dry * xr);
        right[index] = detail::lineSample(gains.feedback * left[index] + xr);
      }
    }
    if (index == length) index = 0;
  }
  return index;
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quorvel::audio::kernels {

HWY_EXPORT(echoLineKernel);
HWY_EXPORT(crossFedKernel);

void echoLine(float* samples, int size, int& read, int& write, const float* in, float* out,
              unsigned int frames, const EchoGains& gains) noexcept {
  HWY_DYNAMIC_DISPATCH(echoLineKernel)(samples, size, &read, &write, in, out, frames, gains);
}

unsigned int crossFedLines(float* left, float* right, unsigned int index, unsigned int length,
                           const float* inLeft, const float* inRight, float* outLeft,
                           float* outRight, unsigned int frames, const EchoGains& gains) noexcept {
  return HWY_DYNAMIC_DISPATCH(crossFedKernel)(left, right, index, length, inLeft, inRight, outLeft,
                                              outRight, frames, gains);
}

}  // namespace quorvel::audio::kernels
#endif  // HWY_ONCE
