#pragma once

#include <memory>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// A chorus: each channel adds to its dry input a copy delayed by 1002 samples
// plus a slowly swept fractional extra delay, without feedback. Every channel
// has its own oscillator; neighbouring channels sweep a quarter cycle apart.
// Parameters may be set from any thread; process() runs on the audio thread.
class QUORVEL_NODES_API ChorusNode : public SingleBusAudioProcessorNode {
 public:
  using SingleBusAudioProcessorNode::process;

  // A node with one 48000-sample delay line and one oscillator per channel,
  // for `numChannels` channels.
  explicit ChorusNode(unsigned int numChannels);
  ~ChorusNode() override;

  // The descriptor of node type AudioEffects.Chorus (no properties).
  static NodeTypeInfo getNodeTypeInfo();

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept;
  // Largest swept extra delay in seconds (default 0.025).
  float getSweepWidth() const noexcept;
  // Sweep frequency in Hz of channel 0's oscillator (default 0.2); 0 on a
  // node built without channels.
  float getFrequency() const noexcept;

  // Turns the effect on (true) or bypasses it (false) from the next block on.
  void setIsEnabled(bool isEnabled) noexcept;
  // Sets the sweep width in seconds, any float, effective from the next sample.
  void setSweepWidth(float sweepWidth) noexcept;
  // Sets every channel's sweep frequency in Hz, any float; phases are kept.
  void setFrequency(float frequency) noexcept;

  // Accepts matching formats with at most 2 channels.
  bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) override;
  // The effect's parameter table and facts, bound to this node; safe from any thread.
  audio::EffectControls& controls() noexcept;

  // Runs the chorus on one block; always returns true.
  bool process(AudioBus& inputBus, AudioBus& outputBus) noexcept override;

 private:
  struct Internals;
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::audioeffects
