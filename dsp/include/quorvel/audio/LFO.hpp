#pragma once

#include <atomic>

#include "quorvel/audio/Export.hpp"

namespace quorvel::audio {

// A sine low-frequency oscillator: one value per call, then one sample period
// forward. Its output is amplitude * sin(phaseOffset + 2 pi phase) + offset.
// The four parameters may be set from any thread while the audio thread runs
// process(); the running phase belongs to the audio thread alone.
class QUORVEL_DSP_API LFO {
 public:
  // Frequency 10 Hz, amplitude 1, offset 0, phase offset 0, phase 0.
  LFO() noexcept;
  LFO(const LFO&) = delete;
  LFO& operator=(const LFO&) = delete;

  // Oscillation frequency in Hz.
  float getFrequency() const noexcept { return frequency.load(); }
  // Factor applied to the sine.
  float getAmplitude() const noexcept { return amplitude.load(); }
  // Value added after scaling.
  float getOffset() const noexcept { return offset.load(); }
  // Constant phase shift in radians.
  float getPhaseOffset() const noexcept { return phaseOffset.load(); }
  // Running phase in cycles, normally in [0, 1). Audio thread only.
  float getPhase() const noexcept { return phase; }

  // Sets the frequency in Hz; stored unchanged, effective at the next call.
  void setFrequency(float hz) noexcept { frequency.store(hz); }
  // Sets the amplitude; stored unchanged.
  void setAmplitude(float value) noexcept { amplitude.store(value); }
  // Sets the offset; stored unchanged.
  void setOffset(float value) noexcept { offset.store(value); }
  // Sets the phase offset in radians; stored unchanged.
  void setPhaseOffset(float radians) noexcept { phaseOffset.store(radians); }

  // The current value at `sampleRate` Hz, then one step of 1 / sampleRate
  // seconds forward. A sample rate of 0 or below holds the phase still.
  // Compiled in the library, so the bits do not depend on the caller's flags.
  float process(int sampleRate) noexcept;
  // Puts the running phase back to 0; parameters and rate are kept.
  void resetPhase() noexcept { phase = 0.0f; }

 private:
  friend class SweptDelay;
  // fill() for the core's tests, from a source-private header.
  friend struct LFOAccess;
  // process(), for the core's own processors: defined in a source-private
  // header, so that it inlines there and is compiled only with the library.
  inline float step(int sampleRate) noexcept;
  // Takes `sampleRate` as the rate of the next steps (source-private header).
  inline void useRate(int sampleRate) noexcept;
  // `count` consecutive values of step(sampleRate) into `out`, the sines of
  // the chunk computed as one block.
  void fill(int sampleRate, float* out, unsigned int count) noexcept;
  // fill() of `first` into `firstOut` and of `second` into `secondOut`, the
  // two phase recurrences interleaved so that each hides the other's latency.
  static void fillPair(LFO& first, LFO& second, int sampleRate, float* firstOut, float* secondOut,
                       unsigned int count) noexcept;

  struct Chunk;

  std::atomic<float> frequency{10.0f};
  std::atomic<float> amplitude{1.0f};
  std::atomic<float> offset{0.0f};
  std::atomic<float> phaseOffset{0.0f};
  float phase = 0.0f;
  int sampleRate = 0;
  float inverseSampleRate = 0.0f;
};

}  // namespace quorvel::audio
