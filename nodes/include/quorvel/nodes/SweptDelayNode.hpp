#pragma once

#include <memory>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"
#include "quorvel/audio/Chorus.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/Flanger.hpp"
#include "quorvel/audio/Vibrato.hpp"
#include "quorvel/nodes/Export.hpp"

namespace quorvel::extensions::audioeffects {

// The node of one swept-delay effect, `SweptEffect` being audio::Chorus,
// audio::Flanger or audio::Vibrato: each channel is read from its delay line
// at a fixed delay plus an oscillator-swept fractional one. ChorusNode,
// FlangerNode and VibratoNode are its three nodes.
// Parameters may be set from any thread; process() runs on the audio thread.
template <typename SweptEffect>
class QUORVEL_NODES_API SweptDelayNode : public SingleBusAudioProcessorNode {
 public:
  using SingleBusAudioProcessorNode::process;

  // A node with one 48000-sample delay line per channel, for `numChannels`
  // channels, and the effect's oscillators.
  explicit SweptDelayNode(unsigned int numChannels);
  ~SweptDelayNode() override;

  // The descriptor of the effect's node type, e.g. AudioEffects.Chorus (no properties).
  static NodeTypeInfo getNodeTypeInfo();

  // True while the effect runs; false bypasses it.
  bool getIsEnabled() const noexcept;
  // Largest swept delay in seconds.
  float getSweepWidth() const noexcept;
  // Sweep frequency in Hz of channel 0's oscillator (of the one all channels
  // share, for the vibrato); 0 on a node built without oscillators.
  float getFrequency() const noexcept;

  // Turns the effect on (true) or bypasses it (false) from the next block on.
  void setIsEnabled(bool isEnabled) noexcept;
  // Sets the sweep width in seconds, any float, effective from the next
  // sample (from the next frame for the vibrato).
  void setSweepWidth(float sweepWidth) noexcept;
  // Sets every oscillator's sweep frequency in Hz, any float; phases are kept.
  void setFrequency(float frequency) noexcept;

  // Accepts matching formats with at most 2 channels.
  bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) override;
  // The effect's parameter table and facts, bound to this node; safe from any thread.
  audio::EffectControls& controls() noexcept;

  // Runs the effect on one block; always returns true.
  bool process(AudioBus& inputBus, AudioBus& outputBus) noexcept override;

 private:
  struct Internals;
  std::unique_ptr<Internals> internals;
};

// Compiled once, in the library, for the three swept effects. The export mark
// is repeated here because clang gives an explicit instantiation's vtable and
// type information the visibility its declaration names.
extern template class QUORVEL_NODES_API SweptDelayNode<audio::Chorus>;
extern template class QUORVEL_NODES_API SweptDelayNode<audio::Flanger>;
extern template class QUORVEL_NODES_API SweptDelayNode<audio::Vibrato>;

}  // namespace quorvel::extensions::audioeffects
