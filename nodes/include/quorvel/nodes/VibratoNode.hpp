#pragma once

#include <memory>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// A vibrato: each channel is replaced by itself read 1 sample plus a
// periodically swept fractional delay back, which bends the pitch up and
// down; no dry signal, no feedback. One oscillator sweeps all channels in step.
// Parameters may be set from any thread; process() runs on the audio thread.
class QUORVEL_NODES_API VibratoNode : public SingleBusAudioProcessorNode {
 public:
  using SingleBusAudioProcessorNode::process;

  // A node with one 48000-sample delay line per channel, for `numChannels`
  // channels, and one shared oscillator.
  explicit VibratoNode(unsigned int numChannels);
  ~VibratoNode() override;

  // The descriptor of node type AudioEffects.Vibrato (no properties).
  static NodeTypeInfo getNodeTypeInfo();

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept;
  // Largest swept delay in seconds (default 0.01).
  float getSweepWidth() const noexcept;
  // Sweep frequency in Hz (default 4).
  float getFrequency() const noexcept;

  // Turns the effect on (true) or bypasses it (false) from the next block on.
  void setIsEnabled(bool isEnabled) noexcept;
  // Sets the sweep width in seconds, any float, effective from the next frame.
  void setSweepWidth(float sweepWidth) noexcept;
  // Sets the sweep frequency in Hz, any float; the phase is kept.
  void setFrequency(float frequency) noexcept;

  // Accepts matching formats with at most 2 channels.
  bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) override;
  // The effect's parameter table and facts, bound to this node; safe from any thread.
  audio::EffectControls& controls() noexcept;

  // Runs the vibrato on one block; always returns true.
  bool process(AudioBus& inputBus, AudioBus& outputBus) noexcept override;

 private:
  struct Internals;
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::audioeffects
