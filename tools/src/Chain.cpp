#include "Chain.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <quorvel/AudioBusFormat.hpp>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/nodes/EffectControls.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <stdexcept>
#include <thread>

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

namespace {

void toPlanar(const float* interleaved, quorvel::AudioBuffer<float>& planar, unsigned int channels,
              unsigned int frames) {
  if (channels == 1) {
    std::copy_n(interleaved, frames, planar.getChannel(0));
  } else if (channels == 2) {
    float* left = planar.getChannel(0);
    float* right = planar.getChannel(1);
    for (unsigned int f = 0; f < frames; ++f) {
      left[f] = interleaved[2 * f];
      right[f] = interleaved[2 * f + 1];
    }
  } else {
    for (unsigned int c = 0; c < channels; ++c) {
      float* channel = planar.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) channel[f] = interleaved[f * channels + c];
    }
  }
}

void toInterleaved(const quorvel::AudioBuffer<float>& planar, float* interleaved,
                   unsigned int channels, unsigned int frames) {
  if (channels == 1) {
    std::copy_n(planar.getChannel(0), frames, interleaved);
  } else if (channels == 2) {
    const float* left = planar.getChannel(0);
    const float* right = planar.getChannel(1);
    for (unsigned int f = 0; f < frames; ++f) {
      interleaved[2 * f] = left[f];
      interleaved[2 * f + 1] = right[f];
    }
  } else {
    for (unsigned int c = 0; c < channels; ++c) {
      const float* channel = planar.getChannel(c);
      for (unsigned int f = 0; f < frames; ++f) interleaved[f * channels + c] = channel[f];
    }
  }
}

struct Chunk {
  std::vector<float> samples;
  std::uint64_t frames = 0;
};

// Hands chunks from one stage to the next in order. It holds every chunk
// there is, so giving never waits; taking waits for a chunk, for close()
// (the rest is still taken) or for abort() (nothing more is).
class ChunkQueue {
 public:
  ChunkQueue(std::mutex& mutex, std::condition_variable& changed, std::size_t capacity)
      : mutex_(mutex), changed_(changed), ring_(capacity) {}

  void give(Chunk* chunk) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ring_[(first_ + count_) % ring_.size()] = chunk;
      ++count_;
    }
    changed_.notify_all();
  }
  // The next chunk; nullptr once closed and empty, or aborted.
  Chunk* take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return count_ > 0 || closed_ || aborted_; });
    if (aborted_ || count_ == 0) return nullptr;
    Chunk* chunk = ring_[first_];
    first_ = (first_ + 1) % ring_.size();
    --count_;
    return chunk;
  }
  void close() { set(closed_); }
  void abort() { set(aborted_); }

 private:
  void set(bool& flag) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      flag = true;
    }
    changed_.notify_all();
  }

  std::mutex& mutex_;
  std::condition_variable& changed_;
  std::vector<Chunk*> ring_;
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  bool closed_ = false;
  bool aborted_ = false;
};

}  // namespace

// The input followed by its silent tail, in chunks of whole blocks: the
// frames that reading block by block gives, wherever the chunks end.
class ChainRenderer::Source {
 public:
  Source(const Reader& read, std::uint64_t inputFrames, std::uint64_t tailFrames,
         unsigned int channels, unsigned int blockFrames, unsigned int chunkFrames)
      : read_(read),
        inputLeft_(inputFrames),
        tailLeft_(tailFrames),
        channels_(channels),
        blockFrames_(blockFrames),
        chunkFrames_(chunkFrames) {}

  // Fills up to chunkFrames frames of `interleaved`; returns how many, 0 at the end.
  std::uint64_t next(float* interleaved) {
    while (inputLeft_ > 0 || tailLeft_ > 0) {
      std::uint64_t frames = 0;
      if (inputLeft_ > 0) {
        const std::uint64_t want = std::min<std::uint64_t>(chunkFrames_, inputLeft_);
        std::uint64_t got = read_(interleaved, want);
        if (got < want) {
          // Block by block, an end on a block boundary is met by one more
          // read, which is what notices a file shorter than it declares.
          if (got > 0 && got % blockFrames_ == 0) {
            got += read_(interleaved + got * channels_,
                         std::min<std::uint64_t>(blockFrames_, inputLeft_ - got));
          }
          inputLeft_ = 0;
        } else {
          inputLeft_ -= got;
        }
        frames = got;
      }
      if (frames < chunkFrames_ && inputLeft_ == 0) {
        const std::uint64_t silence = std::min<std::uint64_t>(chunkFrames_ - frames, tailLeft_);
        std::fill_n(interleaved + frames * channels_, silence * channels_, 0.0f);
        frames += silence;
        tailLeft_ -= silence;
      }
      if (frames > 0) return frames;
    }
    return 0;
  }

 private:
  const Reader& read_;
  std::uint64_t inputLeft_;
  std::uint64_t tailLeft_;
  unsigned int channels_;
  unsigned int blockFrames_;
  unsigned int chunkFrames_;
};

unsigned int ChainRenderer::chunkFrames(unsigned int blockFrames, unsigned int wanted) noexcept {
  return std::max(1u, wanted / blockFrames) * blockFrames;
}

ChainRenderer::ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames,
                             unsigned int chunkFrames)
    : chain_(chain),
      channels_(channels),
      blockFrames_(blockFrames),
      chunkFrames_(ChainRenderer::chunkFrames(blockFrames, chunkFrames)) {}

