#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/NodeTypeInfo.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/nodes/EffectControls.hpp"

// What every effect node does around its processor.
namespace quorvel::extensions::audioeffects::nodes {

// The descriptor of an effect node type: identity and texts from the effect,
// filed under audio processing and effects, no schemas.
inline NodeTypeInfo effectTypeInfo(const audio::EffectInfo& effect) {
  NodeTypeInfo info;
  info.type = kNodeTypeNamespace;
  info.subtype = std::string(effect.name);
  info.displayName = std::string(effect.displayName);
  info.description = std::string(effect.description);
  info.categories = {NODE_CATEGORY_AUDIO_PROCESSING, NODE_CATEGORY_EFFECTS};
  return info;
}

// An effect with room for its channel pointers, so that a block runs
// without allocating.
template <typename Effect>
struct EffectBlock {
  template <typename... Args>
  explicit EffectBlock(Args&&... args)
      : effect(std::forward<Args>(args)...), channels(effect.getNumChannels()) {}

  // Runs the effect on one host block. The output bus already holds a copy
  // of the input (copyFrom), so the effect runs in place on the output's
  // channels: the frames both buses hold, and the channels both hold that
  // the effect has state for. Channels beyond keep the copied input; nothing
  // outside the output is ever written. The block's own sample rate and
  // channel count are its format.
  void run(const AudioBus& inputBus, AudioBus& outputBus) noexcept {
    const AudioBuffer<float>& input = inputBus.getBuffer();
    AudioBuffer<float>& output = outputBus.getBuffer();
    effect.prepare(input.getSampleRate(), input.getNumberOfChannels());
    const unsigned int frames = std::min(input.getNumberOfFrames(), output.getNumberOfFrames());
    const unsigned int used = std::min(
        {input.getNumberOfChannels(), output.getNumberOfChannels(), effect.getNumChannels()});
    for (unsigned int c = 0; c < used; ++c) channels[c] = output.getChannel(c);
    effect.process(channels.data(), channels.data(), used, frames);
  }

  Effect effect;
  std::vector<float*> channels;
};

}  // namespace quorvel::extensions::audioeffects::nodes
