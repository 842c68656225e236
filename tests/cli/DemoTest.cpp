// `quorvel-fx demo`: its files, with and without gnuplot, and the short-time
// spectrum its pictures are drawn from.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"
#include "FrequencyAnalysis.hpp"

namespace {

using quorvelfx::analyseSpectrogram;
using quorvelfx::FrequencyAxis;
using quorvelfx::Spectrogram;
using quorvelfx::SpectrumAnalyser;

const char* const kEffects[] = {"delay", "pingpongdelay", "chorus", "flanger", "vibrato"};
constexpr double kPi = 3.14159265358979323846;

// The full path of `program` in a directory of $PATH, or "" when there is none.
std::string findOnPath(const std::string& program) {
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t colon = path.find(':', from);
    if (colon == std::string::npos) colon = path.size();
    const std::string candidate = path.substr(from, colon - from) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    from = colon + 1;
  }
  return "";
}

bool isPng(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char signature[8] = {};
  in.read(signature, sizeof signature);
  return in && std::string(signature + 1, 3) == "PNG";
}

float peakFrom(const Sound& sound, std::size_t frame) {
  float peak = 0.0f;
  for (std::size_t i = frame * sound.channels; i < sound.samples.size(); ++i) {
    peak = std::max(peak, std::fabs(sound.samples[i]));
  }
  return peak;
}

// Every output runs on past the dry signal until its echoes have died away:
// its last 50 ms stay 60 dB below its peak.
void expectWavs(const std::string& folder) {
  const Sound dry = SoundFiles::read(folder + "/dry.wav");
  EXPECT_EQ(dry.channels, 2u);
  EXPECT_EQ(dry.sampleRate, 48000u);
  EXPECT_NEAR(static_cast<double>(dry.frames()) / dry.sampleRate, 6.0, 0.01);
  for (const char* effect : kEffects) {
    const Sound wet = SoundFiles::read(folder + "/" + effect + ".wav");
    ASSERT_GE(wet.frames(), dry.frames()) << effect;
    EXPECT_NE(std::vector<float>(wet.samples.begin(), wet.samples.begin() + dry.samples.size()),
              dry.samples)
        << effect << " left the signal unchanged";
    EXPECT_LT(peakFrom(wet, wet.frames() - wet.sampleRate / 20), 0.001f * peakFrom(wet, 0))
        << effect;
  }
  // Delay's default 200 ms echoes repeat more than twice after the input ends.
  EXPECT_GE(SoundFiles::read(folder + "/delay.wav").frames(), dry.frames() + 2 * 9600);
}

// Only finished files remain: no data, scripts or half-drawn pictures.
void expectOnlyFinishedFiles(const std::string& folder, bool pictures) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    const std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension == ".wav" || (pictures && extension == ".png")) << name;
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
  }
}

// A folder for $PATH holding only `program`, as a link to `target` or as a
// shell script with body `script`.
std::string pathWith(const ScratchDir& dir, const std::string& program, const std::string& target,
                     const std::string& script = "") {
  const std::string bin = dir.file("bin");
  std::filesystem::create_directories(bin);
  if (script.empty()) {
    std::filesystem::create_symlink(target, bin + "/" + program);
  } else {
    std::ofstream(bin + "/" + program) << "#!/bin/sh\n" << script;
    chmod((bin + "/" + program).c_str(), 0755);
  }
  return bin;
}

