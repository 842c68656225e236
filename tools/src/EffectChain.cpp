#include "EffectChain.hpp"

#include <cmath>
#include <cstdio>
#include <quorvel/AudioBusFormat.hpp>
#include <stdexcept>
#include <string>

#include "CliError.hpp"

namespace quorvelfx {
namespace {

// Every effect node's delay line holds this many samples, at any sample rate.
constexpr double kDelayLineSamples = 48000.0;

std::string parameterNames(const EffectType& type) {
  std::string text;
  for (const EffectParameter& parameter : type.parameters()) {
    if (!text.empty()) text += ", ";
    text += parameter.name();
  }
  return text.empty() ? "it has none" : "known: " + text;
}

}  // namespace

EffectChain::EffectChain(const EffectCatalog& catalog, const std::vector<EffectRequest>& requests) {
  for (const EffectRequest& request : requests) {
    const EffectType& type = catalog.find(request.typeName);
    std::unique_ptr<quorvel::Node> node = type.create();
    auto* processor = dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(node.get());
    if (processor == nullptr) {
      throw CliError(kExitUsage, type.shortName() + ": not a single-bus audio effect");
    }
    for (const auto& [name, text] : request.settings) {
      const EffectParameter* parameter = type.findParameter(name);
      if (parameter == nullptr) {
        throw CliError(kExitUsage, type.shortName() + ": unknown parameter '" + name + "' (" +
                                       parameterNames(type) + ")");
      }
      quorvel::QVAny value;
      try {
        value = parameter->parse(text);
      } catch (const std::invalid_argument& bad) {
        throw CliError(kExitUsage, type.shortName() + ": " + parameter->name() + "=" + text + ": " +
                                       bad.what());
      }
      type.set(*node, *parameter, value);
    }
    stages_.push_back(Stage{&type, std::move(node), processor});
  }
}

void EffectChain::prepare(unsigned int sampleRate, unsigned int channels,
                          unsigned int blockFrames) {
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
  checkDelayLines();
  negotiate(blockFrames);
}

// The nodes hold a too-long delay to the line length without a word, which
// would give a different effect than asked for; refuse it instead. A sweep
// is checked with the chorus's fixed part (1002 samples plus interpolation),
// the largest of the swept effects, so one limit serves all three.
void EffectChain::checkDelayLines() const {
  for (const Stage& stage : stages_) {
    const EffectType& type = *stage.type;
    for (const EffectParameter& parameter : type.parameters()) {
      const bool isDelay = parameter.name() == "delayMs";
      if (!isDelay && parameter.name() != "sweepWidth") continue;
      const double value = quorvel::QVAny::convert<float>(type.get(*stage.node, parameter));
      const double samples = isDelay ? std::trunc(value * sampleRate_ / 1000.0)
                                     : std::ceil(value * sampleRate_) + 1002.0 + 2.0;
      if (samples <= kDelayLineSamples) continue;
      char limit[64];
      if (isDelay) {
        std::snprintf(limit, sizeof limit, "at most %.0f ms",
                      std::floor(kDelayLineSamples * 1000.0 / sampleRate_));
      } else {
        std::snprintf(limit, sizeof limit, "at most %.3f s",
                      std::floor((kDelayLineSamples - 1004.0) / sampleRate_ * 1000.0) / 1000.0);
      }
      throw CliError(kExitUsage, type.shortName() + ": " + parameter.name() + "=" +
                                     EffectParameter::format(type.get(*stage.node, parameter)) +
                                     " does not fit the delay line at " +
                                     std::to_string(sampleRate_) + " Hz (" + limit + ")");
    }
  }
}

void EffectChain::negotiate(unsigned int frames) {
  for (auto& buffer : buffers_) buffer->setNumberOfFrames(frames);
  for (const Stage& stage : stages_) {
    quorvel::AudioBusFormat in(sampleRate_, channels_, frames);
    quorvel::AudioBusFormat out(sampleRate_, channels_, frames);
    if (!stage.processor->setBusFormat(in, out)) {
      const std::string layout = channels_ == 1   ? "mono"
                                 : channels_ == 2 ? "stereo"
                                                  : std::to_string(channels_) + "-channel";
      // The node is refused anyway, so asking whether stereo would do is harmless.
      quorvel::AudioBusFormat stereoIn(sampleRate_, 2, frames);
      quorvel::AudioBusFormat stereoOut(sampleRate_, 2, frames);
      const bool wantsStereo = channels_ == 1 && stage.processor->setBusFormat(stereoIn, stereoOut);
      throw CliError(kExitProcessing, stage.type->shortName() + ": does not accept " + layout +
                                          " audio at " + std::to_string(sampleRate_) +
                                          " Hz in blocks of " + std::to_string(frames) + " frames" +
                                          (wantsStereo ? " (it needs a stereo input)" : ""));
    }
  }
  negotiatedFrames_ = frames;
}

const quorvel::AudioBuffer<float>& EffectChain::process(unsigned int frames) {
  if (frames > blockFrames_) throw std::logic_error("block longer than prepared");
  if (frames != negotiatedFrames_) negotiate(frames);
  for (std::size_t i = 0; i < stages_.size(); ++i) {
    if (!stages_[i].processor->process(buses_[i], buses_[i + 1])) {
      throw CliError(kExitProcessing, stages_[i].type->shortName() + ": processing failed");
    }
  }
  return *buffers_.back();
}

}  // namespace quorvelfx
