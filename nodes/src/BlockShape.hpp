#pragma once

#include <algorithm>

#include "quorvel/AudioBuffer.hpp"

namespace quorvel::extensions::audioeffects {

// The part of a block that a node runs its effect on: the frames both buses
// hold, and the channels both buses hold that the node also has state for.
// Channels beyond it keep the copied input; nothing outside the output is
// ever written.
struct BlockShape {
  unsigned int frames;
  unsigned int channels;
};

// The processable shape of a block from `input` into `output`, for a node
// with per-channel state for `stateChannels` channels.
inline BlockShape processableShape(const AudioBuffer<float>& input,
                                   const AudioBuffer<float>& output,
                                   unsigned int stateChannels) noexcept {
  return {std::min(input.getNumberOfFrames(), output.getNumberOfFrames()),
          std::min({input.getNumberOfChannels(), output.getNumberOfChannels(), stateChannels})};
}

}  // namespace quorvel::extensions::audioeffects