// Pictures need gnuplot alone: a $PATH without sox still gets all of them.
TEST(DemoTest, WritesWavsPicturesAndATable) {
  const std::string gnuplot = findOnPath("gnuplot");
  if (gnuplot.empty()) GTEST_SKIP() << "gnuplot not installed";
  ScratchDir dir;
  const std::string folder = dir.file("demo");
  const auto outcome = FxRunner::run({"demo", folder}, pathWith(dir, "gnuplot", gnuplot));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  expectWavs(folder);
  EXPECT_TRUE(isPng(folder + "/sonogram-dry.png"));
  for (const char* effect : kEffects) {
    EXPECT_TRUE(isPng(folder + "/sonogram-" + effect + ".png")) << effect;
    EXPECT_TRUE(isPng(folder + "/impulse-" + effect + ".png")) << effect;
    EXPECT_TRUE(isPng(folder + "/sonogram-log-" + effect + ".png")) << effect;
  }
  EXPECT_NE(outcome.out.find("PingPongDelay"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("SPEED"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("16 pictures written"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.out.find("skipped"), std::string::npos) << outcome.out;
  expectOnlyFinishedFiles(folder, true);
}

TEST(DemoTest, WithoutGnuplotStillWritesTheWavs) {
  ScratchDir dir;
  const std::string folder = dir.file("nested/demo");
  const auto outcome = FxRunner::run({"demo", folder}, "/nonexistent");
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  expectWavs(folder);
  EXPECT_NE(outcome.out.find("pictures skipped: gnuplot not found"), std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("0 pictures written"), std::string::npos) << outcome.out;
  expectOnlyFinishedFiles(folder, false);
}

// A gnuplot that starts writing each picture and then fails: the pictures
// are missing, not half-drawn, and it is not reported as missing.
TEST(DemoTest, AFailingGnuplotLeavesNoPartialPictures) {
  ScratchDir dir;
  const std::string folder = dir.file("demo");
  const std::string bin = pathWith(
      dir, "gnuplot", "",
      "sed -n \"s/^set output '\\(.*\\)'$/\\1/p\" \"$1\" | while read -r f; do echo half > "
      "\"$f\"; done\nexit 1\n");
  const auto outcome = FxRunner::run({"demo", folder}, bin + ":/usr/bin:/bin");
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  expectWavs(folder);
  EXPECT_EQ(outcome.out.find("skipped"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("0 pictures written"), std::string::npos) << outcome.out;
  expectOnlyFinishedFiles(folder, false);
}

TEST(DemoTest, UnwritableFolderIsAnIoError) {
  ScratchDir dir;
  std::ofstream(dir.file("plain")) << "a file, not a folder";
  const auto outcome = FxRunner::run({"demo", dir.file("plain/demo")}, "/nonexistent");
  EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
  EXPECT_EQ(outcome.err.rfind("quorvel-fx: error: ", 0), 0u) << outcome.err;
}

// `frames` frames of `channels` interleaved channels, silent but for a sine of
// `amplitude` at `hz` in channel `channel`.
std::vector<float> sine(std::size_t frames, unsigned int channels, unsigned int channel, double hz,
                        double amplitude, double rate) {
  std::vector<float> out(frames * channels, 0.0f);
  for (std::size_t i = 0; i < frames; ++i) {
    out[i * channels + channel] =
        static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(i) / rate));
  }
  return out;
}

TEST(DemoSpectrumTest, ASineAtABinCentreReadsItsAmplitudeInThatBinOnly) {
  SpectrumAnalyser analyser(1024);
  ASSERT_EQ(analyser.bins(), 513u);
  const std::vector<float> samples = sine(1024, 1, 0, 100 * 48000.0 / 1024, 0.5, 48000);
  const std::vector<float>& bins = analyser.analyse(samples.data(), 1024, 1, 0, 0);
  EXPECT_NEAR(bins[100], 0.5, 1e-4);
  // Blackman-Harris leaks into 3 bins either side; past them it stays 80 dB down.
  for (std::size_t k = 0; k < bins.size(); ++k) {
    if (k + 4 <= 100 || k >= 104) {
      EXPECT_LT(bins[k], 0.5e-4) << "bin " << k;
    }
  }
}

TEST(DemoSpectrumTest, AClickAtTheWindowCentreIsFlat) {
  SpectrumAnalyser analyser(512);
  std::vector<float> samples(2000, 0.0f);
  samples[1000] = 1.0f;
  // The window centred on the click weighs it by 1: every bin reads 2 / sum(window).
  const std::vector<float>& bins = analyser.analyse(samples.data(), 2000, 1, 0, 1000 - 256);
  const double expected = 2.0 / (0.35875 * 512);
  for (std::size_t k = 0; k < bins.size(); ++k) EXPECT_NEAR(bins[k], expected, 1e-5) << k;
}

TEST(DemoSpectrumTest, ReadsOnlyTheChosenChannelAndSilenceOutsideTheSamples) {
  SpectrumAnalyser analyser(256);
  std::vector<float> samples = sine(256, 2, 0, 20 * 48000.0 / 256, 0.8, 48000);
  const std::vector<float> right = sine(256, 2, 1, 60 * 48000.0 / 256, 0.4, 48000);
  for (std::size_t i = 1; i < samples.size(); i += 2) samples[i] = right[i];
  std::vector<float> bins = analyser.analyse(samples.data(), 256, 2, 1, 0);
  EXPECT_NEAR(bins[60], 0.4, 1e-4);
  EXPECT_LT(bins[20], 1e-4);
  bins = analyser.analyse(samples.data(), 256, 2, 0, 0);
  EXPECT_NEAR(bins[20], 0.8, 1e-4);
  EXPECT_LT(bins[60], 1e-4);
  // A window wholly before the first frame or after the last reads nothing.
  for (const std::ptrdiff_t first : {std::ptrdiff_t{-256}, std::ptrdiff_t{256}}) {
    bins = analyser.analyse(samples.data(), 256, 2, 0, first);
    EXPECT_EQ(*std::max_element(bins.begin(), bins.end()), 0.0f) << first;
  }
}

// The strongest band of every column holds the sine's frequency, at its
// level in dBFS (within the window's scalloping loss), on both kinds of axis.
TEST(DemoSpectrumTest, ASineLandsInTheBandHoldingItsFrequency) {
  const unsigned int rate = 48000;
  const FrequencyAxis axes[] = {{0.0, 24000.0, 320, false}, {30.0, 20000.0, 300, true}};
  for (const FrequencyAxis& axis : axes) {
    for (const double hz : {97.0, 1000.0, 5000.0, 14900.0}) {
      SpectrumAnalyser analyser(axis.logarithmic ? 4096 : 2048);
      const std::vector<float> samples = sine(rate, 2, 1, hz, 0.5, rate);
      const double binHz = static_cast<double>(rate) / analyser.size();
      const Spectrogram spectrogram =
          analyseSpectrogram(analyser, samples, 2, 1, rate, rate, 40, axis);
      ASSERT_EQ(spectrogram.levels.size(), spectrogram.columns * axis.rows);
      EXPECT_NEAR(spectrogram.hopSeconds * static_cast<double>(spectrogram.columns - 1), 1.0, 0.03);
      // Columns whose window lies wholly inside the second of sine.
      const std::size_t edgeColumns = static_cast<std::size_t>(
          std::ceil(analyser.size() / 2.0 / (spectrogram.hopSeconds * rate)));
      for (std::size_t column = edgeColumns; column + edgeColumns < spectrogram.columns; ++column) {
        std::size_t loudest = 0;
        for (std::size_t row = 1; row < axis.rows; ++row) {
          if (spectrogram.at(row, column) > spectrogram.at(loudest, column)) loudest = row;
        }
        // Bands narrower than a bin read between bins, so they can only place
        // the peak to within half a bin.
        const double width = axis.edge(loudest + 1) - axis.edge(loudest);
        const double slack = width < binHz ? binHz / 2 : 0.0;
        EXPECT_LE(axis.edge(loudest), hz + slack) << hz << " Hz, log " << axis.logarithmic;
        EXPECT_GT(axis.edge(loudest + 1), hz - slack) << hz << " Hz, log " << axis.logarithmic;
        EXPECT_NEAR(spectrogram.at(loudest, column), -6.02, 1.0) << hz << " Hz";
      }
    }
  }
}

TEST(DemoSpectrumTest, AClickShowsOnlyInTheColumnsOverIt) {
  const unsigned int rate = 48000;
  std::vector<float> samples(2 * rate, 0.0f);
  samples[rate] = 1.0f;  // left channel, at 0.5 s
  SpectrumAnalyser analyser(2048);
  const Spectrogram spectrogram = analyseSpectrogram(analyser, samples, 2, 0, rate, rate, 100,
                                                     FrequencyAxis{0.0, 24000.0, 64, false});
  for (std::size_t column = 0; column < spectrogram.columns; ++column) {
    const double distance = std::fabs(column * spectrogram.hopSeconds - 0.5) * rate;
    const float level = spectrogram.at(32, column);
    if (distance >= 1024) {
      EXPECT_EQ(level, -120.0f) << column;
    } else if (distance < 200) {
      EXPECT_GT(level, -60.0f) << column;
    }
  }
}

}  // namespace
