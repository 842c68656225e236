#pragma once

#include "quorvel/AudioBus.hpp"
#include "quorvel/AudioBusFormat.hpp"
#include "quorvel/AudioNode.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

// An audio node with one input bus and one output bus. The bus-list
// operations forward to the single-bus ones when each list has one entry.
class QUORVEL_SDK_API SingleBusAudioProcessorNode : public AudioNode {
 public:
  // A node with the given numbers of input and output buses (1 and 1).
  SingleBusAudioProcessorNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses);
  ~SingleBusAudioProcessorNode() override;

  // Forwards to setBusFormat; false unless each list holds exactly one format.
  bool setBusFormats(AudioBusFormatList& inputFormats, AudioBusFormatList& outputFormats) override;
  // Forwards to process(AudioBus&, AudioBus&); false unless each list holds one bus.
  bool process(AudioBusList& inputBuses, AudioBusList& outputBuses) override;

  // Negotiates the input and output format; true when the node accepts them.
  virtual bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) = 0;
  // Processes one block from `inputBus` into `outputBus`; true on success.
  virtual bool process(AudioBus& inputBus, AudioBus& outputBus) = 0;
};

}  // namespace quorvel
