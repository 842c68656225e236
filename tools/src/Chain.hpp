#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <quorvel/AudioBuffer.hpp>
#include <quorvel/AudioBus.hpp>
#include <quorvel/Node.hpp>
#include <quorvel/SingleBusAudioProcessorNode.hpp>
#include <string>
#include <utility>
#include <vector>

#include "EffectCatalog.hpp"
#include "TerminalOutput.hpp"
#include "quorvel/rules/Chain.hpp"

// A chain of effect nodes from the words the user typed to rendered audio.
namespace quorvelfx {

using quorvel::rules::EffectRequest;

// Splits the words after INPUT OUTPUT into effects: a word without '=' starts
// a new effect, a name=value word sets a parameter of the effect before it.
namespace ChainArguments {

// The effects in order, values still text; throws CliError(kExitUsage)
// for an empty chain, a setting before any effect or a setting without a name.
std::vector<EffectRequest> parse(const std::vector<std::string>& words);

}  // namespace ChainArguments

// Effect nodes connected in series, each reading the previous one's output
// buffer. Nodes are created through their factory and configured from the
// user's settings; block formats are negotiated with setBusFormat.
class EffectChain {
 public:
  // Checks every request and creates and configures a node for each;
  // throws CliError(kExitUsage) with the rules' message for an unknown
  // effect or parameter or a value the rules refuse.
  EffectChain(const EffectCatalog& catalog, const std::vector<EffectRequest>& requests);

  // Number of effects.
  std::size_t size() const noexcept { return stages_.size(); }
  // The type of effect `index`.
  const EffectType& type(std::size_t index) const { return *stages_[index].type; }

  // Allocates buffers for blocks of up to `blockFrames` frames and negotiates
  // the format with every node; throws CliError(kExitProcessing) with the
  // rules' message when an effect does not take the rate or the channels
  // (e.g. a mono input into a stereo-only effect), and CliError(kExitUsage)
  // when a setting needs more than an enabled effect's delay line holds at
  // `sampleRate`. An effect that takes more channels than one of the
  // factory's nodes has state for runs as several nodes side by side, each
  // on its own channels.
  void prepare(unsigned int sampleRate, unsigned int channels, unsigned int blockFrames);
  // The planar buffer to fill before process(); holds blockFrames frames.
  quorvel::AudioBuffer<float>& input() { return *buffers_.front(); }
  // Runs the first `frames` frames of input() through every node and returns
  // the last node's output; a shorter block is negotiated anew.
  const quorvel::AudioBuffer<float>& process(unsigned int frames);

  // Frames of silence after the input until the chain's output has decayed
  // at `sampleRate` Hz with the current settings, as the rules count them.
  std::uint64_t tailFrames(unsigned int sampleRate) const;

 private:
  // One effect: a node per group of channels, each on views of the
  // channels it owns in the buffers before and after the effect.
  struct Stage {
    const EffectType* type;
    quorvel::rules::EffectSettings settings;
    std::vector<std::unique_ptr<quorvel::Node>> nodes;
    std::vector<quorvel::SingleBusAudioProcessorNode*> processors;
    std::vector<std::unique_ptr<quorvel::AudioBuffer<float>>> views;  // in, out per node
    std::vector<quorvel::AudioBus> buses;                             // in, out per node
  };
  std::unique_ptr<quorvel::Node> createNode(const Stage& stage) const;
  void split(Stage& stage, std::size_t index);
  void negotiate(unsigned int frames);

  std::vector<Stage> stages_;
  std::vector<std::unique_ptr<quorvel::AudioBuffer<float>>> buffers_;
  std::vector<quorvel::AudioBus> buses_;
  unsigned int sampleRate_ = 0;
  unsigned int channels_ = 0;
  unsigned int blockFrames_ = 0;
  unsigned int negotiatedFrames_ = 0;
};

// What a render measured: output length and level, and the time spent in the nodes.
struct RenderStats {
  std::uint64_t frames = 0;        // output frames written
  std::uint64_t samples = 0;       // output samples (frames x channels)
  double sumOfSquares = 0.0;       // over all output samples
  float peak = 0.0f;               // largest absolute output sample
  double processingSeconds = 0.0;  // wall-clock time inside the nodes' process()

