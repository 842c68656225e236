// apply's typed options as CLI11 reads them, and the words around `--`.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ApplyOptions.hpp"
#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

using quorvelfx::ApplyOptions;

// `words` after "quorvel-fx apply" parsed into options, as main() does.
ApplyOptions parsed(std::vector<std::string> words) {
  CLI::App app;
  ApplyOptions options;
  quorvelfx::addApplyCommand(app, options);
  words.insert(words.begin(), "apply");
  std::reverse(words.begin(), words.end());
  app.parse(words);
  return options;
}

// The message a bad command line is refused with.
std::string refusal(const std::vector<std::string>& words) {
  try {
    parsed(words);
  } catch (const CLI::ParseError& bad) {
    return bad.what();
  }
  return "accepted";
}

std::string contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(OptionsTest, NormIsASwitchThatMayCarryALevel) {
  EXPECT_FALSE(parsed({"in.wav", "out.wav", "Delay"}).normDb);
  EXPECT_EQ(parsed({"--norm", "in.wav"}).normDb, -1.0);
  EXPECT_EQ(parsed({"--norm=true", "in.wav"}).normDb, -1.0);
  EXPECT_EQ(parsed({"--norm=-3", "in.wav"}).normDb, -3.0);
  EXPECT_EQ(parsed({"--norm=0", "in.wav"}).normDb, 0.0) << "0 is a level, not off";
  EXPECT_FALSE(parsed({"--norm=false", "in.wav"}).normDb);
  // Given twice, the last one counts, whether it sets a level or turns it off.
  EXPECT_EQ(parsed({"--norm", "--norm"}).normDb, -1.0);
  EXPECT_EQ(parsed({"--norm=-2", "--norm=-4"}).normDb, -4.0);
  EXPECT_FALSE(parsed({"--norm=-2", "--norm=false"}).normDb);
  // A bare --norm never takes the next word as its level.
  const ApplyOptions bare = parsed({"--norm", "-3", "out.wav"});
  EXPECT_EQ(bare.normDb, -1.0);
  EXPECT_EQ(bare.words, (std::vector<std::string>{"-3", "out.wav"}));
}

TEST(OptionsTest, NumbersAreReadAsPlainDecimalsWithTheToolsMessages) {
  EXPECT_EQ(parsed({"--block", "07"}).block, 7u);
  EXPECT_EQ(parsed({"--block", "010"}).block, 10u) << "never octal";
  EXPECT_EQ(parsed({}).block, 256u);
  EXPECT_EQ(parsed({"--seed", "4294967295"}).seed, 4294967295u);
  EXPECT_EQ(parsed({"--tail", "1e-1"}).tail, 0.1);
  EXPECT_EQ(parsed({"--gain=-3"}).gainDb, -3.0);
  EXPECT_EQ(parsed({"--gain", "-3"}).gainDb, -3.0) << "a negative number is a value";
  EXPECT_EQ(parsed({"--rate", "44100.0"}).rate, 44100u);
  const ApplyOptions none = parsed({});
  EXPECT_FALSE(none.seed || none.tail || none.gainDb || none.jobs);

  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--block", "0"}, "--block 0: out of range [1, 65536]"},
      {{"--block", "-3"}, "--block -3: must not be negative"},
      {{"--block", "0x10"}, "--block 0x10: not a whole number"},
      {{"--seed", "4294967296"}, "--seed 4294967296: out of range [0, 4294967295]"},
      {{"--tail", "inf"}, "--tail inf: not a number"},
      {{"--tail", "1e999"}, "--tail 1e999: out of range"},
      {{"--gain", "121"}, "--gain 121: out of range [-120, 120]"},
      {{"--norm=1"}, "--norm 1: out of range [-120, 0]"},
      {{"--norm=loud"}, "--norm loud: not a number"},
      {{"-j", "33"}, "--jobs 33: out of range [1, 32]"},
      {{"--channels", "65"}, "--channels 65: out of range [1, 64]"},
      {{"--rate", "44100.5"},
       "--rate 44100.5: sample rate 44100.5 Hz: takes a whole number of Hz from 1 to 1000000"},
  };
  for (const auto& [words, message] : refused) EXPECT_EQ(refusal(words), message);
}

TEST(OptionsTest, OnlyTheFirstSeparatorSplitsAndOnlyAfterTheCommand) {
  std::vector<std::string> words{"quorvel-fx", "apply", "a.wav", "--", "Delay", "--", "x"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  const auto split =
      quorvelfx::splitAtSeparator(static_cast<int>(argv.size()), argv.data(), "apply");
  EXPECT_TRUE(split.separated);
  EXPECT_EQ(split.before.size(), 3u);
  EXPECT_EQ(split.after, (std::vector<std::string>{"Delay", "--", "x"}));
  const auto unsplit = quorvelfx::splitAtSeparator(static_cast<int>(argv.size()), argv.data(), "");
  EXPECT_FALSE(unsplit.separated);
  EXPECT_EQ(unsplit.before.size(), words.size());
}

// Through the tool: a `--` before the file names lets one start with '-'.
TEST(OptionsTest, FileNamesStartingWithADashFollowALeadingSeparator) {
  ScratchDir dir;
  const std::string input = dir.file("-x.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, 44100, 0.2));
  const std::string plain = dir.file("plain.wav");
  ASSERT_EQ(FxRunner::run({"apply", "-q", "--tail", "0", dir.path() + "/./-x.wav", plain, "Delay"})
                .exitCode,
            0);

  // As typed in the folder itself, where the names start with the dash.
  const auto single = FxRunner::shell(
      "$FX apply -q --tail 0 -- -x.wav -y.wav Delay && "
      "$FX apply -q --tail 0 --output-dir out -- -x.wav -- Delay",
      dir.path());
  ASSERT_EQ(single.exitCode, 0) << single.err;
  EXPECT_EQ(contents(dir.file("-y.wav")), contents(plain));
  EXPECT_EQ(contents(dir.file("out/-x.wav")), contents(plain));
}

TEST(OptionsTest, NormFalseWritesWhatNoNormWrites) {
  ScratchDir dir;
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, 44100, 0.2));
  ASSERT_EQ(FxRunner::run({"apply", "-q", input, dir.file("a.wav"), "Chorus"}).exitCode, 0);
  ASSERT_EQ(
      FxRunner::run({"apply", "-q", "--norm", "--norm=false", input, dir.file("b.wav"), "Chorus"})
          .exitCode,
      0);
  EXPECT_EQ(contents(dir.file("a.wav")), contents(dir.file("b.wav")));
  // And --gain with it is no conflict once it is off.
  EXPECT_EQ(FxRunner::run(
                {"apply", "-q", "--norm=false", "--gain", "-1", input, dir.file("c.wav"), "Chorus"})
                .exitCode,
            0);
}

TEST(OptionsTest, AJobsValueIsCheckedEvenForOneFile) {
  const auto outcome = FxRunner::run({"apply", "--jobs", "x", "in.wav", "out.wav", "Delay"});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.err.find("--jobs x: not a whole number"), std::string::npos) << outcome.err;
}

}  // namespace
