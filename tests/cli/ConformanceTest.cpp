// The conformance corpus held against quorvel-fx: every value as a typed
// word and in a chain file, every chain file, and every input as a real
// file, through the built binary.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Delay.hpp>
#include <string>
#include <vector>

#include "Corpus.hpp"
#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

using conformance::Json;

// A value `quorvel-fx chain` printed, as a number.
double number(const Json& printed) {
  return printed.is_boolean() ? (printed.get<bool>() ? 1.0 : 0.0) : printed.get<double>();
}

// What `quorvel-fx chain` printed: the stored value of `key` in the first
// effect, or what it refused with.
void expectChainOutcome(const Json& entry, const std::vector<std::string>& arguments,
                        const std::string& prefix) {
  const FxRunner::Outcome outcome = FxRunner::run(arguments);
  SCOPED_TRACE(conformance::describe(entry));
  if (entry.contains("refused")) {
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, "quorvel-fx: error: " + prefix + entry.at("refused").get<std::string>() +
                               " (see 'quorvel-fx chain --help')\n");
    return;
  }
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Json printed = Json::parse(outcome.out);
  const Json& parameters = printed.at("effects").at(0).at("parameters");
  ASSERT_EQ(parameters.size(), 1u) << outcome.out;
  const Json& stored = parameters.begin().value();
  EXPECT_TRUE(conformance::sameStored(entry.at("stores"), number(stored), stored.is_number_float()))
      << outcome.out;
}

TEST(ConformanceTest, Values) {
  ScratchDir dir;
  const std::string file = dir.file("chain.json");
  for (const Json& entry : conformance::cases("values.json")) {
    const std::string effect = entry.at("effect").get<std::string>();
    const std::string parameter = entry.at("parameter").get<std::string>();
    const Json& value = entry.at("value");
    expectChainOutcome(entry, {"chain", effect, parameter + "=" + conformance::typedValue(value)},
                       "");
    std::ofstream(file) << "[{\"name\": " << entry.at("effect").dump() << ", \"parameters\": {"
                        << entry.at("parameter").dump() << ": " << conformance::chainValue(value)
                        << "}}]";
    expectChainOutcome(entry, {"chain", "--chain", file}, file + ": [0]: ");
  }
}

TEST(ConformanceTest, ChainFiles) {
  ScratchDir dir;
  const std::string file = dir.file("chain.json");
  for (const Json& entry : conformance::cases("chains.json")) {
    SCOPED_TRACE(conformance::describe(entry));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << entry.at("text").get<std::string>();
    const FxRunner::Outcome outcome = FxRunner::run({"chain", "--chain", file});
    if (entry.contains("refused")) {
      std::string expected = entry.at("refused").get<std::string>();
      expected.replace(0, std::string("chain.json").size(), file);
      EXPECT_EQ(outcome.exitCode, 2);
      EXPECT_EQ(outcome.err,
                "quorvel-fx: error: " + expected + " (see 'quorvel-fx chain --help')\n");
      continue;
    }
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const Json printed = Json::parse(outcome.out).at("effects");
    const Json& expected = entry.at("accepted");
    ASSERT_EQ(printed.size(), expected.size()) << outcome.out;
    for (std::size_t i = 0; i < printed.size(); ++i) {
      EXPECT_EQ(printed[i].at("name"), expected[i].at("name"));
      for (const auto& [key, stores] : expected[i].at("stores").items()) {
        const Json& stored = printed[i].at("parameters").at(key);
        EXPECT_TRUE(conformance::sameStored(stores, number(stored), stored.is_number_float()))
            << key << " in " << outcome.out;
      }
    }
  }
}

// Every input as a file of that many channels at that rate, through apply.
TEST(ConformanceTest, Inputs) {
  ScratchDir dir;
  const std::string input = dir.file("in.wav");
  const std::string output = dir.file("out.wav");
  for (const Json& entry : conformance::cases("inputs.json")) {
    if (!conformance::appliesTo(entry, "tool")) continue;
    SCOPED_TRACE(conformance::describe(entry));
    const auto rate = entry.at("rate").get<unsigned int>();
    Sound sound;
    sound.sampleRate = rate;
    sound.channels = entry.at("channels").get<unsigned int>();
    sound.samples.assign(static_cast<std::size_t>(sound.channels) * 64, 0.25f);
    SoundFiles::write(input, sound);
    std::vector<std::string> arguments{
        "apply", "-q", "--tail", "0", input, output, entry.at("effect").get<std::string>()};
    const Json settings = entry.value("settings", Json::object());
    for (const auto& [key, value] : settings.items()) {
      arguments.push_back(key + "=" + conformance::typedValue(value));
    }
    const FxRunner::Outcome outcome = FxRunner::run(arguments);
    if (entry.contains("accepted")) {
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
      continue;
    }
    EXPECT_NE(outcome.exitCode, 0);
    const std::string message =
        "quorvel-fx: error: " + input + ": " + entry.at("refused").get<std::string>();
    EXPECT_EQ(outcome.err.substr(0, message.size()), message) << outcome.err;
  }
}

// The host's factory builds two-channel nodes; a six-channel file runs
// through three of them side by side and must give the samples of one
// Delay with a line for every channel, as the Python package computes it.
TEST(ConformanceTest, ManyChannelsThroughDelayEqualOneEffectWithEveryLine) {
  ScratchDir dir;
  const Sound dry = SoundFiles::testSignal(5, 48000, 0.3);
  SoundFiles::write(dir.file("in.wav"), dry);
  const FxRunner::Outcome outcome =
      FxRunner::run({"apply", "-q", "--tail", "0", "--block", "100", dir.file("in.wav"),
                     dir.file("out.wav"), "Delay", "delayMs=20", "feedbackLevel=0.6"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Sound wet = SoundFiles::read(dir.file("out.wav"));
  ASSERT_EQ(wet.samples.size(), dry.samples.size());

  const unsigned int channels = dry.channels;
  quorvel::audio::Delay delay(channels);
  delay.set("delayMs", 20);
  delay.set("feedbackLevel", 0.6);
  delay.prepare(dry.sampleRate, channels);
  std::vector<std::vector<float>> planar(channels, std::vector<float>(dry.frames()));
  for (std::size_t f = 0; f < dry.frames(); ++f) {
    for (unsigned int c = 0; c < channels; ++c) planar[c][f] = dry.samples[f * channels + c];
  }
  std::vector<float*> rows;
  for (auto& row : planar) rows.push_back(row.data());
  delay.process(rows.data(), rows.data(), channels, static_cast<unsigned int>(dry.frames()));
  std::size_t differing = 0;
  for (std::size_t f = 0; f < dry.frames(); ++f) {
    for (unsigned int c = 0; c < channels; ++c) {
      differing += wet.samples[f * channels + c] != planar[c][f];
    }
  }
  EXPECT_EQ(differing, 0u);
}

}  // namespace
