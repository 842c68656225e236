#pragma once

#include "quorvel/audio/Chorus.hpp"
#include "quorvel/nodes/Export.hpp"
#include "quorvel/nodes/SweptDelayNode.hpp"

namespace quorvel::extensions::audioeffects {

// A chorus: each channel adds to its dry input a copy delayed by 1002 samples
// plus a slowly swept fractional extra delay, without feedback. Every channel
// has its own oscillator; neighbouring channels sweep a quarter cycle apart.
// Sweep width 0.025 s and frequency 0.2 Hz by default.
struct QUORVEL_NODES_API ChorusNode : SweptDelayNode<audio::Chorus> {
  // ChorusNode(numChannels) (explicit): one 48000-sample delay line and one oscillator per channel.
  using SweptDelayNode::SweptDelayNode;
};

}  // namespace quorvel::extensions::audioeffects
