#include "quorvel/audio/SweptDelay.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "EffectSupport.hpp"
#include "InterpolatedRead.hpp"
#include "OscillatorStep.hpp"
#include "quorvel/audio/IeeeArithmeticScope.hpp"
#include "vector/SweepLoops.hpp"

namespace quorvel::audio {

namespace {

// Frames per pass: a block is run in chunks of at most this many frames,
// first stepping the oscillators for the whole chunk, then walking each
// delay line through it.
constexpr unsigned int kChunkFrames = 256;

// A quarter cycle in radians: neighbouring channels' oscillators start this
// far apart so that a stereo pair sweeps in quadrature.
constexpr double kQuarterCycle = 1.5707963267948966;

// Every oscillator runs between 0 and 1: a sine of this amplitude around
// this centre.
constexpr float kSweepCentre = 0.5f;

// fmodf(x, length) for length > 0. A read position lies, before reduction,
// in [0, 2 x length) for any sensible sweep: there the remainder is x itself
// or x - length, which is exact (x and length are within a factor of two of
// each other). Anything else takes the library call.
float foldIntoLine(float x, float length) noexcept {
  if (x >= 0.0f) {
    if (x < length) return x;
    if (x < 2.0f * length) return x - length;
  }
  return std::fmod(x, length);
}

// The read position `fixedDelay` + `d` samples behind write index `write`
// of a line of `length` samples, reduced into (-length, length); the line's
// interpolated read wraps what remains.
float readPosition(int write, float d, float fixedDelay, float length) noexcept {
  return foldIntoLine(((static_cast<float>(write) - d) - fixedDelay) + length, length);
}

}  // namespace

SweptDelay::SweptDelay(const Design& design, unsigned int channels)
    : shape(&design),
      numChannels(channels),
      sweepWidth(design.sweepWidth),
      sweeps(kChunkFrames * (design.sharedOscillator ? 1 : channels)),
      rowsWithin(design.sharedOscillator ? 1 : channels) {
  // The oscillators' phase offsets are rounded here: in the same mode as
  // process() computes in, whatever the constructing thread's mode.
  const IeeeArithmeticScope ieeeArithmetic;
  buffers.reserve(channels);
  const unsigned int oscillators = design.sharedOscillator ? 1 : channels;
  lfos.reserve(oscillators);
  for (unsigned int i = 0; i < channels; ++i) buffers.push_back(CircularBuffer(kDelayLineLength));
  for (unsigned int i = 0; i < oscillators; ++i) {
    lfos.push_back(std::make_unique<LFO>());
    LFO& lfo = *lfos.back();
    lfo.setFrequency(design.frequency);
    lfo.setAmplitude(kSweepCentre);
    lfo.setOffset(kSweepCentre);
    if (!design.sharedOscillator) lfo.setPhaseOffset(static_cast<float>(i * kQuarterCycle));
  }
}

double SweptDelay::maxSweepWidth(float fixedDelay, unsigned int rate) noexcept {
  if (rate == 0) return std::numeric_limits<double>::infinity();
  // The deepest read, fixed + width x rate samples back plus the upper
  // neighbour of the interpolation, stays inside the line.
  // Rounded down to a float whose deepest swept delay, as the effect forms
  // it in float, and its exact value both stay within the bound.
  const double room = kDelayLineLength - static_cast<double>(fixedDelay) - 2.0;
  const float sampleRate = static_cast<float>(rate);
  float width = static_cast<float>(room / rate);
  while (width > 0.0f && (static_cast<double>(width * sampleRate) > room ||
                          static_cast<double>(width) * rate > room)) {
    width = std::nextafter(width, 0.0f);
  }
  return width;
}

float SweptDelay::getFrequency() const noexcept {
  return lfos.empty() ? 0.0f : lfos.front()->getFrequency();
}

void SweptDelay::setFrequency(float hz) noexcept {
  for (const std::unique_ptr<LFO>& lfo : lfos) lfo->setFrequency(hz);
}

double SweptDelay::latencySamples(unsigned int rate) const noexcept {
  if (shape->dryInOutput || isBypassed()) return 0.0;
  // Without the dry signal the output is heard at the centre of the sweep.
  const float centre = detail::sweptDelay(kSweepCentre, getSweepWidth(), static_cast<float>(rate));
  return shape->fixedDelay + static_cast<double>(centre);
}

double SweptDelay::tailSamples(unsigned int rate, double level) const noexcept {
  if (isBypassed()) return 0.0;
  // The deepest read, held to the line: once a line's worth of silence is
  // written, nothing of the input is left in it.
  const double width = std::fabs(static_cast<double>(getSweepWidth()));
  const double swept = std::isfinite(width) ? width * rate : 0.0;
  const double deepest =
      std::min(shape->fixedDelay + swept + 1.0, static_cast<double>(kDelayLineLength));
  const double echoes = detail::audibleEchoes(shape->dryInOutput ? shape->mix : 1.0,
                                              shape->feedsBack ? shape->feedback : 0.0, level);
  return echoes * std::ceil(deepest);
}

void SweptDelay::prepare(unsigned int rate, unsigned int channels) noexcept {
  sampleRate = rate;
  blockChannels = channels;
}

void SweptDelay::reset() noexcept {
  for (CircularBuffer& line : buffers) line.reset();
  for (const std::unique_ptr<LFO>& lfo : lfos) lfo->resetPhase();
  lastSampleRate = 0;
  lastChannels = 0;
}

void SweptDelay::process(const float* const* in, float* const* out, unsigned int channels,
                         unsigned int frames) noexcept {
  if (!isEnabled.load()) return detail::copyThrough(in, out, 0, channels, frames);
  // The same bits whatever floating-point mode the calling thread is in.
  const IeeeArithmeticScope ieeeArithmetic;

  // On a change of sample rate or channel count, old audio would be replayed
  // at the wrong rate or on the wrong channel: clear every line.
  if (sampleRate != lastSampleRate || blockChannels != lastChannels) {
    for (CircularBuffer& line : buffers) line.reset();
    lastSampleRate = sampleRate;
    lastChannels = blockChannels;
  }
  const unsigned int used = std::min(channels, numChannels);
  detail::copyThrough(in, out, used, channels, frames);
  // A block without channels still steps a shared oscillator: it keeps time
  // with the stream, so the sweep does not jump when channels return.
  if (frames == 0 || (used == 0 && !shape->sharedOscillator)) return;

  for (unsigned int start = 0; start < frames; start += kChunkFrames) {
    const unsigned int count = std::min(kChunkFrames, frames - start);
    sweep(used, count);
    for (unsigned int c = 0; c < used; ++c) {
      const float* const x = in[c] + start;
      float* const y = out[c] + start;
      if (shape->writeBeforeRead) {
        if (shape->dryInOutput) {
          runLine<true, false, true>(c, x, y, count);
        } else {
          runLine<true, false, false>(c, x, y, count);
        }
      } else if (shape->feedsBack) {
        if (shape->dryInOutput) {
          runLine<false, true, true>(c, x, y, count);
        } else {
          runLine<false, true, false>(c, x, y, count);
        }
      } else if (shape->dryInOutput) {
        runLine<false, false, true>(c, x, y, count);
      } else {
        runLine<false, false, false>(c, x, y, count);
      }
    }
  }
}

// Steps the oscillators through the `count` frames of a chunk and stores each
// swept delay: one row per channel, or one row for a shared oscillator. The
// width is read once per chunk, the same as once per frame for any change
// made between blocks. The channels' oscillators are independent of each
// other, so each fills its own row in one pass, the sines of a row as one
// block; the pass that turns a row into delays also checks whether the line
// kernel can take them.
void SweptDelay::sweep(unsigned int channels, unsigned int count) noexcept {
  const int lfoRate = static_cast<int>(sampleRate);
  const float rate = static_cast<float>(sampleRate);
  const float limit = kernels::sweptLineLimit(kDelayLineLength, shape->fixedDelay, count);
  float* const d = sweeps.data();
  if (shape->sharedOscillator) {
    lfos.front()->fill(lfoRate, d, count);
    rowsWithin[0] = kernels::sweptDelays(d, count, sweepWidth.load(), rate, limit);
    return;
  }
  // Independent oscillators, so a stereo pair is stepped side by side.
  unsigned int c = 0;
  for (; c + 2 <= channels; c += 2) {
    LFO::fillPair(*lfos[c], *lfos[c + 1], lfoRate, d + c * kChunkFrames, d + (c + 1) * kChunkFrames,
                  count);
  }
  if (c < channels) lfos[c]->fill(lfoRate, d + c * kChunkFrames, count);
  const float width = sweepWidth.load();
  for (c = 0; c < channels; ++c) {
    rowsWithin[c] = kernels::sweptDelays(d + c * kChunkFrames, count, width, rate, limit);
  }
}

// One channel's delay line through a chunk. kWriteFirst writes the input
// before the read (then the line stores the input alone); otherwise the read
// comes first and the line stores the input plus, with kFeedback, the
// design's share of the delayed sample. kDry adds the design's share of the
// delayed sample to the input; otherwise the output is the delayed sample.
template <bool kWriteFirst, bool kFeedback, bool kDry>
void SweptDelay::runLine(unsigned int channel, const float* in, float* out,
                         unsigned int count) noexcept {
  static_assert(!(kWriteFirst && kFeedback), "a line written first cannot feed back its read");
  CircularBuffer& line = buffers[channel];
  float* const samples = line.data();
  const int size = line.getSize();
  const float length = static_cast<float>(size);
  const float fixed = shape->fixedDelay;
  const float mix = shape->mix;
  const float feedback = shape->feedback;
  const unsigned int row = shape->sharedOscillator ? 0 : channel;
  const float* const d = sweeps.data() + row * kChunkFrames;
  int w = line.getWritePointer();

  // Wherever no read of the chunk wraps round to the chunk's own writes, the
  // line runs several frames at a time, each group of frames whose reads do
  // not depend on the group's own writes as vectors; otherwise frame by frame.
  constexpr unsigned int kMode = (kWriteFirst ? kernels::kSweepWriteFirst : 0u) |
                                 (kFeedback ? kernels::kSweepFeedback : 0u) |
                                 (kDry ? kernels::kSweepDry : 0u);
  if (rowsWithin[row] && size == kDelayLineLength) {
    kernels::sweptLine(samples, size, w, d, {fixed, mix, feedback}, in, out, count, kMode);
  } else {
    for (unsigned int f = 0; f < count; ++f) {
      const float x = in[f];
      if (kWriteFirst) samples[w] = detail::lineSample(x);
      const float y = detail::interpolateAt(samples, size, readPosition(w, d[f], fixed, length));
      if (!kWriteFirst) samples[w] = detail::lineSample(kFeedback ? x + feedback * y : x);
      if (++w == size) w = 0;
      out[f] = detail::outputSample(kDry ? x + mix * y : y);
    }
  }
  line.setWritePointer(w);
}

}  // namespace quorvel::audio
