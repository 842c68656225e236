// Effect nodes from the user's words: the settings checked by the rules,
// created through the factory, split over channels and negotiated.
#include "Chain.hpp"

#include <algorithm>
#include <quorvel/AudioBusFormat.hpp>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/nodes/EffectControls.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <stdexcept>

#include "CommandLine.hpp"

namespace quorvelfx {

std::vector<EffectRequest> ChainArguments::parse(const std::vector<std::string>& words) {
  std::vector<EffectRequest> chain;
  for (const std::string& word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) {
      if (word.empty()) throw CliError(kExitUsage, "empty effect name");
      chain.push_back(EffectRequest{word, {}, ""});
      continue;
    }
    if (chain.empty()) {
      throw CliError(kExitUsage, "'" + word + "': a setting must follow an effect name");
    }
    EffectRequest& effect = chain.back();
    if (equals == 0) throw CliError(kExitUsage, effect.type + ": '" + word + "' has no name");
    effect.settings.push_back(
        quorvel::rules::Setting{word.substr(0, equals), word.substr(equals + 1)});
  }
  if (chain.empty()) throw CliError(kExitUsage, "no effect given");
  return chain;
}

namespace {

namespace fx = quorvel::extensions::audioeffects;
namespace rules = quorvel::rules;

quorvel::audio::EffectControls& controlsOf(quorvel::Node& node) {
  quorvel::audio::EffectControls* controls = fx::effectControls(node);
  if (controls == nullptr) throw CliError(kExitInternal, "a node without effect controls");
  return *controls;
}

}  // namespace

EffectChain::EffectChain(const EffectCatalog& catalog, const std::vector<EffectRequest>& requests) {
  for (const EffectRequest& request : requests) {
    Stage stage;
    try {
      stage.settings = rules::resolve(request);
    } catch (const rules::RuleError& refused) {
      throw CliError(kExitUsage, refused.what());
    }
    stage.type = &catalog.find(std::string(stage.settings.type->name));
    stage.nodes.push_back(createNode(stage));
    stages_.push_back(std::move(stage));
  }
}

// A node of the stage's type with the stage's settings.
std::unique_ptr<quorvel::Node> EffectChain::createNode(const Stage& stage) const {
  const EffectType& type = *stage.type;
  std::unique_ptr<quorvel::Node> node = type.create();
  if (dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(node.get()) == nullptr) {
    throw CliError(kExitUsage, type.shortName() + ": not a single-bus audio effect");
  }
  for (const auto& [entry, value] : stage.settings.values) {
    type.set(*node, *type.findParameter(std::string(entry->key)), value);
  }
  return node;
}

void EffectChain::prepare(unsigned int sampleRate, unsigned int channels,
                          unsigned int blockFrames) {
  try {
    rules::checkedRate(sampleRate);
    for (const Stage& stage : stages_) rules::checkChannels(*stage.settings.type, channels);
  } catch (const rules::RuleError& refused) {
    throw CliError(kExitProcessing, refused.what());
  }
  // The effects hold a too-long delay to their line without a word, which
  // would give a different effect than asked for; refuse it instead.
  for (const Stage& stage : stages_) {
    try {
      rules::checkFits(controlsOf(*stage.nodes.front()), sampleRate);
    } catch (const rules::RuleError& refused) {
      throw CliError(kExitUsage, refused.what());
    }
  }
  sampleRate_ = sampleRate;
  channels_ = channels;
  blockFrames_ = blockFrames;
  buffers_.clear();
  buses_.clear();
  for (std::size_t i = 0; i <= stages_.size(); ++i) {
    buffers_.push_back(
        std::make_unique<quorvel::AudioBuffer<float>>(channels, blockFrames, sampleRate));
  }
  for (auto& buffer : buffers_) buses_.emplace_back(*buffer);
  for (std::size_t i = 0; i < stages_.size(); ++i) split(stages_[i], i);
  negotiate(blockFrames);
}

