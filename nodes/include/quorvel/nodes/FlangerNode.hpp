#pragma once

#include "quorvel/audio/Flanger.hpp"
#include "quorvel/nodes/Export.hpp"
#include "quorvel/nodes/SweptDelayNode.hpp"

namespace quorvel::extensions::audioeffects {

// A flanger: each channel adds to its input a copy delayed by 2 samples plus a
// short swept fractional delay, and feeds part of that copy back into its
// delay line. Every channel has its own oscillator; neighbouring channels
// sweep a quarter cycle apart. Sweep width 0.005 s and frequency 0.4 Hz by
// default.
struct QUORVEL_NODES_API FlangerNode : SweptDelayNode<audio::Flanger> {
  // FlangerNode(numChannels) (explicit): one 48000-sample delay line and one oscillator per
  // channel.
  using SweptDelayNode::SweptDelayNode;
};

}  // namespace quorvel::extensions::audioeffects
