#pragma once

#include "quorvel/audio/Vibrato.hpp"
#include "quorvel/nodes/Export.hpp"
#include "quorvel/nodes/SweptDelayNode.hpp"

namespace quorvel::extensions::audioeffects {

// A vibrato: each channel is replaced by itself read 1 sample plus a
// periodically swept fractional delay back, which bends the pitch up and
// down; no dry signal, no feedback. One oscillator sweeps all channels in
// step. Sweep width 0.01 s and frequency 4 Hz by default.
struct QUORVEL_NODES_API VibratoNode : SweptDelayNode<audio::Vibrato> {
  // VibratoNode(numChannels) (explicit): one 48000-sample delay line per channel and one shared
  // oscillator.
  using SweptDelayNode::SweptDelayNode;
};

}  // namespace quorvel::extensions::audioeffects