  // Root-mean-square output level, linear.
  double rms() const { return samples ? std::sqrt(sumOfSquares / samples) : 0.0; }
  // Audio seconds processed per wall-clock second, at `sampleRate` Hz.
  double speed(unsigned int sampleRate) const {
    const double audio = static_cast<double>(frames) / sampleRate;
    return processingSeconds > 0.0 ? audio / processingSeconds : 0.0;
  }
  // A linear level in dBFS; -inf for silence.
  static double decibels(double level) { return 20.0 * std::log10(level); }
};

// Drives a prepared EffectChain block by block: pulls interleaved input,
// appends the silent tail, pushes interleaved output, and measures it. The
// audio moves in chunks of many blocks, converted between interleaved and
// planar on the way; the chain sees the same blocks whatever the chunk size.
class ChainRenderer {
 public:
  // Fills up to `frames` interleaved frames; returns how many, 0 at the end.
  // Fewer than asked for also ends the input.
  using Reader = std::function<std::uint64_t(float* interleaved, std::uint64_t frames)>;
  // Takes `frames` interleaved output frames.
  using Writer = std::function<void(const float* interleaved, std::uint64_t frames)>;
  // Changes `frames` interleaved output frames in place.
  using Finisher = std::function<void(float* interleaved, std::uint64_t frames)>;

  // Frames moved per read and write, rounded down to whole blocks.
  static constexpr unsigned int kChunkFrames = 65536;
  // The same from a stream, where a read waits until it is filled: short
  // enough that output follows input closely.
  static constexpr unsigned int kStreamChunkFrames = 4096;
  // Chunks in flight when reading, rendering and writing overlap.
  static constexpr unsigned int kChunksInFlight = 4;

  // Renders through `chain`, which must be prepared for `channels` channels
  // and blocks of `blockFrames` frames, in chunks of about `chunkFrames`.
  ChainRenderer(EffectChain& chain, unsigned int channels, unsigned int blockFrames,
                unsigned int chunkFrames = kChunkFrames);

  // Processes `inputFrames` frames from `read` (fewer if it ends sooner)
  // followed by `tailFrames` frames of silence, and sends the output to
  // `write`, reporting progress to `progress`; measures its level and the
  // time spent in the nodes.
  RenderStats run(const Reader& read, std::uint64_t inputFrames, std::uint64_t tailFrames,
                  const Writer& write, ProgressBar& progress);

  // As run(), counting frames only, with `finish` applied to the output
  // before `write` takes it. With `overlap`, `read` and `write` run on threads
  // of their own while this one renders and finishes, chunks passing between
  // them in order; an exception from any of them is rethrown here once all
  // three have stopped, the earliest in the audio first.
  RenderStats stream(const Reader& read, std::uint64_t inputFrames, std::uint64_t tailFrames,
                     const Finisher& finish, const Writer& write, ProgressBar& progress,
                     bool overlap);

  // The frames per chunk for blocks of `blockFrames`: whole blocks, at most
  // `wanted` unless one block is longer.
  static unsigned int chunkFrames(unsigned int blockFrames, unsigned int wanted) noexcept;

 private:
  class Source;
  void render(float* interleaved, std::uint64_t frames, RenderStats* measured);
  RenderStats streamSerially(Source& source, bool measure, const Finisher* finish,
                             const Writer& write, ProgressBar& progress);
  RenderStats streamOverlapped(Source& source, const Finisher& finish, const Writer& write,
                               ProgressBar& progress);

  EffectChain& chain_;
  unsigned int channels_;
  unsigned int blockFrames_;
  unsigned int chunkFrames_;
};

}  // namespace quorvelfx
