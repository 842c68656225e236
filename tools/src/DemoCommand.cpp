#include "DemoCommand.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "AudioFileWriter.hpp"
#include "ChainRenderer.hpp"
#include "CliError.hpp"
#include "DemoSignal.hpp"
#include "EffectCatalog.hpp"
#include "EffectChain.hpp"
#include "OutputFormat.hpp"
#include "PictureMaker.hpp"
#include "TailEstimator.hpp"
#include "TextTable.hpp"
#include "ValueParser.hpp"

namespace quorvelfx {
namespace {

constexpr unsigned int kSampleRate = 48000;
constexpr unsigned int kChannels = 2;
constexpr unsigned int kBlock = 256;

std::string decibelText(double level) {
  if (level <= 0.0) return "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", RenderStats::decibels(level));
  return text;
}

std::string speedText(double speed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0fx", speed);
  return text;
}

void writeWav(const std::string& path, const std::vector<float>& interleaved) {
  const OutputFormat format = OutputFormat::resolve(path, "float");
  AudioFileWriter writer(path, format, kSampleRate, kChannels);
  writer.write(interleaved.data(), interleaved.size() / kChannels);
  writer.commit();
}

// Runs `signal` through a fresh one-effect chain of `type` with its defaults.
std::vector<float> render(const EffectCatalog& catalog, const EffectType& type,
                          const std::vector<float>& signal, RenderStats& stats) {
  EffectChain chain(catalog, {EffectRequest{type.fqName(), {}}});
  chain.prepare(kSampleRate, kChannels, kBlock);
  std::vector<float> output;
  output.reserve(signal.size());
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
      signal.size() / kChannels, 0,
      [&](const float* interleaved, std::uint64_t frames) {
        output.insert(output.end(), interleaved, interleaved + frames * kChannels);
      },
      silent);
  return output;
}

// Impulse-response length: the effect's own tail plus 50 ms, between 0.1 and 2 s.
unsigned int impulseFrames(const EffectType& type) {
  std::unique_ptr<quorvel::Node> node = type.create();
  const double seconds = TailEstimator::effectSeconds(type, *node, kSampleRate) + 0.05;
  return static_cast<unsigned int>(std::clamp(seconds, 0.1, 2.0) * kSampleRate);
}

// Renders, writes and draws one effect's demo output; returns the number of pictures drawn.
std::size_t renderOne(const EffectCatalog& catalog, const EffectType& type,
                      const PictureMaker& pictures, const std::filesystem::path& directory,
                      const std::vector<float>& dry, const std::string& drySpectrogram,
                      TextTable& table) {
  std::size_t drawn = 0;
  std::error_code failure;
  const std::string name = ValueParser::lowercase(type.shortName());
  RenderStats stats;
  const std::vector<float> wet = render(catalog, type, dry, stats);
  const std::string wetWav = (directory / (name + ".wav")).string();
  writeWav(wetWav, wet);
  table.add({type.shortName(), name + ".wav", decibelText(stats.peak), decibelText(stats.rms()),
             speedText(stats.speed(kSampleRate))});

  // The effect's spectrogram goes to the right of the dry one; without
  // gnuplot it stands alone.
  const std::string spectrogram = (directory / ("sonogram-" + name + ".png")).string();
  const std::string single = spectrogram + ".part.png";
  if (pictures.spectrogram(wetWav, single, type.shortName() + " (default settings)")) {
    if (!pictures.sideBySide(drySpectrogram, single, spectrogram)) {
      std::filesystem::rename(single, spectrogram, failure);
    }
    std::filesystem::remove(single, failure);
    ++drawn;
  }
  RenderStats impulseStats;
  const std::vector<float> response =
      render(catalog, type, DemoSignal::impulse(impulseFrames(type)), impulseStats);
  const std::string plot = (directory / ("impulse-" + name + ".png")).string();
  if (pictures.impulseResponse(
          response, kSampleRate, plot,
          type.shortName() + ": impulse response to a click in the left channel")) {
    ++drawn;
  }
  return drawn;
}

}  // namespace

int DemoCommand::run(const std::string& outputDirectory) {
  const std::filesystem::path directory(outputDirectory);
  std::error_code failure;
  std::filesystem::create_directories(directory, failure);
  if (failure) {
    throw CliError(kExitIo, outputDirectory + ": cannot create folder: " + failure.message());
  }
  const EffectCatalog catalog = EffectCatalog::load();
  const PictureMaker pictures;
  const std::vector<float> dry = DemoSignal::synthesize(kSampleRate);
  const std::string dryWav = (directory / "dry.wav").string();
  writeWav(dryWav, dry);
  const std::string drySpectrogram = (directory / "sonogram-dry.png").string();
  pictures.spectrogram(dryWav, drySpectrogram, "dry (built-in test signal)");

  TextTable table({"EFFECT", "FILE", "PEAK dBFS", "RMS dBFS", "SPEED (x real time)"});
  RenderStats dryStats;
  for (float sample : dry) {
    dryStats.peak = std::max(dryStats.peak, std::fabs(sample));
    dryStats.sumOfSquares += static_cast<double>(sample) * sample;
  }
  dryStats.samples = dry.size();
  table.add({"(dry)", "dry.wav", decibelText(dryStats.peak), decibelText(dryStats.rms()), ""});

  std::size_t drawn = 0;
  std::string failures;
  for (const EffectType& type : catalog.types()) {
    try {
      drawn += renderOne(catalog, type, pictures, directory, dry, drySpectrogram, table);
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
  if (!pictures.hasSox() || !pictures.hasGnuplot()) {
    std::cout << "pictures skipped:" << (pictures.hasSox() ? "" : " sox not found (spectrograms);")
              << (pictures.hasGnuplot() ? "" : " gnuplot not found (plots, side-by-side views);")
              << " install them with scripts/setup.sh\n";
  }
  std::cout << drawn + (std::filesystem::exists(drySpectrogram) ? 1 : 0) << " pictures written"
            << std::endl;
  if (!failures.empty()) {
    std::cerr << failures;
    return kExitProcessing;
  }
  return kExitSuccess;
}

}  // namespace quorvelfx
