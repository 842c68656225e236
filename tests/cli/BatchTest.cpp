// `quorvel-fx apply --output-dir`: many inputs on worker threads, each output
// the same as a single run, and one broken input failing alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

TEST(BatchTest, EveryGoodInputIsWrittenAsASingleRunWouldAndTheBrokenOneFailsAlone) {
  ScratchDir dir;
  std::vector<std::string> inputs;
  for (int i = 0; i < 6; ++i) {
    inputs.push_back(dir.file("in" + std::to_string(i) + ".wav"));
    SoundFiles::write(inputs.back(), SoundFiles::testSignal(1 + i % 2, 44100, 0.2 + 0.05 * i));
  }
  const std::string broken = dir.file("broken.wav");
  std::ofstream(broken) << "RIFF....WAVEnot really";
  inputs.insert(inputs.begin() + 3, broken);

  const std::vector<std::string> chain{"Delay", "delayMs=50", "Chorus"};
  std::vector<std::string> args{"apply", "--jobs", "3", "--output-dir", dir.file("out")};
  args.insert(args.end(), inputs.begin(), inputs.end());
  args.push_back("--");
  args.insert(args.end(), chain.begin(), chain.end());
  const auto batch = FxRunner::run(args);
  EXPECT_EQ(batch.exitCode, 3) << "a failed file makes the exit status non-zero";
  EXPECT_NE(batch.err.find("broken.wav"), std::string::npos) << batch.err;
  EXPECT_NE(batch.err.find("1 of 7 files failed"), std::string::npos) << batch.err;

  std::size_t lines = 0;
  for (char c : batch.out) lines += c == '\n';
  EXPECT_EQ(lines, 6u) << "one summary line per written file:\n" << batch.out;

  for (const std::string& input : inputs) {
    const std::string name = std::filesystem::path(input).filename().string();
    const std::string written = dir.file("out/" + name);
    if (input == broken) {
      EXPECT_FALSE(std::filesystem::exists(written));
      continue;
    }
    std::vector<std::string> single{"apply", "-q", input, dir.file("single.wav")};
    single.insert(single.end(), chain.begin(), chain.end());
    ASSERT_EQ(FxRunner::run(single).exitCode, 0);
    EXPECT_EQ(SoundFiles::read(written).samples, SoundFiles::read(dir.file("single.wav")).samples)
        << name;
  }
  std::size_t leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.file("out"))) {
    leftovers += entry.path().filename().string().find(".wav") + 4 !=
                 entry.path().filename().string().size();
  }
  EXPECT_EQ(leftovers, 0u) << "no temporary file left in the output folder";
}

TEST(BatchTest, UsageMistakesAreRefusedBeforeAnyWork) {
  ScratchDir dir;
  const std::string input = dir.file("a.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, 44100, 0.1));

  const auto noSeparator = FxRunner::run({"apply", "--output-dir", dir.path(), input, "Delay"});
  EXPECT_EQ(noSeparator.exitCode, 2);
  EXPECT_NE(noSeparator.err.find("--"), std::string::npos) << noSeparator.err;

  // Writing into the input's own folder would replace the input.
  const auto onItself =
      FxRunner::run({"apply", "--json", "--output-dir", dir.path(), input, "--", "Delay"});
  EXPECT_EQ(onItself.exitCode, 2);
  const auto report = nlohmann::json::parse(onItself.out);
  EXPECT_EQ(report["files"][0]["status"], "error");
  EXPECT_EQ(SoundFiles::read(input).samples, SoundFiles::testSignal(2, 44100, 0.1).samples);
}

}  // namespace
