// Every failure of `quorvel-fx apply`: its exit status, its one-line message,
// and that no partial or clobbered output is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

constexpr int kUsage = 2;
constexpr int kIo = 3;
constexpr int kProcessing = 4;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stereo = dir.file("stereo.wav");
    SoundFiles::write(stereo, SoundFiles::testSignal(2, 48000, 0.5));
    output = dir.file("existing.wav");
    std::ofstream(output) << "precious";
  }

  // Runs apply, checks the status, the single error line naming `culprit`,
  // and that the existing output and the folder are as they were.
  void expectFailure(const std::vector<std::string>& args, int code, const std::string& culprit) {
    const std::size_t before = dir.entries();
    std::vector<std::string> full{"apply"};
    full.insert(full.end(), args.begin(), args.end());
    const auto outcome = FxRunner::run(full);
    EXPECT_EQ(outcome.exitCode, code) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("quorvel-fx: error: ", 0), 0u) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
    EXPECT_NE(outcome.err.find(culprit), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(contents(output), "precious") << "existing output clobbered";
    EXPECT_EQ(dir.entries(), before) << "a temporary file was left behind";
  }

  ScratchDir dir;
  std::string stereo;
  std::string output;
};

TEST_F(ErrorTest, UnreadableInputs) {
  expectFailure({dir.file("missing.wav"), output, "Delay"}, kIo, "missing.wav");

  const std::string empty = dir.file("empty.wav");
  std::ofstream{empty};
  expectFailure({empty, output, "Delay"}, kIo, "empty.wav");

  const std::string text = dir.file("notes.wav");
  std::ofstream(text) << "these are not samples\n";
  expectFailure({text, output, "Delay"}, kIo, "notes.wav");

  const std::string truncated = dir.file("truncated.wav");
  const std::string whole = contents(stereo);
  // Cut inside the header: nothing to read. (Cut inside the data, the audio
  // that is there is read; see FileFidelityTest.)
  std::ofstream(truncated, std::ios::binary) << whole.substr(0, 30);
  expectFailure({truncated, output, "Delay"}, kIo, "truncated.wav");

  expectFailure({dir.path(), output, "Delay"}, kIo, dir.path());
}

TEST_F(ErrorTest, UnknownEffectsAndParameters) {
  expectFailure({stereo, output, "Reverb"}, kUsage, "Reverb");
  expectFailure({stereo, output, "Delay", "delay=100"}, kUsage, "delay");
  expectFailure({stereo, output, "Chorus", "feedbackLevel=0.2"}, kUsage, "feedbackLevel");
  expectFailure({stereo, output, "delayMs=100", "Delay"}, kUsage, "delayMs=100");
  expectFailure({stereo, output, "Delay", "delayMs=1", "delayMs=2"}, kUsage, "twice");
}

TEST_F(ErrorTest, ValuesAreParsedStrictly) {
  const std::vector<std::vector<std::string>> bad = {
      {"Delay", "delayMs=abc"},         {"Delay", "delayMs=-5"},
      {"Delay", "delayMs=12.5"},        {"Delay", "delayMs=1001"},
      {"Delay", "delayMs=99999999999"}, {"Delay", "enabled=maybe"},
      {"Delay", "dryMix=0.5x"},         {"Delay", "feedbackLevel=1.5"},
      {"Chorus", "frequency=nan"},      {"Vibrato", "sweepWidth=0x0.01"},
      {"PingPongDelay", "delayMs=0"},   {"PingPongDelay", "wetMix=-0.1"},
  };
  for (const auto& chain : bad) {
    std::vector<std::string> args{stereo, output};
    args.insert(args.end(), chain.begin(), chain.end());
    expectFailure(args, kUsage, chain[1]);
  }
}

TEST_F(ErrorTest, BadOptions) {
  expectFailure({"--block", "0", stereo, output, "Delay"}, kUsage, "--block");
  expectFailure({"--block", "abc", stereo, output, "Delay"}, kUsage, "--block");
  expectFailure({"--tail", "-1", stereo, output, "Delay"}, kUsage, "--tail");
  expectFailure({"--encoding", "mp3", stereo, output, "Delay"}, kUsage, "mp3");
  expectFailure({"--encoding", "float", stereo, dir.file("out.flac"), "Delay"}, kUsage, "FLAC");
  expectFailure({stereo, dir.file("out.mp3"), "Delay"}, kUsage, "out.mp3");
  expectFailure({stereo, output}, kUsage, "EFFECT");
  expectFailure({"--bogus", stereo, output, "Delay"}, kUsage, "--bogus");
}

TEST_F(ErrorTest, ChannelLayoutsTheEffectsRefuse) {
  const std::string mono = dir.file("mono.wav");
  SoundFiles::write(mono, SoundFiles::testSignal(1, 48000, 0.2));
  expectFailure({mono, output, "Delay", "PingPongDelay"}, kProcessing, "PingPongDelay");

  const std::string surround = dir.file("surround.wav");
  SoundFiles::write(surround, SoundFiles::testSignal(6, 48000, 0.2));
  expectFailure({surround, output, "Chorus"}, kProcessing, "the input has 6");

  // A delay line holds one second at 48 kHz: 800 ms does not fit at 96 kHz.
  const std::string fast = dir.file("fast.wav");
  SoundFiles::write(fast, SoundFiles::testSignal(2, 96000, 0.2));
  expectFailure({fast, output, "Delay", "delayMs=800"}, kUsage, "delayMs=800");
}

