// What quorvel-fx says when a command is mistyped, misused or refused, and
// the facts it reports from the effect library: limits by sample rate and
// the tail that covers an effect's latency.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Effect.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.hpp"
#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"
#include "TerminalOutput.hpp"

namespace {

using nlohmann::json;

constexpr int kUsage = 2;
constexpr int kProcessing = 4;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(MessagesTest, MistypedCommandsNameTheClosestOne) {
  const auto lst = FxRunner::run({"lst"});
  EXPECT_EQ(lst.exitCode, kUsage);
  EXPECT_TRUE(has(lst.err, "unknown command 'lst'; did you mean 'list'?")) << lst.err;

  const auto describ = FxRunner::run({"describ", "Delay"});
  EXPECT_EQ(describ.exitCode, kUsage);
  EXPECT_TRUE(has(describ.err, "did you mean 'describe'?")) << describ.err;

  const auto far = FxRunner::run({"frobnicate"});
  EXPECT_EQ(far.exitCode, kUsage);
  EXPECT_TRUE(has(far.err, "unknown command 'frobnicate'")) << far.err;
  EXPECT_FALSE(has(far.err, "did you mean")) << far.err;

  const std::vector<std::string> names{"apply", "list", "describe", "demo", "help"};
  EXPECT_EQ(quorvelfx::CommandNames::closest("aply", names), "apply");
  EXPECT_EQ(quorvelfx::CommandNames::closest("DEMO", names), "demo");
  EXPECT_EQ(quorvelfx::CommandNames::closest("xyz", names), "");
}

TEST(MessagesTest, HelpCommandAndShortVersionFlag) {
  const auto help = FxRunner::run({"help"});
  EXPECT_EQ(help.exitCode, 0) << help.err;
  EXPECT_EQ(help.out, FxRunner::run({"--help"}).out);

  const auto applyHelp = FxRunner::run({"help", "apply"});
  EXPECT_EQ(applyHelp.exitCode, 0) << applyHelp.err;
  EXPECT_EQ(applyHelp.out, FxRunner::run({"apply", "--help"}).out);
  EXPECT_TRUE(has(applyHelp.out, "Usage: quorvel-fx apply")) << applyHelp.out;

  const auto unknown = FxRunner::run({"help", "lst"});
  EXPECT_EQ(unknown.exitCode, kUsage);
  EXPECT_TRUE(has(unknown.err, "did you mean 'list'?")) << unknown.err;

  const auto version = FxRunner::run({"-V"});
  EXPECT_EQ(version.exitCode, 0) << version.err;
  EXPECT_EQ(version.out, FxRunner::run({"--version"}).out);
  EXPECT_EQ(version.out.rfind("quorvel-fx ", 0), 0u) << version.out;
}

TEST(MessagesTest, UsageErrorsPointToTheirCommandsHelp) {
  struct Case {
    std::vector<std::string> args;
    std::string hint;
  };
  const Case cases[] = {
      {{"apply"}, "see 'quorvel-fx apply --help'"},
      {{"apply", "--block", "x", "in.wav", "out.wav", "Delay"}, "see 'quorvel-fx apply --help'"},
      {{"describe"}, "see 'quorvel-fx describe --help'"},
      {{"list", "--bogus"}, "see 'quorvel-fx list --help'"},
      {{}, "'quorvel-fx --help'"},
  };
  for (const Case& c : cases) {
    const auto outcome = FxRunner::run(c.args);
    EXPECT_EQ(outcome.exitCode, kUsage) << outcome.err;
    EXPECT_TRUE(has(outcome.err, c.hint)) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
  }
}

// Every option a command's --help lists is documented in the man page,
// where roff spells each '-' as "\-".
TEST(MessagesTest, ManPageDocumentsEveryOptionOfEveryCommand) {
  std::ifstream file(QUORVEL_FX_MANPAGE);
  ASSERT_TRUE(file) << QUORVEL_FX_MANPAGE;
  std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  std::set<std::string> options;
  for (const std::string command : {"", "apply", "list", "describe", "demo", "help"}) {
    const auto help =
        command.empty() ? FxRunner::run({"--help"}) : FxRunner::run({command, "--help"});
    ASSERT_EQ(help.exitCode, 0) << command;
    const std::regex option(R"(^  (-[A-Za-z]|--[a-z][a-z-]*)(?:,(--[a-z][a-z-]*))?)");
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (!std::regex_search(line, match, option)) continue;
      for (std::size_t i = 1; i < match.size(); ++i) {
        if (match[i].matched && match[i] != "-h" && match[i] != "--help") options.insert(match[i]);
      }
    }
  }
  EXPECT_GT(options.size(), 20u) << "the options were not found in --help";
  for (const std::string& name : options) {
    EXPECT_TRUE(std::regex_search(page, std::regex("(^|[^a-z-])" + name + "([^a-z-]|$)")))
        << name << " is in --help but not in the man page";
  }
}

