// `quorvel-fx apply` against the nodes driven directly, and its options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <quorvel/audio/Effect.hpp>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ReferenceChain.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

using quorvel::QVAny;

constexpr unsigned int kRate = 44100;

struct EffectCase {
  std::vector<std::string> words;  // as typed after INPUT OUTPUT
  ReferenceEffect reference;
};

// Every effect with settings away from its defaults, so a setting that does
// not reach the node shows up as a difference.
std::vector<EffectCase> everyEffect() {
  return {
      {{"Delay", "delayMs=120", "wetMix=0.5", "feedbackLevel=0.45", "dryMix=0.6"},
       {"Delay",
        {{"delayMs", QVAny(120u)},
         {"wetMix", QVAny(0.5f)},
         {"feedbackLevel", QVAny(0.45f)},
         {"dryMix", QVAny(0.6f)}}}},
      {{"pingpongdelay", "delayMs=90", "dryMix=0.6", "wetMix=0.4", "feedbackLevel=0.3"},
       {"PingPongDelay",
        {{"delayMs", QVAny(90u)},
         {"dryMix", QVAny(0.6f)},
         {"wetMix", QVAny(0.4f)},
         {"feedbackLevel", QVAny(0.3f)}}}},
      {{"AudioEffects.Chorus", "sweepWidth=0.01", "frequency=0.7"},
       {"Chorus", {{"sweepWidth", QVAny(0.01f)}, {"frequency", QVAny(0.7f)}}}},
      {{"FLANGER", "sweepWidth=0.003", "frequency=1.1"},
       {"Flanger", {{"sweepWidth", QVAny(0.003f)}, {"frequency", QVAny(1.1f)}}}},
      {{"Vibrato", "sweepWidth=0.004", "frequency=5.5"},
       {"Vibrato", {{"sweepWidth", QVAny(0.004f)}, {"frequency", QVAny(5.5f)}}}},
  };
}

std::vector<std::string> applyArgs(const std::vector<std::string>& options,
                                   const std::string& input, const std::string& output,
                                   const std::vector<std::string>& chain) {
  std::vector<std::string> args{"apply"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(input);
  args.push_back(output);
  args.insert(args.end(), chain.begin(), chain.end());
  return args;
}

// The first differing sample, for a readable failure instead of a vector dump.
void expectIdentical(const std::vector<float>& expected, const std::vector<float>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], actual[i]) << "first difference at sample " << i;
  }
}

class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir.file("in.wav");
    SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 1.0));
  }
  ScratchDir dir;
  std::string input;
};

