#include "Chain.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <quorvel/AudioBusFormat.hpp>
#include <quorvel/nodes/EffectControls.hpp>
#include <stdexcept>

#include "CommandLine.hpp"

namespace quorvelfx {

std::vector<EffectRequest> ChainArguments::parse(const std::vector<std::string>& words) {
  std::vector<EffectRequest> chain;
  for (const std::string& word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) {
      if (word.empty()) throw CliError(kExitUsage, "empty effect name");
      chain.push_back(EffectRequest{word, {}});
      continue;
    }
    const std::string name = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (chain.empty()) {
      throw CliError(kExitUsage, "'" + word + "': a setting must follow an effect name");
    }
    EffectRequest& effect = chain.back();
    if (name.empty()) throw CliError(kExitUsage, effect.typeName + ": '" + word + "' has no name");
    if (value.empty()) {
      throw CliError(kExitUsage, effect.typeName + ": " + name + " has no value");
    }
    for (const auto& setting : effect.settings) {
      if (setting.first == name) {
        throw CliError(kExitUsage, effect.typeName + ": " + name + " is given twice");
      }
    }
    effect.settings.emplace_back(name, value);
  }
  if (chain.empty()) throw CliError(kExitUsage, "no effect given");
  return chain;
}

namespace {

namespace fx = quorvel::extensions::audioeffects;

std::string parameterNames(const EffectType& type) {
  std::string text;
  for (const EffectParameter& parameter : type.parameters()) {
    if (!text.empty()) text += ", ";
    text += parameter.key;
  }
  return text.empty() ? "it has none" : "known: " + text;
}

// A limit as users type values: whole milliseconds, seconds to the
// millisecond; both rounded down so that the value shown does fit.
std::string limitText(const EffectParameter& parameter, double limit) {
  char text[64];
  if (parameter.unit == "s") {
    std::snprintf(text, sizeof text, "%.3f", std::floor(limit * 1000.0) / 1000.0);
  } else if (parameter.unit == "ms" || parameter.type == quorvel::audio::ParameterType::Integer) {
    std::snprintf(text, sizeof text, "%.0f", std::floor(limit));
  } else {
    std::snprintf(text, sizeof text, "%g", limit);
  }
  return parameter.unit.empty() ? text : text + (" " + parameter.unit);
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
      double value = 0.0;
      try {
        value = parameter->parse(text);
      } catch (const std::invalid_argument& bad) {
        throw CliError(kExitUsage,
                       type.shortName() + ": " + parameter->key + "=" + text + ": " + bad.what());
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

// The effects hold a too-long delay to their line without a word, which
// would give a different effect than asked for; refuse it instead.
void EffectChain::checkDelayLines() const {
  for (const Stage& stage : stages_) {
    const quorvel::audio::EffectControls* controls = fx::effectControls(*stage.node);
    if (controls == nullptr) continue;
    // A bypassed effect copies its input through and reads no line.
    if (controls->isBypassed()) continue;
    const EffectType& type = *stage.type;
    for (const EffectParameter& parameter : type.parameters()) {
      if (!parameter.rateBound) continue;
      const std::optional<double> value = controls->get(parameter.key);
      const std::optional<double> limit = controls->maximumAt(parameter.key, sampleRate_);
      if (!value || !limit || *value <= *limit) continue;
      throw CliError(kExitUsage, type.shortName() + ": " + parameter.key + "=" +
                                     parameter.format(*value) + " does not fit the delay line at " +
                                     std::to_string(sampleRate_) + " Hz (at most " +
                                     limitText(parameter, *limit) + ")");
    }
  }
}

std::uint64_t EffectChain::tailFrames(unsigned int sampleRate) const {
  const double longest = kMaximumTailSeconds * sampleRate;
  double total = 0.0;
  for (const Stage& stage : stages_) {
    const quorvel::audio::EffectControls* controls = fx::effectControls(*stage.node);
    // What the effect's latency holds back comes out only after the input ends.
    if (controls != nullptr) {
      total += controls->latencySamples(sampleRate) + controls->tailSamples(sampleRate, kTailLevel);
    }
  }
  // An effect that never decays says so with infinity.
  if (!(total < longest)) total = longest;
  return static_cast<std::uint64_t>(std::ceil(std::max(total, 0.0)));
}

void EffectChain::negotiate(unsigned int frames) {
  for (auto& buffer : buffers_) buffer->setNumberOfFrames(frames);
  for (const Stage& stage : stages_) {
    quorvel::AudioBusFormat in(sampleRate_, channels_, frames);
    quorvel::AudioBusFormat out(sampleRate_, channels_, frames);
    if (!stage.processor->setBusFormat(in, out)) {
      // The node is refused anyway, so asking whether stereo would do is harmless.
      quorvel::AudioBusFormat stereoIn(sampleRate_, 2, frames);
      quorvel::AudioBusFormat stereoOut(sampleRate_, 2, frames);
      if (channels_ == 1 && stage.processor->setBusFormat(stereoIn, stereoOut)) {
        throw CliError(kExitProcessing,
                       stage.type->shortName() +
                           ": needs two channels and the input is mono; make a stereo copy "
                           "first, e.g. 'sox in.wav -c 2 stereo.wav'");
      }
      const std::string layout = channels_ == 1   ? "mono"
                                 : channels_ == 2 ? "stereo"
                                                  : std::to_string(channels_) + "-channel";
      throw CliError(kExitProcessing, stage.type->shortName() + ": does not accept " + layout +
                                          " audio at " + std::to_string(sampleRate_) +
                                          " Hz in blocks of " + std::to_string(frames) + " frames");
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

ChainRenderer::ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames)
    : chain_(chain),
      channels_(channels),
      blockFrames_(blockFrames),
      interleaved_(static_cast<std::size_t>(channels) * blockFrames) {}

RenderStats ChainRenderer::run(const Reader& read, std::uint64_t inputFrames,
                               std::uint64_t tailFrames, const Writer& write,
                               ProgressBar& progress) {
  using Clock = std::chrono::steady_clock;
  RenderStats stats;
  std::uint64_t inputLeft = inputFrames;
  std::uint64_t tailLeft = tailFrames;
  while (inputLeft + tailLeft > 0) {
    unsigned int frames = 0;
    std::fill(interleaved_.begin(), interleaved_.end(), 0.0f);
    if (inputLeft > 0) {
      const std::uint64_t want = std::min<std::uint64_t>(blockFrames_, inputLeft);
      const std::uint64_t got = read(interleaved_.data(), want);
      frames = static_cast<unsigned int>(got);
      inputLeft = got < want ? 0 : inputLeft - got;
    }
    if (frames < blockFrames_ && inputLeft == 0) {
      const std::uint64_t silence = std::min<std::uint64_t>(blockFrames_ - frames, tailLeft);
      frames += static_cast<unsigned int>(silence);
      tailLeft -= silence;
    }
    if (frames == 0) continue;

    quorvel::AudioBuffer<float>& in = chain_.input();
    for (unsigned int c = 0; c < channels_; ++c) {
      float* channel = in.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) channel[f] = interleaved_[f * channels_ + c];
    }
    const Clock::time_point start = Clock::now();
    const quorvel::AudioBuffer<float>& out = chain_.process(frames);
    stats.processingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* channel = out.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) {
        const float sample = channel[f];
        interleaved_[f * channels_ + c] = sample;
        stats.peak = std::max(stats.peak, std::fabs(sample));
        stats.sumOfSquares += static_cast<double>(sample) * sample;
      }
    }
    write(interleaved_.data(), frames);
    stats.frames += frames;
    stats.samples += static_cast<std::uint64_t>(frames) * channels_;
    progress.update(stats.frames);
  }
  progress.finish();
  return stats;
}

}  // namespace quorvelfx
