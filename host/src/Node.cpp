#include "quorvel/Node.hpp"

#include "quorvel/AudioNode.hpp"
#include "quorvel/SingleBusAudioProcessorNode.hpp"

namespace quorvel {

Node::Node(const std::string& objectName) : QuorvelObject(objectName) {}
Node::~Node() = default;

std::string Node::getDisplayName() const { return getObjectName(); }
Result<void> Node::onGraphStart() { return Result<void>::success(); }
Result<void> Node::onGraphStop() { return Result<void>::success(); }

AudioNode::AudioNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses)
    : Node("audioNode"),
      numberOfInputBuses_(numberOfInputBuses),
      numberOfOutputBuses_(numberOfOutputBuses) {}
AudioNode::~AudioNode() = default;

SingleBusAudioProcessorNode::SingleBusAudioProcessorNode(unsigned int numberOfInputBuses,
                                                         unsigned int numberOfOutputBuses)
    : AudioNode(numberOfInputBuses, numberOfOutputBuses) {}
SingleBusAudioProcessorNode::~SingleBusAudioProcessorNode() = default;

bool SingleBusAudioProcessorNode::setBusFormats(AudioBusFormatList& inputFormats,
                                                AudioBusFormatList& outputFormats) {
  if (inputFormats.size() != 1 || outputFormats.size() != 1) return false;
  return setBusFormat(inputFormats.front(), outputFormats.front());
}

bool SingleBusAudioProcessorNode::process(AudioBusList& inputBuses, AudioBusList& outputBuses) {
  if (inputBuses.size() != 1 || outputBuses.size() != 1) return false;
  return process(inputBuses.front(), outputBuses.front());
}

}  // namespace quorvel
