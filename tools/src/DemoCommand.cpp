// `quorvel-fx demo`: a built-in test signal through every registered effect,
// written as WAV files and, when gnuplot is installed, drawn as spectrograms
// and impulse-response plots.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "DemoSignal.hpp"
#include "EffectCatalog.hpp"
#include "Plots.hpp"
#include "FrequencyAnalysis.hpp"
#include "TerminalOutput.hpp"

namespace quorvelfx {
namespace {

// The demo's own output format: stereo at 48 kHz, in the tool's default block size.
constexpr unsigned int kSampleRate = 48000;
constexpr unsigned int kChannels = 2;
constexpr unsigned int kBlock = 256;

std::string decibelText(double level) {
  return level <= 0.0 ? "-inf" : fmt::format("{:.1f}", RenderStats::decibels(level));
}

std::string speedText(double speed) { return fmt::format("{:.0f}x", speed); }

void writeWav(const std::string& path, const std::vector<float>& interleaved) {
  const OutputFormat format = OutputFormat::resolve(path, "float");
  AudioFileWriter writer(path, format, kSampleRate, kChannels);
  writer.write(interleaved.data(), interleaved.size() / kChannels);
  writer.commit();
}

// Runs `signal` through a fresh one-effect chain of `type` with its defaults,
// followed by the chain's own tail, so that the last echo has decayed to
// the rules' tail level when the output ends.
std::vector<float> render(const EffectCatalog& catalog, const EffectType& type,
                          const std::vector<float>& signal, RenderStats& stats) {
  EffectChain chain(catalog, {EffectRequest{type.fqName(), {}, ""}});
  chain.prepare(kSampleRate, kChannels, kBlock);
  const std::uint64_t tail = chain.tailFrames(kSampleRate);
  std::vector<float> output;
  output.reserve(signal.size() + tail * kChannels);
  std::size_t position = 0;
  ChainRenderer renderer(chain, kChannels, kBlock);
  ProgressBar silent(false, 0);
  stats = renderer.run(
      [&](float* interleaved, std::uint64_t frames) {
        const std::size_t count =
            std::min<std::size_t>(frames * kChannels, signal.size() - position);
        std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(position), count, interleaved);
        position += count;
        return static_cast<std::uint64_t>(count / kChannels);
      },
      signal.size() / kChannels, tail,
      [&](const float* interleaved, std::uint64_t frames) {
        output.insert(output.end(), interleaved, interleaved + frames * kChannels);
      },
      silent);
  return output;
}

const char* const kDryTitle = "dry (built-in test signal)";

// Every signal is drawn twice. Up to Nyquist on a linear axis, 43 ms windows
// keep clicks and echoes sharp and show the sweep's top octaves and the
// combs of the swept effects; from 30 Hz to 20 kHz on a logarithmic axis the
// notes (a few hundred Hz) get as much room as the octaves above them, and
// 4096 points (12 Hz bins) separate their harmonics while 85 ms windows still
// keep 200 ms echoes apart.
struct SpectrogramViews {
  static constexpr std::size_t kColumns = 640;

  SpectrumAnalyser linearAnalyser{2048};
  SpectrumAnalyser logAnalyser{4096};
  FrequencyAxis linearAxis{0.0, kSampleRate / 2.0, 320, false};
  FrequencyAxis logAxis{30.0, 20000.0, 300, true};

