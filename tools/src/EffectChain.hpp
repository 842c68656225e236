#pragma once

#include <memory>
#include <quorvel/AudioBuffer.hpp>
#include <quorvel/AudioBus.hpp>
#include <quorvel/Node.hpp>
#include <quorvel/SingleBusAudioProcessorNode.hpp>
#include <vector>

#include "EffectCatalog.hpp"
#include "EffectRequest.hpp"

namespace quorvelfx {

// Effect nodes connected in series, each reading the previous one's output
// buffer. Nodes are created through their factory and configured from the
// user's settings; block formats are negotiated with setBusFormat.
class EffectChain {
 public:
  // Creates and configures a node per request; throws CliError(kExitUsage)
  // for an unknown effect or parameter or a value that does not parse.
  EffectChain(const EffectCatalog& catalog, const std::vector<EffectRequest>& requests);

  // Number of effects.
  std::size_t size() const noexcept { return stages_.size(); }
  // The type of effect `index`.
  const EffectType& type(std::size_t index) const { return *stages_[index].type; }
  // The node of effect `index`.
  quorvel::Node& node(std::size_t index) const { return *stages_[index].node; }

  // Allocates buffers for blocks of up to `blockFrames` frames and negotiates
  // the format with every node; throws CliError(kExitProcessing) naming the
  // effect that refuses it (e.g. a mono input into a stereo-only effect), and
  // CliError(kExitUsage) when a delay setting needs more than the nodes'
  // one-second-at-48-kHz delay lines hold at `sampleRate`.
  void prepare(unsigned int sampleRate, unsigned int channels, unsigned int blockFrames);
  // The planar buffer to fill before process(); holds blockFrames frames.
  quorvel::AudioBuffer<float>& input() { return *buffers_.front(); }
  // Runs the first `frames` frames of input() through every node and returns
  // the last node's output; a shorter block is negotiated anew.
  const quorvel::AudioBuffer<float>& process(unsigned int frames);

 private:
  struct Stage {
    const EffectType* type;
    std::unique_ptr<quorvel::Node> node;
    quorvel::SingleBusAudioProcessorNode* processor;
  };
  void negotiate(unsigned int frames);
  void checkDelayLines() const;

  std::vector<Stage> stages_;
  std::vector<std::unique_ptr<quorvel::AudioBuffer<float>>> buffers_;
  std::vector<quorvel::AudioBus> buses_;
  unsigned int sampleRate_ = 0;
  unsigned int channels_ = 0;
  unsigned int blockFrames_ = 0;
  unsigned int negotiatedFrames_ = 0;
};

}  // namespace quorvelfx
