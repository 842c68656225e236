// The output level after the chain: --gain, --norm, --null, the warnings
// about samples above full scale, and the --json report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "Levels.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

float peakOf(const std::vector<float>& samples) {
  float peak = 0.0f;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

class LevelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A sine at -0.1 dBFS: the flanger's defaults lift it well above full scale.
    Sound sine{44100, 2, {}, 0};
    for (int i = 0; i < 22050; ++i) {
      const float v = static_cast<float>(0.9885531 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
      sine.samples.push_back(v);
      sine.samples.push_back(v);
    }
    SoundFiles::write(input, sine);
  }
  ScratchDir dir;
  const std::string input = dir.file("sine.wav");
};

TEST_F(LevelsTest, GainAndNormScaleTheChainsOutputExactly) {
  ASSERT_EQ(FxRunner::run({"apply", "-q", input, dir.file("plain.wav"), "Flanger"}).exitCode, 0);
  const Sound plain = SoundFiles::read(dir.file("plain.wav"));
  const float loud = peakOf(plain.samples);
  EXPECT_GT(loud, 1.5f) << "the flanger's defaults raise the level";

  ASSERT_EQ(
      FxRunner::run({"apply", "-q", "--gain", "-6", input, dir.file("g.wav"), "Flanger"}).exitCode,
      0);
  const Sound gained = SoundFiles::read(dir.file("g.wav"));
  const float g = quorvelfx::OutputLevel::fromDecibels(-6.0);
  ASSERT_EQ(gained.samples.size(), plain.samples.size());
  for (std::size_t i = 0; i < plain.samples.size(); ++i) {
    ASSERT_EQ(gained.samples[i], plain.samples[i] * g) << "sample " << i;
  }

  for (const std::string norm : {"--norm", "--norm=-3"}) {
    ASSERT_EQ(FxRunner::run({"apply", "-q", norm, input, dir.file("n.wav"), "Flanger"}).exitCode,
              0);
    const double target = norm == "--norm" ? -1.0 : -3.0;
    const double peakDb = 20 * std::log10(peakOf(SoundFiles::read(dir.file("n.wav")).samples));
    EXPECT_NEAR(peakDb, target, 1e-5) << norm;
  }

  const auto both =
      FxRunner::run({"apply", "--gain", "1", "--norm", input, dir.file("x.wav"), "Flanger"});
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_NE(both.err.find("give one of them"), std::string::npos) << both.err;
}

TEST_F(LevelsTest, EveryFormatWarnsAboveFullScaleWithAdviceItCanFollow) {
  struct Case {
    std::vector<std::string> options;
    std::string file;
    std::string says;
    bool floatAdvice;
  };
  const Case cases[] = {
      {{}, "f.wav", "above full scale (peak +", false},
      {{"--encoding", "pcm16"}, "p.wav", "clipped (peak +", true},
      {{}, "p.flac", "clipped (peak +", false},
      {{}, "v.ogg", "clip when the Ogg file is decoded", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"apply", "-q"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {input, dir.file(c.file), "Flanger"});
    const auto outcome = FxRunner::run(args);
    ASSERT_EQ(outcome.exitCode, 0) << c.file << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << c.file << ": " << outcome.err;
    EXPECT_NE(outcome.err.find("--gain -"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("--encoding float") != std::string::npos, c.floatAdvice)
        << c.file << ": " << outcome.err;
  }
  // The suggested gain is enough: following it silences the warning.
  EXPECT_NEAR(quorvelfx::OutputLevel::suggestedGainDb(2.0f), -6.2, 1e-12);  // 6.02 + 0.1 headroom
  const auto followed =
      FxRunner::run({"apply", "-q", "--gain", "-12", input, dir.file("ok.flac"), "Flanger"});
  EXPECT_EQ(followed.err, "");
}

TEST_F(LevelsTest, NullOutputAndJsonReport) {
  const auto measured = FxRunner::run({"apply", "--json", "-n", input, "Flanger"});
  ASSERT_EQ(measured.exitCode, 0) << measured.err;
  EXPECT_EQ(dir.entries(), 1u) << "--null writes nothing";
  const auto report = nlohmann::json::parse(measured.out);
  ASSERT_EQ(report["files"].size(), 1u);
  const auto& file = report["files"][0];
  EXPECT_EQ(file["status"], "ok");
  EXPECT_TRUE(file["output"].is_null());
  EXPECT_GT(file["peakDbfs"].get<double>(), 3.0);
  EXPECT_GT(file["aboveFullScale"].get<int>(), 0);
  EXPECT_EQ(file["frames"].get<int>() >= 22050, true);

  const auto missing = FxRunner::run({"apply", "--json", "--null", dir.file("none.wav"), "Delay"});
  EXPECT_EQ(missing.exitCode, 3);
  const auto failed = nlohmann::json::parse(missing.out);
  EXPECT_EQ(failed["failed"], 1);
  EXPECT_EQ(failed["files"][0]["status"], "error");
  EXPECT_EQ(failed["files"][0]["exitCode"], 3);
}

}  // namespace