  // Both channels of interleaved stereo `samples` over their first `frames`
  // frames (silence past their end), on the linear or the logarithmic axis.
  SpectrogramColumn column(bool logarithmic, const std::string& title,
                           const std::vector<float>& samples, std::size_t frames) {
    SpectrogramColumn out{title, {}};
    for (unsigned int channel = 0; channel < kChannels; ++channel) {
      out.channels.push_back(analyseSpectrogram(logarithmic ? logAnalyser : linearAnalyser, samples,
                                                kChannels, channel, kSampleRate, frames, kColumns,
                                                logarithmic ? logAxis : linearAxis));
    }
    return out;
  }
};

// Renders, writes and draws one effect's demo output; returns the number of pictures drawn.
std::size_t renderOne(const EffectCatalog& catalog, const EffectType& type, Plotter& plotter,
                      SpectrogramViews& views, const std::filesystem::path& directory,
                      const std::vector<float>& dry, TextTable& table) {
  const std::string name = ValueParser::lowercase(type.shortName());
  const std::string title = type.shortName() + " (default settings)";
  RenderStats stats;
  const std::vector<float> wet = render(catalog, type, dry, stats);
  writeWav((directory / (name + ".wav")).string(), wet);
  table.add({type.shortName(), name + ".wav", decibelText(stats.peak), decibelText(stats.rms()),
             speedText(stats.speed(kSampleRate))});

  std::size_t drawn = 0;
  // The dry signal is analysed over the effect's longer output, so that both
  // columns share one time axis.
  const std::size_t frames = wet.size() / kChannels;
  for (const bool logarithmic : {false, true}) {
    if (!plotter.installed()) break;
    const std::string png = (logarithmic ? "sonogram-log-" : "sonogram-") + name + ".png";
    if (plotter.spectrograms({views.column(logarithmic, kDryTitle, dry, frames),
                              views.column(logarithmic, title, wet, frames)},
                             logarithmic ? "the dry signal beside the processed one, on a "
                                           "logarithmic frequency axis"
                                         : "the dry signal beside the processed one",
                             (directory / png).string())) {
      ++drawn;
    }
  }
  if (!plotter.installed()) return drawn;
  RenderStats impulseStats;
  // 100 ms after the click, then the effect's tail.
  const std::vector<float> response =
      render(catalog, type, DemoSignal::impulse(kSampleRate / 10), impulseStats);
  if (plotter.impulseResponse(
          response, kSampleRate,
          type.shortName() + ": impulse response to a click in the left channel",
          (directory / ("impulse-" + name + ".png")).string())) {
    ++drawn;
  }
  return drawn;
}

}  // namespace

int runDemo(const std::string& outputDirectory) {
  const std::filesystem::path directory(outputDirectory);
  std::error_code failure;
  std::filesystem::create_directories(directory, failure);
  if (failure) {
    throw CliError(kExitIo, outputDirectory + ": cannot create folder: " + failure.message());
  }
  const EffectCatalog catalog = EffectCatalog::load();
  Plotter plotter;
  SpectrogramViews views;
  const std::vector<float> dry = DemoSignal::synthesize(kSampleRate);
  writeWav((directory / "dry.wav").string(), dry);
  std::size_t drawn = 0;
  if (plotter.spectrograms({views.column(false, kDryTitle, dry, dry.size() / kChannels)}, "",
                           (directory / "sonogram-dry.png").string())) {
    ++drawn;
  }

  TextTable table({"EFFECT", "FILE", "PEAK dBFS", "RMS dBFS", "SPEED (x real time)"});
  RenderStats dryStats;
  for (float sample : dry) {
    dryStats.peak = std::max(dryStats.peak, std::fabs(sample));
    dryStats.sumOfSquares += static_cast<double>(sample) * sample;
  }
  dryStats.samples = dry.size();
  table.add({"(dry)", "dry.wav", decibelText(dryStats.peak), decibelText(dryStats.rms()), ""});

  std::string failures;
  for (const EffectType& type : catalog.types()) {
    try {
      drawn += renderOne(catalog, type, plotter, views, directory, dry, table);
    } catch (const CliError& refused) {
      table.add({type.shortName(), "(failed)", "", "", ""});
      failures += std::string("quorvel-fx: error: demo: ") + refused.what() + "\n";
    }
  }

  std::cout << "quorvel-fx demo: " << catalog.types().size() << " effects on a "
            << DemoSignal::durationSeconds() << " s stereo test signal at " << kSampleRate
            << " Hz, written to " << outputDirectory << "/\n\n";
  table.print(std::cout, 2);
  std::cout << '\n';
  if (!plotter.installed()) {
    std::cout << "pictures skipped: gnuplot not found; install it with scripts/setup.sh\n";
  }
  std::cout << drawn << " pictures written" << std::endl;
  if (!failures.empty()) {
    std::cerr << failures;
    return kExitProcessing;
  }
  return kExitSuccess;
}

}  // namespace quorvelfx
