#pragma once

#include <memory>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/QVAnyMap.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// A stereo feedback echo whose two delay lines feed each other: the left line
// takes the left input plus a share of the right line's echo, the right line
// the right input plus a share of the left line, so echoes bounce from side to
// side. Its parameters are also host properties: enabled, delayMs, dryMix,
// wetMix and feedbackLevel. Parameters may be set from any thread; process()
// runs on the audio thread.
class QUORVEL_NODES_API PingPongDelayNode : public SingleBusAudioProcessorNode {
 public:
  using SingleBusAudioProcessorNode::process;

  // A node with two 48000-sample lines and its five properties registered;
  // `configuration` is not read.
  explicit PingPongDelayNode(const QVAnyMap& configuration);
  ~PingPongDelayNode() override;

  // The descriptor of node type AudioEffects.PingPongDelay with its five property schemas.
  static NodeTypeInfo getNodeTypeInfo();

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept;
  // Delay time in milliseconds (default 200; 0 bypasses the effect).
  unsigned int getDelayMs() const noexcept;
  // Gain of the input in the output (linear; default 0.7).
  float getDryMix() const noexcept;
  // Gain of the delayed signal in the output (linear; default 0.3).
  float getWetMix() const noexcept;
  // Gain of the other line's echo written into each line (linear; default 0.2).
  float getFeedbackLevel() const noexcept;

  // Turns the effect on (true) or bypasses it (false) from the next block on.
  void setIsEnabled(bool isEnabled) noexcept;
  // Sets the delay in ms, effective from the next block; the delay in samples
  // is held to [1, 48000].
  void setDelayMs(unsigned int delayMs) noexcept;
  // Sets the input gain, any float, effective from the next block.
  void setDryMix(float dryMix) noexcept;
  // Sets the delayed-signal gain, any float, effective from the next block.
  void setWetMix(float wetMix) noexcept;
  // Sets the feedback gain, any float (not held to the schema's 0.99), from the next block.
  void setFeedbackLevel(float feedbackLevel) noexcept;

  // Accepts matching formats of exactly two channels.
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
