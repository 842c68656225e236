#pragma once

#include <vector>

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/Node.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

using AudioBusFormatList = std::vector<AudioBusFormat>;
using AudioBusList = std::vector<AudioBus>;

// A graph node that processes audio on a fixed number of input and output buses.
class QUORVEL_SDK_API AudioNode : public Node {
 public:
  // A node with the given numbers of input and output buses.
  AudioNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses);
  ~AudioNode() override;

  // Number of input buses the node was built with.
  unsigned int getNumberOfInputBuses() const noexcept { return numberOfInputBuses_; }
  // Number of output buses the node was built with.
  unsigned int getNumberOfOutputBuses() const noexcept { return numberOfOutputBuses_; }

  // Negotiates the formats of all buses; true when the node accepts them.
  virtual bool setBusFormats(AudioBusFormatList& inputFormats, AudioBusFormatList& outputFormats) = 0;
  // Processes one block on all buses; true on success.
  virtual bool process(AudioBusList& inputBuses, AudioBusList& outputBuses) = 0;

 private:
  unsigned int numberOfInputBuses_;
  unsigned int numberOfOutputBuses_;
};

}  // namespace quorvel