TEST(MessagesTest, InterruptSaysSoOnOneLine) {
  ScratchDir dir;
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, 48000, 0.2));
  const std::size_t before = dir.entries();
  const auto outcome =
      FxRunner::interrupt({"apply", "--tail", "3600", input, dir.file("out.wav"), "Chorus"},
                          [&] { return dir.entries() > before; });
  ASSERT_TRUE(outcome.signalled) << outcome.err;
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  EXPECT_EQ(outcome.err, "quorvel-fx: interrupted\n");
}

TEST(MessagesTest, MonoIntoAStereoEffectSaysHowToMakeStereo) {
  ScratchDir dir;
  const std::string mono = dir.file("mono.wav");
  SoundFiles::write(mono, SoundFiles::testSignal(1, 48000, 0.1));
  const auto outcome = FxRunner::run({"apply", mono, dir.file("out.wav"), "PingPongDelay"});
  EXPECT_EQ(outcome.exitCode, kProcessing);
  EXPECT_TRUE(has(outcome.err,
                  "PingPongDelay: takes 2 channels (stereo); the input has 1 (mono): "
                  "make a stereo copy first"))
      << outcome.err;
  EXPECT_FALSE(has(outcome.err, "blocks of")) << outcome.err;
}

// Only what would run is checked against the delay line: 200 ms does not fit
// at 248704 Hz, but a bypassed delay or one of 0 ms never reads that far.
TEST(MessagesTest, DelayLineCheckSkipsWhatDoesNotRun) {
  ScratchDir dir;
  const std::string fast = dir.file("fast.wav");
  const Sound dry = SoundFiles::testSignal(2, 248704, 0.05);
  SoundFiles::write(fast, dry);
  const std::string output = dir.file("out.wav");

  const auto active = FxRunner::run({"apply", "-q", fast, output, "Delay"});
  EXPECT_EQ(active.exitCode, kUsage);
  EXPECT_TRUE(has(active.err, "does not fit the delay line at 248704 Hz")) << active.err;

  for (const std::vector<std::string>& chain :
       {std::vector<std::string>{"Delay", "enabled=false"},
        {"PingPongDelay", "enabled=off", "delayMs=1000"},
        {"Delay", "delayMs=0"},
        {"Vibrato", "enabled=false", "Delay", "enabled=0"}}) {
    std::vector<std::string> args{"apply", "-q", fast, output};
    args.insert(args.end(), chain.begin(), chain.end());
    const auto outcome = FxRunner::run(args);
    EXPECT_EQ(outcome.exitCode, 0) << chain[0] << " " << chain[1] << ": " << outcome.err;
  }
  const Sound bypassed = SoundFiles::read(output);
  EXPECT_EQ(bypassed.sampleRate, 248704u);
  EXPECT_EQ(bypassed.samples, dry.samples) << "a bypassed chain copies its input";
}

