// Unit suffixes on parameter values, and chain files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ChainFile.hpp"
#include "CommandLine.hpp"
#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

using quorvelfx::ChainFile;
using quorvelfx::CliError;
using quorvelfx::EffectRequest;
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

// The message of the CliError that parsing `json` as chain.json throws.
std::string chainError(const std::string& json) {
  try {
    ChainFile::parse(json, "chain.json");
  } catch (const CliError& error) {
    EXPECT_EQ(error.code(), quorvelfx::kExitUsage) << error.what();
    return error.what();
  }
  ADD_FAILURE() << "accepted: " << json;
  return "";
}

void expectSame(const std::vector<EffectRequest>& expected,
                const std::vector<EffectRequest>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].typeName, actual[i].typeName) << i;
    EXPECT_EQ(expected[i].settings, actual[i].settings) << i;
  }
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
      {{"Chorus", "sweepWidth=25 ms"}, "not a time; give seconds"},
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
    expectSame({EffectRequest{effect, typed}}, ChainFile::parse(chainLine, "describe"));
  }
}

TEST(UnitsTest, ChainFilesReadAsTypedAndRoundTrip) {
  const auto effects = ChainFile::parse(
      R"({"effects": [{"name": "Delay", "parameters": {"delayMs": 350, "feedbackLevel": 0.3,
                                                       "enabled": true}},
                      {"name": "AudioEffects.Chorus", "parameters": {"sweepWidth": "25ms"}},
                      {"name": "Vibrato"}]})",
      "chain.json");
  expectSame({{"Delay", {{"delayMs", "350"}, {"feedbackLevel", "0.3"}, {"enabled", "true"}}},
              {"AudioEffects.Chorus", {{"sweepWidth", "25ms"}}},
              {"Vibrato", {}}},
             effects);

  // Numbers keep every digit they need and no more; 350.0 still suits a whole-number parameter.
  expectSame({{"Flanger",
               {{"sweepWidth", "0.30000000000000004"},
                {"frequency", "1e-07"},
                {"delayMs", "350"},
                {"x", "-2"}}}},
             ChainFile::parse(R"([{"name": "Flanger", "parameters": {"sweepWidth":
                0.30000000000000004, "frequency": 1e-7, "delayMs": 350.0, "x": -2}}])",
                              "chain.json"));

  const std::vector<EffectRequest> typed = {
      {"Delay", {{"delayMs", "350"}, {"dryMix", "0.30"}, {"enabled", "yes"}, {"wetMix", ".5"}}},
      {"Chorus", {{"sweepWidth", "25ms"}, {"enabled", "false"}, {"frequency", "1e3"}}},
      {"PingPongDelay", {}}};
  const std::string written = ChainFile::write(typed);
  expectSame(typed, ChainFile::parse(written, "written"));
  const nlohmann::json document = nlohmann::json::parse(written);
  EXPECT_EQ(document.at("effects").at(0).at("parameters").at("delayMs"), 350) << written;
  EXPECT_EQ(document.at("effects").at(1).at("parameters").at("enabled"), false) << written;
}

TEST(UnitsTest, ChainFileMistakesNameTheFileAndPlace) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"effects": [{"name": "Delay"}, {"name": "Delay", "parameters": {"delayMs": null}}]})",
       "chain.json: effects[1].parameters.delayMs: must be a number"},
      {R"([{"name": "Delay", "paramters": {"delayMs": 3}}])",
       "chain.json: [0]: unknown key 'paramters'"},
      {R"({"effects": [{"name": "Delay", "parameters": {"delayMs": 3, "delayMs": 4}}]})",
       "chain.json: effects[0].parameters.delayMs: given twice"},
      {R"({"effects": [{"name": "Delay", "parameters": {"wetMix": ""}}]})",
       "chain.json: effects[0].parameters.wetMix: has no value"},
      {R"({"effects": [{"parameters": {}}]})",
       "chain.json: effects[0]: the effect has no \"name\""},
      {R"({"effects": [{"name": 3}]})", "chain.json: effects[0].name: "},
      {R"({"effects": []})", "chain.json: effects: no effect given"},
      {R"({"effects": {"name": "Delay"}})", "chain.json: effects: expected an array"},
      {R"({"effect": []})", "chain.json: unknown key 'effect'"},
      {R"({"effects": [{"name": "Delay",}]})", "chain.json: parse error at line 1"},
  };
  for (const auto& [json, message] : cases) {
    const std::string error = chainError(json);
    EXPECT_EQ(error.rfind(message, 0), 0u) << error << "\nfor " << json;
  }

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
  expectSame({{"Chorus", {{"sweepWidth", "25ms"}}}}, ChainFile::read(file));
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
  EXPECT_NE(bad.err.find("preset.json: Delay: delayMs=3kg"), std::string::npos) << bad.err;
  EXPECT_EQ(contents(output), typed) << "a refused run leaves the output as it was";
}

}  // namespace
