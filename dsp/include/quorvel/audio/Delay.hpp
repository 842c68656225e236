#pragma once

#include <atomic>
#include <vector>

#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/Export.hpp"

namespace quorvel::audio {

// A feedback echo: each channel mixes its input with the same channel delayed
// by delayMs milliseconds and writes the input plus a share of the delayed
// signal back into its delay line, so every echo repeats, weaker by the
// feedback level.
class QUORVEL_DSP_API Delay final : public Effect {
 public:
  // An echo with one silent 48000-sample line per channel, for `channels` channels.
  explicit Delay(unsigned int channels);

  static const EffectInfo& typeInfo() noexcept;
  static ParameterTable parameterTable() noexcept;
  // The delay of `delayMs` ms at `sampleRate` Hz in whole samples:
  // (sampleRate / 1000) x delayMs in double, truncated, held to
  // [1, kDelayLineLength] so that every read stays inside the line.
  static unsigned int delayInSamples(unsigned int sampleRate, unsigned int delayMs) noexcept;
  // The longest delay in ms that fits the line at `sampleRate` Hz.
  static double maxDelayMs(unsigned int sampleRate) noexcept;

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept { return isEnabled.load(); }
  // Gain of the input in the output (linear; default 0.7).
  float getDryMix() const noexcept { return dryMix.load(); }
  // Gain of the delayed signal in the output (linear; default 0.3).
  float getWetMix() const noexcept { return wetMix.load(); }
  // Delay time in ms (default 200; 0 bypasses the effect).
  unsigned int getDelayMs() const noexcept { return delayMs.load(); }
  // Gain of the delayed signal written back into the line (linear; default 0.2).
  float getFeedbackLevel() const noexcept { return feedbackLevel.load(); }

  // Turns the effect on or bypasses it, from the next block on.
  void setIsEnabled(bool value) noexcept { isEnabled.exchange(value); }
  // Any float; from the next block on.
  void setDryMix(float value) noexcept { dryMix.exchange(value); }
  // Any float; from the next block on.
  void setWetMix(float value) noexcept { wetMix.exchange(value); }
  // Delay in ms, from the next block on; a new delay moves only the read
  // positions, so the echoes already in the line come out at the new distance.
  void setDelayMs(unsigned int value) noexcept { delayMs.exchange(value); }
  // Any float; from the next block on.
  void setFeedbackLevel(float value) noexcept { feedbackLevel.exchange(value); }

  const EffectInfo& info() const noexcept override { return typeInfo(); }
  ParameterTable parameters() const noexcept override { return parameterTable(); }
  bool isBypassed() const noexcept override { return !getIsEnabled() || getDelayMs() == 0; }
  double tailSamples(unsigned int sampleRate, double level) const noexcept override;

  unsigned int getNumChannels() const noexcept override { return numChannels; }
  // A new sample rate or channel count clears every line.
  void prepare(unsigned int sampleRate, unsigned int channels) noexcept override;
  void reset() noexcept override;
  void process(const float* const* in, float* const* out, unsigned int channels,
               unsigned int frames) noexcept override;

 private:
  unsigned int numChannels;
  std::atomic<bool> isEnabled{true};
  std::atomic<float> dryMix{0.7f};
  std::atomic<float> wetMix{0.3f};
  std::atomic<unsigned int> delayMs{200};
  std::atomic<float> feedbackLevel{0.2f};
  // The format prepare() asked for, and the one the lines were last set up for.
  unsigned int sampleRate = 0;
  unsigned int blockChannels = 0;
  unsigned int lastDelayMs = 0;
  unsigned int lastSampleRate = 0;
  unsigned int lastChannels = 0;
  std::vector<CircularBuffer> buffers;
};

}  // namespace quorvel::audio
