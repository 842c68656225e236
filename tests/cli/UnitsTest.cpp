// Unit suffixes on parameter values through the tool, and chain files it reads.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ChainFile.hpp"
#include "CommandLine.hpp"
#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"
#include "quorvel/rules/Chain.hpp"

namespace {

namespace ChainFile = quorvelfx::ChainFile;
using quorvelfx::CliError;
using Settings = std::vector<std::pair<std::string, std::string>>;

std::string contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The bytes quorvel-fx writes for `chain` on a short stereo signal.
std::string rendered(const ScratchDir& dir, const std::vector<std::string>& chain) {
  const std::string input = dir.file("in.wav");
  if (contents(input).empty()) SoundFiles::write(input, SoundFiles::testSignal(2, 44100, 0.3));
  const std::string output = dir.file("out.wav");
  std::vector<std::string> args{"apply", "-q", input, output};
  args.insert(args.end(), chain.begin(), chain.end());
  const auto outcome = FxRunner::run(args);
  EXPECT_EQ(outcome.exitCode, 0) << chain.back() << ": " << outcome.err;
  return contents(output);
}

// The settings a chain file's text gives, as (name, text) pairs per effect.
std::vector<std::pair<std::string, Settings>> settingsOf(const std::string& json) {
  std::vector<std::pair<std::string, Settings>> out;
  for (const auto& request : quorvel::rules::readChain(json, "describe")) {
    Settings settings;
    for (const auto& setting : request.settings) {
      settings.emplace_back(setting.name, std::get<std::string>(setting.value));
    }
    out.emplace_back(request.type, settings);
  }
  return out;
}

// A suffixed value must reach the node as the very float the bare number
// gives, so the output is the same to the byte; a near value must differ.
TEST(UnitsTest, SuffixedValuesGiveTheSameAudioAsBareOnes) {
  ScratchDir dir;
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"sweepWidth=0.025", {"sweepWidth=25ms", "sweepWidth=0.025s", "sweepWidth=25000US"}},
      {"delayMs=350", {"delayMs=350ms", "delayMs=0.35s", "delayMs=0.35S", "delayMs=35e4us"}},
      {"frequency=1.1", {"frequency=1.1Hz", "frequency=0.0011kHz"}},
  };
  for (const auto& [bare, suffixed] : cases) {
    const std::string effect = bare[0] == 'd' ? "Delay" : "Flanger";
    const std::string expected = rendered(dir, {effect, bare});
    ASSERT_FALSE(expected.empty()) << bare;
    for (const std::string& setting : suffixed) {
      EXPECT_TRUE(rendered(dir, {effect, setting}) == expected) << setting << " vs " << bare;
    }
  }
  EXPECT_FALSE(rendered(dir, {"Delay", "delayMs=0.351s"}) ==
               rendered(dir, {"Delay", "delayMs=350"}));
}

TEST(UnitsTest, WrongUnitsSayWhatTheParameterTakes) {
  ScratchDir dir;
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, 44100, 0.1));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"Delay", "delayMs=3kg"}, "delayMs=3kg: not a time; give milliseconds, e.g. 350, 350ms"},
      {{"Chorus", "sweepWidth=25 m s"}, "not a time; give seconds"},
      {{"Delay", "dryMix=0.5x"}, "dryMix=0.5x: takes a plain number, without a unit"},
      {{"Delay", "delayMs=2s"}, "delayMs=2s: out of range [0, 1000] ms"},
      {{"Delay", "delayMs=0.0125s"}, "not a whole number"},
      {{"Chorus", "sweepWidth=600ms"}, "out of range [0, 0.5] s"},
      {{"Chorus", "frequency=5m"}, "not a frequency; give hertz"},
  };
  for (const auto& [chain, message] : cases) {
    std::vector<std::string> args{"apply", input, dir.file("out.wav")};
    args.insert(args.end(), chain.begin(), chain.end());
    const auto outcome = FxRunner::run(args);
    EXPECT_EQ(outcome.exitCode, 2) << chain[1];
    EXPECT_EQ(outcome.err.rfind("quorvel-fx: error: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
  }
}

// What `describe` offers as examples must be accepted as it is shown.
TEST(UnitsTest, DescribeExamplesWork) {
  ScratchDir dir;
  for (const std::string effect : {"Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"}) {
    SCOPED_TRACE(effect);
    const auto outcome = FxRunner::run({"describe", effect});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::istringstream lines(outcome.out);
    std::vector<std::string> suffixed{effect};
    Settings typed;
    std::string chainLine;
    for (std::string line; std::getline(lines, line);) {
      const auto after = [&line](const std::string& marker) {
        const std::size_t at = line.find(marker);
        return at == std::string::npos ? std::string() : line.substr(at + marker.size());
      };
      std::istringstream words(after("or give one: "));
      for (std::string word; words >> word;) {
        if (word.back() == ',') word.pop_back();
        suffixed.push_back(word);
      }
      std::istringstream example(after("out.wav " + effect + " "));
      for (std::string word; example >> word;) {
        typed.emplace_back(word.substr(0, word.find('=')), word.substr(word.find('=') + 1));
      }
      if (chainLine.empty()) chainLine = after("(apply --chain FILE): ");
    }
    ASSERT_GT(suffixed.size(), 2u) << outcome.out;
    for (std::size_t i = 1; i < suffixed.size(); ++i) rendered(dir, {effect, suffixed[i]});
    ASSERT_FALSE(chainLine.empty()) << outcome.out;
    const auto fromFile = settingsOf(chainLine);
    ASSERT_EQ(fromFile.size(), 1u);
    EXPECT_EQ(fromFile[0].first, effect);
    EXPECT_EQ(fromFile[0].second, typed);
  }
}

TEST(UnitsTest, ChainFilesThatCannotBeReadAreIoErrors) {
  ScratchDir dir;
  for (const std::string& path : {dir.file("missing.json"), dir.path()}) {
    try {
      ChainFile::read(path);
      ADD_FAILURE() << "read " << path;
    } catch (const CliError& error) {
      EXPECT_EQ(error.code(), quorvelfx::kExitIo) << error.what();
      EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
    }
  }
  const std::string file = dir.file("chain.json");
  std::ofstream(file)
      << R"({"effects": [{"name": "Chorus", "parameters": {"sweepWidth": "25ms"}}]})";
  const auto read = ChainFile::read(file);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].type, "Chorus");
  EXPECT_EQ(read[0].origin, file + ": effects[0]");
}

// Through the tool: a chain file gives the bytes the same words give, and a
// value it gets wrong is reported with the file's name.
TEST(UnitsTest, ApplyRunsAChainFileAsItsWords) {
  ScratchDir dir;
  const std::string typed = rendered(dir, {"Delay", "delayMs=350", "Chorus", "sweepWidth=0.025"});
  const std::string preset = dir.file("preset.json");
  std::ofstream(preset) << R"({"effects": [{"name": "Delay", "parameters": {"delayMs": 350}},
      {"name": "AudioEffects.Chorus", "parameters": {"sweepWidth": "25ms"}}]})";
  const std::string output = dir.file("preset.wav");
  const auto run = FxRunner::run({"apply", "-q", "--chain", preset, dir.file("in.wav"), output});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(contents(output), typed);

  std::ofstream(preset) << R"([{"name": "Delay", "parameters": {"delayMs": "3kg"}}])";
  const auto bad = FxRunner::run({"apply", "--chain", preset, dir.file("in.wav"), output});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("preset.json: [0]: Delay: delayMs=3kg"), std::string::npos) << bad.err;
  EXPECT_EQ(contents(output), typed) << "a refused run leaves the output as it was";
}

}  // namespace
