#pragma once

#include <memory>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// A feedback echo: each channel mixes its input with the same channel delayed
// by delayMs milliseconds and feeds a share of the delayed signal back into
// its delay line, so every echo repeats, weaker by the feedback level.
// Parameters may be set from any thread; process() runs on the audio thread.
class QUORVEL_NODES_API DelayNode : public SingleBusAudioProcessorNode {
 public:
  using SingleBusAudioProcessorNode::process;

  // A node with one 48000-sample delay line per channel, for `numChannels` channels.
  explicit DelayNode(unsigned int numChannels);
  ~DelayNode() override;

  // The descriptor of node type AudioEffects.Delay (no properties).
  static NodeTypeInfo getNodeTypeInfo();

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept;
  // Gain of the input in the output (linear; default 0.7).
  float getDryMix() const noexcept;
  // Gain of the delayed signal in the output (linear; default 0.3).
  float getWetMix() const noexcept;
  // Delay time in milliseconds (default 200; 0 bypasses the effect).
  unsigned int getDelayMs() const noexcept;
  // Gain of the delayed signal written back into the line (linear; default 0.2).
  float getFeedbackLevel() const noexcept;

  // Turns the effect on (true) or bypasses it (false) from the next block on.
  void setIsEnabled(bool isEnabled) noexcept;
  // Sets the input gain, any float, effective from the next sample.
  void setDryMix(float dryMix) noexcept;
  // Sets the delayed-signal gain, any float, effective from the next sample.
  void setWetMix(float wetMix) noexcept;
  // Sets the delay in ms, effective from the next block; the delay in samples
  // is held to [1, 48000].
  void setDelayMs(unsigned int delayMs) noexcept;
  // Sets the feedback gain, any float, effective from the next sample.
  void setFeedbackLevel(float feedbackLevel) noexcept;

  // Accepts matching formats with at most as many channels as the node has lines.
  bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) override;
  // The effect's parameter table and facts, bound to this node; safe from any thread.
  audio::EffectControls& controls() noexcept;

  // Runs the echo on one block; always returns true.
  bool process(AudioBus& inputBus, AudioBus& outputBus) noexcept override;

 private:
  struct Internals;
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::audioeffects