TEST_F(ApplyTest, EachEffectMatchesTheLibraryBitForBit) {
  const Sound dry = SoundFiles::read(input);
  for (const EffectCase& effect : everyEffect()) {
    SCOPED_TRACE(effect.reference.subtype);
    const std::string output = dir.file(effect.reference.subtype + ".wav");
    const auto outcome = FxRunner::run(
        applyArgs({"--tail", "0.5", "--encoding", "float"}, input, output, effect.words));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const Sound wet = SoundFiles::read(output);
    EXPECT_EQ(wet.sampleRate, kRate);
    EXPECT_EQ(wet.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    expectIdentical(ReferenceChain::process(dry, {effect.reference}, kRate / 2), wet.samples);
  }
}

TEST_F(ApplyTest, TwoEffectChainRunsInTheOrderGiven) {
  const Sound dry = SoundFiles::read(input);
  const auto cases = everyEffect();
  const std::string output = dir.file("chain.wav");
  std::vector<std::string> words = cases[0].words;  // Delay, then Flanger
  words.insert(words.end(), cases[3].words.begin(), cases[3].words.end());
  const auto outcome = FxRunner::run(applyArgs({"--tail", "0.2"}, input, output, words));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::vector<float> inOrder =
      ReferenceChain::process(dry, {cases[0].reference, cases[3].reference}, kRate / 5);
  expectIdentical(inOrder, SoundFiles::read(output).samples);
  EXPECT_NE(inOrder,
            ReferenceChain::process(dry, {cases[3].reference, cases[0].reference}, kRate / 5));
}

TEST_F(ApplyTest, OutputDoesNotDependOnTheBlockSize) {
  std::vector<std::string> everything;
  for (const EffectCase& effect : everyEffect()) {
    everything.insert(everything.end(), effect.words.begin(), effect.words.end());
  }
  std::vector<float> first;
  for (const std::string block : {"1", "37", "256", "4096", "65536"}) {
    SCOPED_TRACE("--block " + block);
    const std::string output = dir.file("block" + block + ".wav");
    const auto outcome =
        FxRunner::run(applyArgs({"--block", block, "--tail", "0.3"}, input, output, everything));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<float> samples = SoundFiles::read(output).samples;
    if (first.empty()) {
      first = samples;
    } else {
      expectIdentical(first, samples);
    }
  }
}

TEST_F(ApplyTest, TailLengths) {
  const std::size_t inputFrames = SoundFiles::read(input).frames();
  struct TailCase {
    std::vector<std::string> options;
    std::vector<std::string> chain;
    double seconds;
  };
  const TailCase cases[] = {
      {{"--tail", "0"}, {"Delay"}, 0.0},
      {{"--tail", "0.25"}, {"Delay"}, 0.25},
      // 100 ms, wet 0.3, feedback 0.5: echo k has gain 0.3 x 0.5^(k-1), so the
      // ninth (0.00117) is the last above -60 dB and ends the tail at 0.9 s.
      {{}, {"Delay", "delayMs=100", "feedbackLevel=0.5"}, 0.9},
      // Tails add up along the chain: a ping-pong echo without feedback rings
      // for one delay, 50 ms, after the delay's 0.9 s.
      {{},
       {"Delay", "delayMs=100", "feedbackLevel=0.5", "PingPongDelay", "delayMs=50",
        "feedbackLevel=0"},
       0.95},
      // A disabled delay rings for nothing.
      {{}, {"Delay", "enabled=false"}, 0.0},
      // Near-unity feedback is capped at ten seconds.
      {{}, {"PingPongDelay", "delayMs=1000", "feedbackLevel=0.99"}, 10.0},
  };
  for (const TailCase& tail : cases) {
    const std::string output = dir.file("tail.wav");
    const auto outcome = FxRunner::run(applyArgs(tail.options, input, output, tail.chain));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(SoundFiles::read(output).frames(),
              inputFrames + static_cast<std::size_t>(std::llround(tail.seconds * kRate)))
        << tail.chain[0] << " " << (tail.options.empty() ? "default" : tail.options[1]);
  }
}

// What the effect library says the effect of `reference` holds back and then
// rings for at kRate, down to -60 dB: its latency plus its tail.
double libraryTail(const ReferenceEffect& reference) {
  const std::unique_ptr<quorvel::audio::Effect> effect =
      quorvel::audio::makeEffect(reference.subtype, 2);
  for (const auto& [key, value] : reference.settings) {
    const double number = value.type() == QVAny::Type::Bool ? QVAny::convert<bool>(value)
                                                            : QVAny::convert<float>(value);
    EXPECT_TRUE(effect->set(key, number)) << reference.subtype << "." << key;
  }
  return effect->latencySamples(kRate) + effect->tailSamples(kRate, 0.001);
}

TEST_F(ApplyTest, DefaultTailIsWhatTheLibrarySaysEachEffectRingsFor) {
  const std::size_t inputFrames = SoundFiles::read(input).frames();
  std::vector<std::string> everything;
  double total = 0.0;
  for (const EffectCase& effect : everyEffect()) {
    SCOPED_TRACE(effect.reference.subtype);
    const double tail = libraryTail(effect.reference);
    ASSERT_GT(tail, 0.0);
    const auto outcome = FxRunner::run(applyArgs({}, input, dir.file("one.wav"), effect.words));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(SoundFiles::read(dir.file("one.wav")).frames(),
              inputFrames + static_cast<std::size_t>(std::ceil(tail)));
    everything.insert(everything.end(), effect.words.begin(), effect.words.end());
    total += tail;
  }
  const auto chain = FxRunner::run(applyArgs({}, input, dir.file("all.wav"), everything));
  ASSERT_EQ(chain.exitCode, 0) << chain.err;
  EXPECT_EQ(SoundFiles::read(dir.file("all.wav")).frames(),
            inputFrames + static_cast<std::size_t>(std::ceil(std::min(total, 10.0 * kRate))));
}

TEST_F(ApplyTest, ContainerFollowsTheExtension) {
  struct FormatCase {
    std::string file;
    std::vector<std::string> options;
    int format;
  };
  const FormatCase cases[] = {
      {"out.wav", {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"out.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
      {"out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"out16.flac", {"--encoding", "pcm16"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"out24.wav", {"--encoding", "pcm24"}, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"out.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
  };
  for (const FormatCase& format : cases) {
    const auto outcome =
        FxRunner::run(applyArgs(format.options, input, dir.file(format.file), {"Chorus"}));
    ASSERT_EQ(outcome.exitCode, 0) << format.file << ": " << outcome.err;
    EXPECT_EQ(SoundFiles::read(dir.file(format.file)).format, format.format) << format.file;
  }
}

TEST_F(ApplyTest, SummaryLineAndClippingWarning) {
  const std::string output = dir.file("loud.wav");
  const auto loud =
      FxRunner::run(applyArgs({"--encoding", "pcm16"}, input, output,
                              {"Delay", "dryMix=1", "wetMix=1", "feedbackLevel=0.9"}));
  ASSERT_EQ(loud.exitCode, 0) << loud.err;
  EXPECT_NE(loud.out.find("x real time"), std::string::npos) << loud.out;
  EXPECT_NE(loud.out.find("peak"), std::string::npos) << loud.out;
  EXPECT_NE(loud.out.find("clipped samples"), std::string::npos) << loud.out;
  EXPECT_EQ(loud.out.find(" 0 clipped"), std::string::npos) << loud.out;
  EXPECT_NE(loud.err.find("quorvel-fx: warning:"), std::string::npos) << loud.err;

  const auto quiet = FxRunner::run(applyArgs({"-q"}, input, dir.file("q.wav"), {"Delay"}));
  ASSERT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "") << "no progress bar when stderr is not a terminal";
}

TEST_F(ApplyTest, MonoInputAndInPlaceOutput) {
  const std::string mono = dir.file("mono.wav");
  const Sound dry = SoundFiles::testSignal(1, 22050, 0.5);
  SoundFiles::write(mono, dry);
  const auto outcome = FxRunner::run(applyArgs({"--tail", "0"}, mono, mono, {"Vibrato"}));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Sound wet = SoundFiles::read(mono);
  EXPECT_EQ(wet.channels, 1u);
  expectIdentical(ReferenceChain::process(dry, {{"Vibrato", {}}}, 0), wet.samples);
  EXPECT_EQ(dir.entries(), 2u) << "no temporary file left beside the output";
}

}  // namespace