TEST(MessagesTest, DescribeShowsTheLimitsAtCommonRates) {
  const auto outcome = FxRunner::run({"describe", "Delay", "--json"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const json detail = json::parse(outcome.out);
  const std::unique_ptr<quorvel::audio::Effect> delay = quorvel::audio::makeEffect("Delay", 2);
  for (const json& parameter : detail.at("parameters")) {
    const std::string name = parameter.at("name").get<std::string>();
    if (name != "delayMs") {
      EXPECT_FALSE(parameter.contains("maxAtRate")) << name << " is not bounded by the rate";
      continue;
    }
    const json& maxima = parameter.at("maxAtRate");
    EXPECT_EQ(maxima.size(), 5u);
    for (unsigned int rate : {44100u, 48000u, 88200u, 96000u, 192000u}) {
      EXPECT_EQ(maxima.at(std::to_string(rate)).get<double>(),
                std::floor(*delay->maximumAt("delayMs", rate)))
          << rate;
    }
    EXPECT_EQ(maxima.at("48000"), 1000);
    EXPECT_EQ(maxima.at("96000"), 500);
    EXPECT_EQ(maxima.at("192000"), 250);
  }

  const auto text = FxRunner::run({"describe", "PingPongDelay"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_TRUE(has(text.out, "96000 Hz   500 ms")) << text.out;
  EXPECT_TRUE(has(text.out, "192000 Hz  250 ms")) << text.out;
}

// The vibrato has no dry signal: it delays everything by its latency, so a
// click at the very end of the input only comes out in the tail.
TEST(MessagesTest, DefaultTailCoversTheLatency) {
  constexpr unsigned int kRate = 48000;
  ScratchDir dir;
  Sound click{kRate, 1, std::vector<float>(kRate / 10, 0.0f), 0};
  click.samples.back() = 1.0f;
  const std::string input = dir.file("click.wav");
  SoundFiles::write(input, click);
  const std::string output = dir.file("out.wav");
  const auto outcome = FxRunner::run({"apply", "-q", input, output, "Vibrato"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;

  const std::unique_ptr<quorvel::audio::Effect> vibrato = quorvel::audio::makeEffect("Vibrato", 1);
  const double latency = vibrato->latencySamples(kRate);
  EXPECT_NEAR(latency, 1.0 + 0.5 * 0.01 * kRate, 1e-9);
  const Sound wet = SoundFiles::read(output);
  ASSERT_GE(static_cast<double>(wet.frames() - click.frames()), latency);
  float afterInput = 0.0f;
  for (std::size_t i = click.frames(); i < wet.frames(); ++i) {
    afterInput = std::max(afterInput, std::fabs(wet.samples[i]));
  }
  EXPECT_GT(afterInput, 0.1f) << "the click was cut off";
}

TEST(MessagesTest, ProgressLineFitsTheWidth) {
  using quorvelfx::ProgressBar;
  std::size_t previousLength = 0;
  for (int columns : {40, 60, 120}) {
    SCOPED_TRACE(columns);
    const std::string line = ProgressBar::line(0.5, 4.0, columns);
    EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
    EXPECT_GT(line.size() + 5, static_cast<std::size_t>(columns)) << "uses the width: " << line;
    EXPECT_GT(line.size(), previousLength);
    previousLength = line.size();
    EXPECT_TRUE(has(line, " 50%")) << line;
    EXPECT_TRUE(has(line, "remaining 0:04")) << line;
    // Half the bar is filled.
    const std::size_t filled = line.find_first_not_of('#', 1) - 1;
    const std::size_t bar = line.find(']') - 1;
    EXPECT_EQ(filled, bar / 2) << line;
  }
  EXPECT_FALSE(has(ProgressBar::line(0.5, 0.5, 80), "remaining")) << "too early to tell";
  EXPECT_FALSE(has(ProgressBar::line(0.01, 30.0, 80), "remaining")) << "too little done";
  EXPECT_TRUE(has(ProgressBar::line(1.0, 2.0, 80), "100%"));
  EXPECT_LT(ProgressBar::line(0.5, 4.0, 12).size(), 12u) << "a tiny terminal gets the percent";
}

}  // namespace