// Each effect's delay line holds 48000 samples whatever the rate, so what
// fits shrinks as the rate grows, and each effect's fixed delay takes its
// own share: the chorus reads 1002 samples back, the flanger 2, the vibrato 1.
TEST_F(ErrorTest, SettingsBeyondTheDelayLineAtTheFileRate) {
  const std::string fast = dir.file("fast.wav");
  SoundFiles::write(fast, SoundFiles::testSignal(2, 96000, 0.05));
  const std::string at96k = " does not fit the delay line at 96000 Hz ";
  expectFailure({fast, output, "Delay", "delayMs=501"}, kUsage,
                "fast.wav: Delay: delayMs=501" + at96k + "(at most 500 ms)");
  expectFailure({fast, output, "PingPongDelay", "delayMs=800"}, kUsage,
                "PingPongDelay: delayMs=800" + at96k + "(at most 500 ms)");
  expectFailure({fast, output, "Chorus", "sweepWidth=0.49"}, kUsage,
                "Chorus: sweepWidth=0.49" + at96k + "(at most 0.489 s)");
  expectFailure({fast, output, "Vibrato", "sweepWidth=0.5"}, kUsage,
                "Vibrato: sweepWidth=0.5" + at96k + "(at most 0.499 s)");
  // A later effect of the chain is checked as well as the first.
  expectFailure({fast, output, "Flanger", "Chorus", "sweepWidth=0.4999"}, kUsage,
                "Chorus: sweepWidth=0.4999");

  // The limits shown do fit.
  for (const std::vector<std::string>& fits : {std::vector<std::string>{"Delay", "delayMs=500"},
                                               {"PingPongDelay", "delayMs=500"},
                                               {"Chorus", "sweepWidth=0.489"},
                                               {"Flanger", "sweepWidth=0.49"},
                                               {"Vibrato", "sweepWidth=0.499"}}) {
    std::vector<std::string> args{"apply", "--tail", "0", fast, dir.file("fits.wav")};
    args.insert(args.end(), fits.begin(), fits.end());
    const auto outcome = FxRunner::run(args);
    EXPECT_EQ(outcome.exitCode, 0) << fits[0] << " " << fits[1] << ": " << outcome.err;
  }

  // At 768 kHz even the default delay is too long.
  const std::string fastest = dir.file("fastest.wav");
  SoundFiles::write(fastest, SoundFiles::testSignal(2, 768000, 0.01));
  expectFailure({fastest, output, "Delay"}, kUsage,
                "Delay: delayMs=200 does not fit the delay line at 768000 Hz (at most 62 ms)");
}

TEST_F(ErrorTest, UnwritableOutput) {
  expectFailure({stereo, dir.file("no/such/folder/out.wav"), "Delay"}, kIo, "no/such/folder");
  const std::string folder = dir.file("folder.wav");
  std::filesystem::create_directory(folder);
  expectFailure({stereo, folder, "Delay"}, kIo, "folder.wav");
}

TEST_F(ErrorTest, InterruptedRunLeavesNothingBehind) {
  // An hour of tail keeps the tool busy long enough to be interrupted mid-write.
  const std::size_t before = dir.entries();
  // Signalled once the temporary output exists, so the cleanup has work to do.
  const auto writing = [&] { return dir.entries() > before; };
  const auto outcome =
      FxRunner::interrupt({"apply", "--tail", "3600", stereo, output, "Chorus"}, writing);
  ASSERT_TRUE(outcome.signalled) << outcome.err;
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  EXPECT_EQ(contents(output), "precious");
  EXPECT_EQ(dir.entries(), before) << "the temporary output was not removed";
  // A service manager's SIGTERM has its own status, 128 + 15.
  const auto terminated =
      FxRunner::interrupt({"apply", "--tail", "3600", stereo, output, "Chorus"}, writing, SIGTERM);
  ASSERT_TRUE(terminated.signalled) << terminated.err;
  EXPECT_EQ(terminated.exitCode, 143) << terminated.err;
  EXPECT_EQ(contents(output), "precious");
  EXPECT_EQ(dir.entries(), before) << "the temporary output was not removed";
}

TEST_F(ErrorTest, OutputWithoutExtensionSaysHowToNameIt) {
  const auto outcome = FxRunner::run({"apply", "-q", stereo, dir.file("noext"), "Delay"});
  EXPECT_EQ(outcome.exitCode, kUsage);
  EXPECT_NE(outcome.err.find("cannot be told from the name"), std::string::npos) << outcome.err;
}

TEST(CommandLineTest, UsageErrorsOutsideApply) {
  EXPECT_EQ(FxRunner::run({}).exitCode, kUsage);
  EXPECT_EQ(FxRunner::run({"frobnicate"}).exitCode, kUsage);
  EXPECT_EQ(FxRunner::run({"describe"}).exitCode, kUsage);
  const auto unknown = FxRunner::run({"describe", "Reverb"});
  EXPECT_EQ(unknown.exitCode, kUsage);
  EXPECT_NE(unknown.err.find("known: Delay"), std::string::npos) << unknown.err;
}

}  // namespace
