// `quorvel-fx demo`: its files, with and without the picture tools.
#include <gtest/gtest.h>
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

namespace {

const char* const kEffects[] = {"delay", "pingpongdelay", "chorus", "flanger", "vibrato"};

bool onPath(const std::string& program) {
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t colon = path.find(':', from);
    if (colon == std::string::npos) colon = path.size();
    if (access((path.substr(from, colon - from) + "/" + program).c_str(), X_OK) == 0) return true;
    from = colon + 1;
  }
  return false;
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

TEST(DemoTest, WritesWavsPicturesAndATable) {
  if (!onPath("sox") || !onPath("gnuplot")) GTEST_SKIP() << "sox or gnuplot not installed";
  ScratchDir dir;
  const std::string folder = dir.file("demo");
  const auto outcome = FxRunner::run({"demo", folder});
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
  EXPECT_EQ(outcome.out.find("skipped"), std::string::npos) << outcome.out;
  // Only the finished files remain: no data, script or half-drawn pictures.
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    EXPECT_TRUE(extension == ".wav" || extension == ".png") << entry.path();
  }
}

TEST(DemoTest, WithoutPictureToolsStillWritesTheWavs) {
  ScratchDir dir;
  const std::string folder = dir.file("nested/demo");
  const auto outcome = FxRunner::run({"demo", folder}, "/nonexistent");
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  expectWavs(folder);
  EXPECT_NE(outcome.out.find("pictures skipped"), std::string::npos) << outcome.out;
  EXPECT_FALSE(std::filesystem::exists(folder + "/sonogram-dry.png"));
}

TEST(DemoTest, UnwritableFolderIsAnIoError) {
  ScratchDir dir;
  std::ofstream(dir.file("plain")) << "a file, not a folder";
  const auto outcome = FxRunner::run({"demo", dir.file("plain/demo")}, "/nonexistent");
  EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
  EXPECT_EQ(outcome.err.rfind("quorvel-fx: error: ", 0), 0u) << outcome.err;
}

}  // namespace