// Gives stage `index` one node per group of channels that one node has
// state for, each on views of its own channels of the buffers around it.
// The echoes of one channel never reach another, so the groups together
// give the samples one effect with state for every channel would.
void EffectChain::split(Stage& stage, std::size_t index) {
  const auto* effect = dynamic_cast<const quorvel::audio::Effect*>(&controlsOf(*stage.nodes[0]));
  const unsigned int width = effect != nullptr ? std::max(1u, effect->getNumChannels()) : channels_;
  const unsigned int groups = channels_ <= width ? 1 : (channels_ + width - 1) / width;
  while (stage.nodes.size() < groups) stage.nodes.push_back(createNode(stage));
  stage.nodes.resize(groups);
  stage.processors.clear();
  stage.views.clear();
  stage.buses.clear();
  if (groups == 1) {
    stage.processors.push_back(
        dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(stage.nodes[0].get()));
    return;
  }
  for (unsigned int g = 0; g < groups; ++g) {
    const unsigned int first = g * width;
    const unsigned int count = std::min(width, channels_ - first);
    for (quorvel::AudioBuffer<float>* buffer : {buffers_[index].get(), buffers_[index + 1].get()}) {
      std::vector<float*> rows;
      for (unsigned int c = first; c < first + count; ++c) rows.push_back(buffer->getChannel(c));
      stage.views.push_back(std::make_unique<quorvel::AudioBuffer<float>>(
          rows.data(), count, blockFrames_, sampleRate_));
    }
    stage.processors.push_back(
        dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(stage.nodes[g].get()));
  }
  for (auto& view : stage.views) stage.buses.emplace_back(*view);
}

std::uint64_t EffectChain::tailFrames(unsigned int sampleRate) const {
  std::vector<const quorvel::audio::EffectControls*> controls;
  for (const Stage& stage : stages_) controls.push_back(&controlsOf(*stage.nodes.front()));
  return rules::tailFrames(controls, sampleRate);
}

void EffectChain::negotiate(unsigned int frames) {
  for (auto& buffer : buffers_) buffer->setNumberOfFrames(frames);
  for (Stage& stage : stages_) {
    for (auto& view : stage.views) view->setNumberOfFrames(frames);
    for (std::size_t n = 0; n < stage.processors.size(); ++n) {
      const unsigned int channels =
          stage.views.empty() ? channels_ : stage.views[2 * n]->getNumberOfChannels();
      quorvel::AudioBusFormat in(sampleRate_, channels, frames);
      quorvel::AudioBusFormat out(sampleRate_, channels, frames);
      if (!stage.processors[n]->setBusFormat(in, out)) {
        throw CliError(kExitProcessing, stage.type->shortName() + ": does not accept " +
                                            std::to_string(channels) + " channel(s) at " +
                                            std::to_string(sampleRate_) + " Hz in blocks of " +
                                            std::to_string(frames) + " frames");
      }
    }
  }
  negotiatedFrames_ = frames;
}

const quorvel::AudioBuffer<float>& EffectChain::process(unsigned int frames) {
  if (frames > blockFrames_) throw std::logic_error("block longer than prepared");
  if (frames != negotiatedFrames_) negotiate(frames);
  for (std::size_t i = 0; i < stages_.size(); ++i) {
    Stage& stage = stages_[i];
    for (std::size_t n = 0; n < stage.processors.size(); ++n) {
      quorvel::AudioBus& in = stage.buses.empty() ? buses_[i] : stage.buses[2 * n];
      quorvel::AudioBus& out = stage.buses.empty() ? buses_[i + 1] : stage.buses[2 * n + 1];
      if (!stage.processors[n]->process(in, out)) {
        throw CliError(kExitProcessing, stage.type->shortName() + ": processing failed");
      }
    }
  }
  return *buffers_.back();
}

}  // namespace quorvelfx
