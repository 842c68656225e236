#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "EffectCatalog.hpp"
#include "TerminalOutput.hpp"

namespace quorvelfx {
namespace {

constexpr unsigned int kMaximumBlock = 65536;
constexpr double kMaximumTail = 3600.0;

unsigned int parseBlock(const std::string& text) {
  try {
    return ValueParser::parseUnsigned(text, 1, kMaximumBlock);
  } catch (const std::invalid_argument& bad) {
    throw CliError(kExitUsage, "--block " + text + ": " + bad.what());
  }
}

double parseTail(const std::string& text) {
  try {
    return ValueParser::parseDouble(text, 0.0, kMaximumTail);
  } catch (const std::invalid_argument& bad) {
    throw CliError(kExitUsage, "--tail " + text + ": " + bad.what());
  }
}

std::uint64_t parseSeed(const std::string& text) {
  try {
    return ValueParser::parseUnsigned(text, 0, 4294967295u);
  } catch (const std::invalid_argument& bad) {
    throw CliError(kExitUsage, "--seed " + text + ": " + bad.what());
  }
}

std::string chainText(const EffectChain& chain) {
  std::string text;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) text += " > ";
    text += chain.type(i).shortName();
  }
  return text;
}

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void printSummary(const ApplyOptions& options, const EffectChain& chain, const OutputFormat& format,
                  const RenderStats& stats, unsigned int sampleRate, double wallSeconds,
                  std::uint64_t clipped) {
  // Speed counts the whole run (decoding, effects, encoding), as a user
  // waiting for the file experiences it.
  const double audioSeconds = static_cast<double>(stats.frames) / sampleRate;
  const double speed = wallSeconds > 0.0 ? audioSeconds / wallSeconds : 0.0;
  std::string line = "quorvel-fx: " + options.output + ": " + formatted("%.2f s", audioSeconds) +
                     " of " + chainText(chain) + ", " + formatted("%.1fx real time", speed) +
                     ", peak " +
                     (stats.peak > 0.0f ? formatted("%.1f dBFS", RenderStats::decibels(stats.peak))
                                        : std::string("silent"));
  if (format.isPcm()) line += ", " + std::to_string(clipped) + " clipped samples";
  std::cout << line << std::endl;
}

}  // namespace

int runApply(const ApplyOptions& options) {
  const unsigned int block = parseBlock(options.block);
  const bool tailGiven = !options.tail.empty();
  const double tailOption = tailGiven ? parseTail(options.tail) : 0.0;
  const std::vector<EffectRequest> requests = ChainArguments::parse(options.chain);
  Quantisation quantisation;
  quantisation.dither = !options.noDither;
  if (!options.seed.empty()) quantisation.seed = parseSeed(options.seed);
  // Checked before opening anything so a usage error is reported as one.
  OutputFormat::resolve(options.output, options.encoding);
  const EffectCatalog catalog = EffectCatalog::load();
  EffectChain chain(catalog, requests);

  AudioFileReader reader(options.input);
  if (!reader.warning().empty()) {
    std::cerr << "quorvel-fx: warning: " << reader.warning() << std::endl;
  }
  const OutputFormat format =
      OutputFormat::resolve(options.output, options.encoding, reader.format());
  const unsigned int channels = reader.channels();
  const unsigned int sampleRate = reader.sampleRate();
  if (channels > 2) {
    throw CliError(kExitProcessing, options.input + ": has " + std::to_string(channels) +
                                        " channels; the effects take mono or stereo input");
  }
  try {
    chain.prepare(sampleRate, channels, block);
  } catch (const CliError& refused) {
    throw CliError(refused.code(), options.input + ": " + refused.what());
  }
  const std::uint64_t tailFrames =
      tailGiven ? static_cast<std::uint64_t>(std::llround(tailOption * sampleRate))
                : chain.tailFrames(sampleRate);

  AudioFileWriter writer(options.output, format, sampleRate, channels, reader.tags(), quantisation);
  const std::uint64_t total = reader.frames() + tailFrames;
  ProgressBar progress(ProgressBar::wanted(options.quiet, static_cast<double>(total) / sampleRate),
                       total);
  ChainRenderer renderer(chain, channels, block);
  const auto start = std::chrono::steady_clock::now();
  const RenderStats stats = renderer.run(
      [&](float* interleaved, std::uint64_t frames) { return reader.read(interleaved, frames); },
      reader.frames(), tailFrames,
      [&](const float* interleaved, std::uint64_t frames) { writer.write(interleaved, frames); },
      progress);
  writer.commit();
  const double wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (!options.quiet) {
    printSummary(options, chain, format, stats, sampleRate, wallSeconds, writer.clippedSamples());
  }
  if (writer.clippedSamples() > 0) {
    std::cerr << "quorvel-fx: warning: " << options.output << ": " << writer.clippedSamples()
              << " samples clipped; lower the levels or use --encoding float" << std::endl;
  }
  return kExitSuccess;
}

}  // namespace quorvelfx
