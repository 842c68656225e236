#pragma once

#include <atomic>
#include <memory>

#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/Export.hpp"

namespace quorvel::audio {

// A stereo feedback echo whose two delay lines feed each other: the left line
// takes the left input plus a share of the right line's echo, the right line
// the right input plus a share of the left line, so echoes bounce from side
// to side. Channel 0 is left, channel 1 right.
class QUORVEL_DSP_API PingPongDelay final : public Effect {
 public:
  // An echo with two silent 48000-sample lines.
  PingPongDelay();

  static const EffectInfo& typeInfo() noexcept;
  static ParameterTable parameterTable() noexcept;

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept { return isEnabled.load(); }
  // Delay time in ms (default 200; 0 bypasses the effect).
  unsigned int getDelayMs() const noexcept { return delayMs.load(); }
  // Gain of the input in the output (linear; default 0.7).
  float getDryMix() const noexcept { return dryMix.load(); }
  // Gain of the delayed signal in the output (linear; default 0.3).
  float getWetMix() const noexcept { return wetMix.load(); }
  // Gain of the other line's echo written into each line (linear; default 0.2).
  float getFeedbackLevel() const noexcept { return feedbackLevel.load(); }

  // Turns the effect on or bypasses it, from the next block on.
  void setIsEnabled(bool value) noexcept { isEnabled.exchange(value); }
  // Delay in ms, from the next block on; a new delay changes only the ring
  // length (held to [1, 48000] samples), the lines keep their contents.
  void setDelayMs(unsigned int value) noexcept { delayMs.exchange(value); }
  // Any float, from the next block on.
  void setDryMix(float value) noexcept { dryMix.exchange(value); }
  // Any float, from the next block on.
  void setWetMix(float value) noexcept { wetMix.exchange(value); }
  // Any float, from the next block on.
  void setFeedbackLevel(float value) noexcept { feedbackLevel.exchange(value); }

  const EffectInfo& info() const noexcept override { return typeInfo(); }
  ParameterTable parameters() const noexcept override { return parameterTable(); }
  bool isBypassed() const noexcept override { return !getIsEnabled() || getDelayMs() == 0; }
  double tailSamples(unsigned int sampleRate, double level) const noexcept override;

  unsigned int getNumChannels() const noexcept override { return 2; }
  // A new sample rate re-derives the ring length; nothing is cleared.
  void prepare(unsigned int sampleRate, unsigned int channels) noexcept override;
  void reset() noexcept override;
  void process(const float* const* in, float* const* out, unsigned int channels,
               unsigned int frames) noexcept override;

 private:
  unsigned int sampleRate = 0;
  unsigned int lastDelayMs = 0;
  unsigned int delaySamples = 0;
  unsigned int lastSampleRate = 0;
  std::unique_ptr<float[]> leftBuffer;
  std::unique_ptr<float[]> rightBuffer;
  // Both indices start at 0 and advance by the same rule, so they are always
  // equal: one index serves both lines.
  unsigned int index = 0;
  std::atomic<bool> isEnabled{true};
  std::atomic<unsigned int> delayMs{200};
  std::atomic<float> dryMix{0.7f};
  std::atomic<float> wetMix{0.3f};
  std::atomic<float> feedbackLevel{0.2f};
};

}  // namespace quorvel::audio