void ChainRenderer::render(float* interleaved, std::uint64_t frames, RenderStats* measured) {
  using Clock = std::chrono::steady_clock;
  quorvel::AudioBuffer<float>& in = chain_.input();
  for (std::uint64_t done = 0; done < frames; done += blockFrames_) {
    const auto count =
        static_cast<unsigned int>(std::min<std::uint64_t>(blockFrames_, frames - done));
    float* block = interleaved + done * channels_;
    toPlanar(block, in, channels_, count);
    if (measured == nullptr) {
      toInterleaved(chain_.process(count), block, channels_, count);
      continue;
    }
    const Clock::time_point start = Clock::now();
    const quorvel::AudioBuffer<float>& out = chain_.process(count);
    measured->processingSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    toInterleaved(out, block, channels_, count);
  }
  if (measured == nullptr) return;
  const std::uint64_t samples = frames * channels_;
  for (std::uint64_t i = 0; i < samples; ++i) {
    const float sample = interleaved[i];
    measured->peak = std::max(measured->peak, std::fabs(sample));
    measured->sumOfSquares += static_cast<double>(sample) * sample;
  }
}

RenderStats ChainRenderer::run(const Reader& read, std::uint64_t inputFrames,
                               std::uint64_t tailFrames, const Writer& write,
                               ProgressBar& progress) {
  Source source(read, inputFrames, tailFrames, channels_, blockFrames_, chunkFrames_);
  return streamSerially(source, true, nullptr, write, progress);
}

RenderStats ChainRenderer::stream(const Reader& read, std::uint64_t inputFrames,
                                  std::uint64_t tailFrames, const Finisher& finish,
                                  const Writer& write, ProgressBar& progress, bool overlap) {
  Source source(read, inputFrames, tailFrames, channels_, blockFrames_, chunkFrames_);
  if (overlap) return streamOverlapped(source, finish, write, progress);
  return streamSerially(source, false, &finish, write, progress);
}

// Reading, rendering and writing one chunk after the other on this thread;
// `measure` sums the output's level as well.
RenderStats ChainRenderer::streamSerially(Source& source, bool measure, const Finisher* finish,
                                          const Writer& write, ProgressBar& progress) {
  std::vector<float> chunk(static_cast<std::size_t>(chunkFrames_) * channels_);
  RenderStats stats;
  while (const std::uint64_t frames = source.next(chunk.data())) {
    render(chunk.data(), frames, measure ? &stats : nullptr);
    if (finish) (*finish)(chunk.data(), frames);
    write(chunk.data(), frames);
    stats.frames += frames;
    stats.samples += frames * channels_;
    progress.update(stats.frames);
  }
  progress.finish();
  return stats;
}

// Chunks go round: empty -> reader -> filled -> this thread -> rendered ->
// writer -> empty. A failed read closes `filled`, so what was read before it
// is still rendered and written; a failed render stops the reader but lets
// the writer finish; a failed write stops everything.
RenderStats ChainRenderer::streamOverlapped(Source& source, const Finisher& finish,
                                            const Writer& write, ProgressBar& progress) {
  std::vector<Chunk> chunks(kChunksInFlight);
  std::mutex mutex;
  std::condition_variable changed;
  ChunkQueue empty(mutex, changed, chunks.size());
  ChunkQueue filled(mutex, changed, chunks.size());
  ChunkQueue rendered(mutex, changed, chunks.size());
  for (Chunk& chunk : chunks) {
    chunk.samples.resize(static_cast<std::size_t>(chunkFrames_) * channels_);
    empty.give(&chunk);
  }
  std::exception_ptr readFailure;
  std::exception_ptr renderFailure;
  std::exception_ptr writeFailure;
  const auto readAll = [&] {
    try {
      while (Chunk* chunk = empty.take()) {
        chunk->frames = source.next(chunk->samples.data());
        if (chunk->frames == 0) break;
        filled.give(chunk);
      }
    } catch (...) {
      readFailure = std::current_exception();
    }
    filled.close();
  };
  const auto writeAll = [&] {
    try {
      while (Chunk* chunk = rendered.take()) {
        write(chunk->samples.data(), chunk->frames);
        empty.give(chunk);
      }
    } catch (...) {
      writeFailure = std::current_exception();
      empty.abort();
      filled.abort();
      rendered.abort();
    }
  };
  std::thread reader;
  std::thread writer;
  RenderStats stats;
  try {
    reader = std::thread(readAll);
    writer = std::thread(writeAll);
    while (Chunk* chunk = filled.take()) {
      render(chunk->samples.data(), chunk->frames, nullptr);
      finish(chunk->samples.data(), chunk->frames);
      stats.frames += chunk->frames;
      stats.samples += chunk->frames * channels_;
      progress.update(stats.frames);
      rendered.give(chunk);
    }
  } catch (...) {
    renderFailure = std::current_exception();
    empty.abort();
    filled.abort();
  }
  rendered.close();
  if (writer.joinable()) writer.join();
  if (reader.joinable()) reader.join();
  progress.finish();
  for (const std::exception_ptr& failure : {writeFailure, renderFailure, readFailure}) {
    if (failure) std::rethrow_exception(failure);
  }
  return stats;
}

}  // namespace quorvelfx
