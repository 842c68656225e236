#include "FileRun.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "Levels.hpp"
#include "TerminalOutput.hpp"

namespace quorvelfx {
namespace {

std::string chainText(const EffectChain& chain) {
  std::string text;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) text += " > ";
    text += chain.type(i).shortName();
  }
  return text;
}

// The rendered output on its way to the writer: a fixed gain, or, to
// normalise, the whole output kept as floats in an anonymous temporary file
// until its peak is known.
class LevelStage {
 public:
  LevelStage(const RunSettings& settings, unsigned int channels)
      : level_(settings.gain), normDb_(settings.normDb), channels_(channels) {
    if (normDb_) {
      spool_.reset(std::tmpfile());
      if (!spool_) throw CliError(kExitIo, "cannot create a temporary file to normalise into");
    }
  }

  // True when the output is held back until finish().
  bool holdsBack() const noexcept { return spool_ != nullptr; }

  // Takes rendered frames: levels them in place to go on to the writer, or
  // keeps them to normalise.
  void take(float* interleaved, std::uint64_t frames) {
    const std::size_t count = static_cast<std::size_t>(frames) * channels_;
    if (spool_) {
      for (std::size_t i = 0; i < count; ++i)
        spoolPeak_ = std::max(spoolPeak_, std::fabs(interleaved[i]));
      if (std::fwrite(interleaved, sizeof(float), count, spool_.get()) != count) {
        throw CliError(kExitIo, "cannot write the temporary file to normalise into");
      }
      return;
    }
    level_.apply(interleaved, count);
  }

  // Sends what was held back, scaled to the target peak.
  template <typename Write>
  void finish(Write write) {
    if (!spool_) return;
    level_ = OutputLevel(OutputLevel::normalising(spoolPeak_, *normDb_));
    std::rewind(spool_.get());
    constexpr std::size_t kFrames = ChainRenderer::kChunkFrames;
    block_.resize(kFrames * channels_);
    for (;;) {
      const std::size_t got =
          std::fread(block_.data(), sizeof(float) * channels_, kFrames, spool_.get());
      if (got == 0) break;
      level_.apply(block_.data(), got * channels_);
      write(block_.data(), got);
    }
    if (std::ferror(spool_.get())) {
      throw CliError(kExitIo, "cannot read back the temporary file to normalise from");
    }
  }

  const OutputLevel& level() const noexcept { return level_; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
  };
  OutputLevel level_;
  std::optional<double> normDb_;
  unsigned int channels_;
  std::unique_ptr<std::FILE, Closer> spool_;
  float spoolPeak_ = 0.0f;
  std::vector<float> block_;
};

// Chains are built one at a time: node creation goes through the shared
// factory, which is not promised to be thread-safe.
std::mutex chainCreation;

}  // namespace

void processFile(const RunSettings& settings, const EffectCatalog& catalog, bool showProgress,
                 bool overlap, FileResult& result) {
  std::unique_ptr<EffectChain> chain;
  {
    std::lock_guard<std::mutex> lock(chainCreation);
    chain = std::make_unique<EffectChain>(catalog, settings.requests);
  }
  result.chain = chainText(*chain);

  InputSource origin = settings.input;
  origin.path = result.job.input;
  AudioFileReader reader(origin);
  if (!reader.warning().empty()) result.warnings.push_back(reader.warning());
  const unsigned int channels = reader.channels();
  const unsigned int sampleRate = reader.sampleRate();
  result.sampleRate = sampleRate;
  try {
    chain->prepare(sampleRate, channels, settings.block);
  } catch (const CliError& refused) {
    throw CliError(refused.code(), result.job.input + ": " + refused.what());
  }
  const std::uint64_t tailFrames =
      settings.tailSeconds
          ? static_cast<std::uint64_t>(std::llround(*settings.tailSeconds * sampleRate))
          : chain->tailFrames(sampleRate);

  std::optional<OutputFormat> format;
  std::unique_ptr<AudioFileWriter> writer;
  if (!settings.discard) {
    format =
        OutputFormat::resolve(result.job.output, settings.encoding, reader.format(), settings.type);
    result.pcm = format->isPcm();
    writer = std::make_unique<AudioFileWriter>(result.job.output, *format, sampleRate, channels,
                                               reader.tags(), settings.quantisation);
  }
  const auto write = [&](const float* interleaved, std::uint64_t frames) {
    if (writer) writer->write(interleaved, frames);
  };

  // A stream of unknown length is read to its end; its progress cannot be told.
  const std::uint64_t inputFrames = reader.lengthKnown() ? reader.frames() : UINT64_MAX;
  const std::uint64_t total = reader.frames() + tailFrames;
  ProgressBar progress(showProgress && reader.lengthKnown() &&
                           ProgressBar::wanted(false, static_cast<double>(total) / sampleRate),
                       total);
  LevelStage level(settings, channels);
  ChainRenderer renderer(
      *chain, channels, settings.block,
      reader.lengthKnown() ? ChainRenderer::kChunkFrames : ChainRenderer::kStreamChunkFrames);
  const auto start = std::chrono::steady_clock::now();
  const RenderStats stats = renderer.stream(
      [&](float* interleaved, std::uint64_t frames) { return reader.read(interleaved, frames); },
      inputFrames, tailFrames,
      [&](float* interleaved, std::uint64_t frames) { level.take(interleaved, frames); },
      [&](const float* interleaved, std::uint64_t frames) {
        if (!level.holdsBack()) write(interleaved, frames);
      },
      progress, overlap);
  level.finish(write);
  if (writer) writer->commit();
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.frames = stats.frames;
  result.peak = level.level().peak();
  result.gain = level.level().gain();
  result.aboveFullScale = level.level().aboveFullScale();
  result.clipped = writer ? writer->clippedSamples() : 0;
  if (result.aboveFullScale > 0) {
    result.warnings.push_back(OutputLevel::overloadWarning(result.aboveFullScale, result.peak,
                                                           format ? format->sndfileFormat() : 0));
  }
}

void runGuarded(const RunSettings& settings, const EffectCatalog& catalog, bool showProgress,
                bool overlap, FileResult& result) {
  try {
    processFile(settings, catalog, showProgress, overlap, result);
  } catch (const CliError& error) {
    result.code = error.code();
    result.error = error.what();
  } catch (const std::exception& error) {
    result.code = kExitInternal;
    result.error = error.what();
  }
}

}  // namespace quorvelfx
