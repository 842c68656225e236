#pragma once

#include <atomic>
#include <cmath>

#include "quorvel/audioeffects/Export.hpp"

namespace quorvel::audio {

// A sine low-frequency oscillator: one value per call, then one sample period
// forward. Its output is amplitude * sin(phaseOffset + 2 pi phase) + offset.
// The four parameters may be set from any thread while the audio thread runs
// process(); the running phase belongs to the audio thread alone.
class QUORVEL_AUDIOEFFECTS_API LFO {
 public:
  // Frequency 10 Hz, amplitude 1, offset 0, phase offset 0, phase 0.
  LFO() noexcept = default;
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
  float process(int sampleRate) noexcept;

 private:
  // A phase beyond this many cycles can only come from a non-finite or absurd
  // frequency: far below the point where the angle would overflow a float.
  static constexpr float kPhaseLimit = 18446744073709551616.0f;  // 2^64

  std::atomic<float> frequency{10.0f};
  std::atomic<float> amplitude{1.0f};
  std::atomic<float> offset{0.0f};
  std::atomic<float> phaseOffset{0.0f};
  float phase = 0.0f;
  int sampleRate = 0;
  float inverseSampleRate = 0.0f;
};

inline float LFO::process(int rate) noexcept {
  if (rate != sampleRate) {
    sampleRate = rate;
    inverseSampleRate = rate > 0 ? static_cast<float>(1.0 / rate) : 0.0f;
  }
  const float currentOffset = offset.load();
  const float currentAmplitude = amplitude.load();
  const float angle = static_cast<float>(static_cast<double>(phaseOffset.load()) +
                                         static_cast<double>(phase) * 6.283185307179586);
  const float value = std::sin(angle) * currentAmplitude + currentOffset;
  float next = frequency.load() * inverseSampleRate + phase;
  if (next >= 1.0f) next -= 1.0f;
  // A non-finite step would leave the phase NaN or infinite for good; start
  // again at 0 so the oscillator recovers once a sane frequency is set.
  if (!(std::fabs(next) <= kPhaseLimit)) next = 0.0f;
  phase = next;
  return value;
}

}  // namespace quorvel::audio
