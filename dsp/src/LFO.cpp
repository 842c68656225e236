#include "quorvel/audio/LFO.hpp"

#include <cmath>

#include "OscillatorStep.hpp"
#include "vector/Phase.hpp"
#include "vector/Sine.hpp"

namespace quorvel::audio {

namespace {

// A chunk of at most kUncheckedSteps steps from a phase and an increment of
// at most kUncheckedBound cycles keeps the phase below 2^16 x 2^41 = 2^57
// cycles in magnitude, rounding included (each step adds at most the
// increment and a relative 2^-24; the wrap only shrinks it).
constexpr unsigned int kUncheckedSteps = 1u << 16;
constexpr float kUncheckedBound = 1099511627776.0f;  // 2^40

}  // namespace

// Settles, outside the audio thread, whether the block sine may take the
// vector kernel.
LFO::LFO() noexcept { detail::vectorSineInUse(); }

float LFO::process(int rate) noexcept { return step(rate); }

// One oscillator's chunk in the making: its parameters as read for the
// chunk, and its running phase.
struct LFO::Chunk {
  LFO& lfo;
  float* out;
  double shift;
  float increment;
  float amplitude;
  float offset;
  float phase;

  // Reads the parameters once for the chunk, where step() reads them for
  // every value: the same values for any change made between two chunks.
  Chunk(LFO& oscillator, int rate, float* values) noexcept : lfo(oscillator), out(values) {
    lfo.useRate(rate);
    shift = static_cast<double>(lfo.phaseOffset.load());
    increment = lfo.frequency.load() * lfo.inverseSampleRate;
    amplitude = lfo.amplitude.load();
    offset = lfo.offset.load();
    phase = lfo.phase;
  }

  // True when the phase cannot leave [-2^57, 2^57] within `count` steps, far
  // inside the limit: step()'s reset never fires, and the recurrence may run
  // without it.
  bool staysBounded(unsigned int count) const noexcept {
    return count <= kUncheckedSteps && std::fabs(increment) <= kUncheckedBound &&
           std::fabs(phase) <= kUncheckedBound;
  }

  // The angle of the current phase, as step() forms it, then one step on.
  template <bool kChecked>
  void advance(unsigned int i) noexcept {
    out[i] = detail::angleOf(shift, phase);
    phase = detail::nextPhase<kChecked>(increment, phase);
  }

  // The bounded chunk's angles at once, on vector lanes: every step and every
  // angle with the bits of advance<false>.
  void runOnLanes(unsigned int count) noexcept {
    phase = kernels::phaseAngles(increment, phase, shift, out, count);
  }

  // Turns the chunk's angles into values and keeps the phase.
  void finish(unsigned int count) noexcept {
    lfo.phase = phase;
    detail::sineBlock(out, out, count);
    kernels::scaleAndOffset(out, count, amplitude, offset);
  }
};

void LFO::fill(int rate, float* out, unsigned int count) noexcept {
  // The angles first, then the sines at once.
  Chunk chunk(*this, rate, out);
  if (chunk.staysBounded(count) && kernels::phaseRunsOnLanes()) {
    chunk.runOnLanes(count);
  } else if (chunk.staysBounded(count)) {
    for (unsigned int i = 0; i < count; ++i) chunk.advance<false>(i);
  } else {
    for (unsigned int i = 0; i < count; ++i) chunk.advance<true>(i);
  }
  chunk.finish(count);
}

void LFO::fillPair(LFO& first, LFO& second, int rate, float* firstOut, float* secondOut,
                   unsigned int count) noexcept {
  Chunk a(first, rate, firstOut);
  Chunk b(second, rate, secondOut);
  const bool bounded = a.staysBounded(count) && b.staysBounded(count);
  if (bounded && kernels::phaseRunsOnLanes()) {
    a.runOnLanes(count);
    b.runOnLanes(count);
  } else if (bounded) {
    // Two serial recurrences side by side: each one's adds wait on the last.
    for (unsigned int i = 0; i < count; ++i) {
      a.advance<false>(i);
      b.advance<false>(i);
    }
  } else {
    for (unsigned int i = 0; i < count; ++i) {
      a.advance<true>(i);
      b.advance<true>(i);
    }
  }
  a.finish(count);
  b.finish(count);
}

}  // namespace quorvel::audio
