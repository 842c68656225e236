#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DelayTestSupport.hpp"
#include "quorvel/SchemaVocabulary.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"

using namespace delaytest;
using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::AudioBusFormat;
using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::audioeffects::PingPongDelayNode;

namespace {

const std::vector<std::string> kPropertyNames{"enabled", "delayMs", "dryMix", "wetMix",
                                              "feedbackLevel"};

// Pairs of one property descriptor, in their stated order.
using Pairs = std::vector<std::pair<std::string, QVAny>>;

void expectDescriptor(const QVAnyMap& actual, const Pairs& expected, const std::string& name) {
  std::vector<std::string> keys;
  for (const auto& pair : expected) keys.push_back(pair.first);
  EXPECT_EQ(actual.keys(), keys) << name;
  for (const auto& [key, value] : expected) {
    ASSERT_TRUE(actual.hasKey(key)) << name << "." << key;
    EXPECT_EQ(actual.at(key).type(), value.type()) << name << "." << key;
    EXPECT_TRUE(actual.at(key) == value) << name << "." << key;
  }
}

Pairs floatPairs(const char* description, float defaultValue, float maxValue) {
  return {{"description", QVAny(description)},
          {"type", QVAny("float")},
          {"default", QVAny(defaultValue)},
          {"min", QVAny(0.0f)},
          {"max", QVAny(maxValue)},
          {"readOnly", QVAny(false)}};
}

// Only the delayed signal, without feedback.
void makePureDelay(PingPongDelayNode& node, unsigned int delayMs) {
  node.setDryMix(0.0f);
  node.setWetMix(1.0f);
  node.setFeedbackLevel(0.0f);
  node.setDelayMs(delayMs);
}

}  // namespace

TEST(PingPongDelayNodeTest, DescriptorAndFormats) {
  const quorvel::NodeTypeInfo info = PingPongDelayNode::getNodeTypeInfo();
  EXPECT_EQ(info.getFQTypeName(), "AudioEffects.PingPongDelay");
  EXPECT_EQ(info.displayName, "Ping Pong Delay");
  EXPECT_EQ(info.description, "Applies a ping pong delay effect to the input audio signal.");
  EXPECT_EQ(info.categories, (std::vector<std::string>{"Audio Processing", "Effects"}));
  EXPECT_TRUE(info.configuration.empty() && info.actions.empty() && info.events.empty());
  EXPECT_EQ(info.properties.keys(), kPropertyNames);

  const std::vector<Pairs> expected{
      {{"description", QVAny("Enable or disable the ping-pong delay effect.")},
       {"type", QVAny("boolean")},
       {"readOnly", QVAny(false)},
       {"default", QVAny(true)}},
      {{"description", QVAny("The delay time in milliseconds.")},
       {"type", QVAny("int")},
       {"default", QVAny(200)},
       {"min", QVAny(1)},
       {"max", QVAny(1000)},
       {"readOnly", QVAny(false)}},
      floatPairs("Level of the dry signal. 0 means no dry signal, 1 means maximum dry signal.",
                 0.7f, 1.0f),
      floatPairs("Level of the wet signal. 0 means no wet signal, 1 means maximum wet signal.",
                 0.3f, 1.0f),
      floatPairs("The feedback level of the delay. 0 means no feedback, 1 means maximum feedback.",
                 0.2f, 0.99f)};
  PingPongDelayNode node(QVAnyMap{{"ignored", QVAny(5)}});
  EXPECT_EQ(node.getPropertyNames(), kPropertyNames);
  for (std::size_t i = 0; i < kPropertyNames.size(); ++i) {
    expectDescriptor(info.getProperty(kPropertyNames[i]), expected[i], kPropertyNames[i]);
    expectDescriptor(node.getPropertyDescriptor(kPropertyNames[i]), expected[i], kPropertyNames[i]);
  }
  try {
    info.getProperty("delay");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "[NodeTypeInfo] Property key 'delay' not found for node type "
                 "'AudioEffects.PingPongDelay'.");
  }

  AudioBusFormat mono(48000, 1, 256), stereo(48000, 2, 256), three(48000, 3, 256);
  AudioBusFormat stereoOther(48000, 2, 128);
  EXPECT_TRUE(node.setBusFormat(stereo, stereo));
  EXPECT_FALSE(node.setBusFormat(mono, mono));
  EXPECT_FALSE(node.setBusFormat(three, three));
  EXPECT_FALSE(node.setBusFormat(stereo, stereoOther));
}

TEST(PingPongDelayNodeTest, HostPropertiesReadAndWriteTheParameters) {
  PingPongDelayNode node(QVAnyMap{});
  const std::vector<QVAny> defaults{QVAny(true), QVAny(200u), QVAny(0.7f), QVAny(0.3f),
                                    QVAny(0.2f)};
  for (std::size_t i = 0; i < kPropertyNames.size(); ++i) {
    const quorvel::Result<QVAny> value = node.getValue(kPropertyNames[i]);
    ASSERT_TRUE(value.isSuccess()) << kPropertyNames[i];
    EXPECT_EQ(value.value().type(), defaults[i].type()) << kPropertyNames[i];
    EXPECT_TRUE(value.value() == defaults[i]) << kPropertyNames[i];
  }

  EXPECT_TRUE(node.setValue("enabled", QVAny(false)).isSuccess());
  EXPECT_TRUE(node.setValue("delayMs", QVAny(350)).isSuccess());  // an int converts
  EXPECT_TRUE(node.setValue("dryMix", QVAny(0.5f)).isSuccess());
  EXPECT_TRUE(node.setValue("wetMix", QVAny(0.25f)).isSuccess());
  // The schema's maximum of 0.99 is advice to the host, not enforced.
  EXPECT_TRUE(node.setValue("feedbackLevel", QVAny(1.5f)).isSuccess());
  EXPECT_FALSE(node.getIsEnabled());
  EXPECT_EQ(node.getDelayMs(), 350u);
  EXPECT_EQ(node.getDryMix(), 0.5f);
  EXPECT_EQ(node.getWetMix(), 0.25f);
  EXPECT_EQ(node.getFeedbackLevel(), 1.5f);
  EXPECT_TRUE(node.getValue("delayMs").value() == QVAny(350u));
  EXPECT_TRUE(node.getValue("feedbackLevel").value() == QVAny(1.5f));

  // Values that do not convert are refused with an error and change nothing.
  const std::pair<std::string, QVAny> refused[] = {{"enabled", QVAny(0.5f)},
                                                   {"delayMs", QVAny("fast")},
                                                   {"delayMs", QVAny(-1)},
                                                   {"delayMs", QVAny(2.5f)},
                                                   {"dryMix", QVAny(true)},
                                                   {"wetMix", QVAny("loud")},
                                                   {"feedbackLevel", QVAny(QVAnyMap{})}};
  for (const auto& [name, value] : refused) {
    const quorvel::Result<void> result = node.setValue(name, value);
    EXPECT_FALSE(result.isSuccess()) << name;
    EXPECT_FALSE(result.error().empty()) << name;
  }
  EXPECT_FALSE(node.getIsEnabled());
  EXPECT_EQ(node.getDelayMs(), 350u);
  EXPECT_EQ(node.getDryMix(), 0.5f);
  EXPECT_EQ(node.getWetMix(), 0.25f);
  EXPECT_EQ(node.getFeedbackLevel(), 1.5f);
}

TEST(PingPongDelayNodeTest, LeftImpulseIsHeardOnBothSidesAtOnce) {
  PingPongDelayNode node(QVAnyMap{});
  const Signal out = render(node, impulse(2, 40000, 0), 48000);
  // L[0] = 1, R[0] = 0.2 L[0]; then each line takes 0.2 of the other's echo.
  const float l1 = 0.2f * 0.2f, r1 = 0.2f * l1, l2 = 0.2f * r1, r2 = 0.2f * l2;
  EXPECT_EQ(bits(out[0][0]), bits(0.7f));
  EXPECT_EQ(bits(out[0][9600]), bits(0.3f));
  EXPECT_EQ(bits(out[0][19200]), bits(0.3f * l1));
  EXPECT_EQ(bits(out[0][28800]), bits(0.3f * l2));
  EXPECT_EQ(bits(out[1][9600]), bits(0.3f * 0.2f));
  EXPECT_EQ(bits(out[1][19200]), bits(0.3f * r1));
  EXPECT_EQ(bits(out[1][28800]), bits(0.3f * r2));
  EXPECT_FLOAT_EQ(out[0][28800], 0.00048f);
  EXPECT_FLOAT_EQ(out[1][28800], 0.000096f);
  EXPECT_TRUE(unexpectedNonZero(out[0], {0, 9600, 19200, 28800, 38400}).empty());
  EXPECT_TRUE(unexpectedNonZero(out[1], {9600, 19200, 28800, 38400}).empty());
}

TEST(PingPongDelayNodeTest, RightImpulseReachesTheLeftOneDelayLater) {
  PingPongDelayNode node(QVAnyMap{});
  const Signal out = render(node, impulse(2, 40000, 1), 48000);
  const float l1 = 0.2f * 1.0f, r1 = 0.2f * l1, l2 = 0.2f * r1, r2 = 0.2f * l2;
  EXPECT_EQ(bits(out[1][0]), bits(0.7f));
  EXPECT_EQ(bits(out[1][9600]), bits(0.3f));
  EXPECT_EQ(bits(out[1][19200]), bits(0.3f * r1));
  EXPECT_EQ(bits(out[1][28800]), bits(0.3f * r2));
  EXPECT_EQ(bits(out[0][19200]), bits(0.3f * l1));
  EXPECT_EQ(bits(out[0][28800]), bits(0.3f * l2));
  EXPECT_FLOAT_EQ(out[1][28800], 0.00048f);
  EXPECT_FLOAT_EQ(out[0][19200], 0.06f);
  EXPECT_TRUE(unexpectedNonZero(out[1], {0, 9600, 19200, 28800, 38400}).empty());
  EXPECT_TRUE(unexpectedNonZero(out[0], {19200, 28800, 38400}).empty());
}

TEST(PingPongDelayNodeTest, ConstantInputSettlesAtSteadyState) {
  PingPongDelayNode both(QVAnyMap{}), leftOnly(QVAnyMap{});
  const Signal outBoth = render(both, constant(2, 120000, 1.0f), 48000, 4096);
  Signal left = constant(2, 120000, 1.0f);
  left[1].assign(120000, 0.0f);
  const Signal outLeft = render(leftOnly, left, 48000, 4096);
  // Both lines converge to 1.25; with the left alone to 1 / 0.96 and 0.2 / 0.96.
  EXPECT_NEAR(outBoth[0].back(), 1.075f, 1e-6f);
  EXPECT_NEAR(outBoth[1].back(), 1.075f, 1e-6f);
  EXPECT_NEAR(outLeft[0].back(), 1.0125f, 1e-6f);
  EXPECT_NEAR(outLeft[1].back(), 0.0625f, 1e-6f);
}

TEST(PingPongDelayNodeTest, MatchesRecurrenceBitForBitWhateverTheBlockSize) {
  const float dry = 0.55f, wet = 0.45f, fb = 0.6f;
  const unsigned int frames = 30000, d = 9600;
  const Signal in = noise(2, frames, 21);
  // L[n] = xL + fb R[n - D]; R[n] = xR + fb L[n]; out = dry x + wet line[n - D].
  Signal expected = silence(2, frames), line = silence(2, frames);
  for (unsigned int n = 0; n < frames; ++n) {
    const float l = n >= d ? line[0][n - d] : 0.0f, r = n >= d ? line[1][n - d] : 0.0f;
    line[0][n] = fb * r + in[0][n];
    line[1][n] = fb * line[0][n] + in[1][n];
    expected[0][n] = wet * l + dry * in[0][n];
    expected[1][n] = wet * r + dry * in[1][n];
  }
  for (unsigned int blockSize : {1u, 7u, 64u, 256u, 4096u}) {
    PingPongDelayNode node(QVAnyMap{});
    node.setDryMix(dry);
    node.setWetMix(wet);
    node.setFeedbackLevel(fb);
    EXPECT_TRUE(sameBits(render(node, in, 48000, blockSize), expected)) << blockSize;
  }
}

TEST(PingPongDelayNodeTest, BypassCopiesInputAndFreezesState) {
  const Signal in = noise(2, 3000, 3);
  PingPongDelayNode disabled(QVAnyMap{}), zeroDelay(QVAnyMap{});
  disabled.setIsEnabled(false);
  zeroDelay.setDelayMs(0);
  EXPECT_TRUE(sameBits(render(disabled, in, 48000), in));
  EXPECT_TRUE(sameBits(render(zeroDelay, in, 48000), in));

  PingPongDelayNode node(QVAnyMap{});
  makePureDelay(node, 200);
  render(node, impulse(2, 100, 0), 48000);
  node.setIsEnabled(false);
  render(node, noise(2, 5000, 5), 48000);
  node.setIsEnabled(true);
  const Signal out = render(node, silence(2, 20000), 48000);
  EXPECT_EQ(out[0][9500], 1.0f);
  EXPECT_TRUE(unexpectedNonZero(out[0], {9500}).empty());
  EXPECT_TRUE(unexpectedNonZero(out[1], {}).empty());
}

TEST(PingPongDelayNodeTest, RateOrDelayChangeResizesRingsWithoutClearing) {
  // The impulse sits at index 0; after 1000 frames the indices are at 1000,
  // and the impulse comes out when they wrap at the new ring length.
  struct Case {
    unsigned int sampleRate, delayMs, frameOfEcho;
  };
  for (const Case& c : {Case{44100, 200, 8820 - 1000}, Case{48000, 100, 4800 - 1000}}) {
    PingPongDelayNode node(QVAnyMap{});
    render(node, impulse(2, 1000, 0), 48000);
    node.setDelayMs(c.delayMs);
    const Signal out = render(node, silence(2, 10000), c.sampleRate);
    EXPECT_EQ(bits(out[0][c.frameOfEcho]), bits(0.3f)) << c.sampleRate;
    EXPECT_EQ(bits(out[1][c.frameOfEcho]), bits(0.3f * 0.2f)) << c.sampleRate;
  }
}

TEST(PingPongDelayNodeTest, DelayInSamplesIsHeldToTheLine) {
  struct Case {
    unsigned int sampleRate, delayMs, samples;
  };
  // Above the line the delay is held at 48000; below one sample it is one.
  for (const Case& c : {Case{48000, 1000, 48000}, Case{48000, 2000, 48000}, Case{96000, 700, 48000},
                        Case{999, 1, 1}}) {
    PingPongDelayNode node(QVAnyMap{});
    makePureDelay(node, c.delayMs);
    const Signal out = render(node, impulse(2, 50000, 0), c.sampleRate, 4096);
    EXPECT_EQ(out[0][c.samples], 1.0f) << c.sampleRate << " Hz, " << c.delayMs << " ms";
    EXPECT_TRUE(unexpectedNonZero(out[0], {c.samples}).empty()) << c.delayMs;
  }
}

TEST(PingPongDelayNodeTest, ChannelsBeyondTheTwoLinesKeepTheCopiedInput) {
  const Signal in = noise(3, 20000, 11);
  PingPongDelayNode stereo(QVAnyMap{}), wide(QVAnyMap{});
  const Signal reference = render(stereo, Signal(in.begin(), in.begin() + 2), 48000);
  const Signal out = render(wide, in, 48000);
  EXPECT_TRUE(sameBits(Signal(out.begin(), out.begin() + 2), reference));
  EXPECT_TRUE(sameBits({out[2]}, {in[2]}));
}

TEST(PingPongDelayNodeTest, SmallerOutputIsNeverWrittenOutside) {
  const float sentinel = 1234.5f;
  AudioBuffer<float> in(2, 64, 48000);
  for (unsigned int f = 0; f < 64; ++f) in.setSample(0, f, 1.0f), in.setSample(1, f, 1.0f);
  std::vector<float> storage(64, sentinel);
  float* channels[] = {storage.data()};
  AudioBuffer<float> out(channels, 1, 32, 48000);
  AudioBus inBus(in), outBus(out);
  PingPongDelayNode node(QVAnyMap{});
  EXPECT_TRUE(node.process(inBus, outBus));
  for (unsigned int f = 0; f < 32; ++f) EXPECT_EQ(storage[f], 0.7f) << f;
  for (unsigned int f = 32; f < 64; ++f) EXPECT_EQ(storage[f], sentinel) << f;
}

TEST(PingPongDelayNodeTest, ParametersMayChangeWhileProcessing) {
  PingPongDelayNode node(QVAnyMap{});
  std::atomic<bool> done{false};
  std::atomic<unsigned int> changes{0};
  std::thread control([&] {
    const unsigned int delays[] = {0, 1, 200, 1000, 5000, 3};
    for (unsigned int i = 0; !done.load(); ++i) {
      node.setIsEnabled(i % 7 != 0);
      node.setDelayMs(delays[i % 6]);
      node.setDryMix(static_cast<float>(i % 10) / 10.0f);
      node.setWetMix(static_cast<float>(i % 5) / 5.0f);
      node.setFeedbackLevel(static_cast<float>(i % 9) / 10.0f);
      // The host's property access reaches the same parameters.
      node.setValue("delayMs", QVAny(delays[(i + 3) % 6]));
      node.setValue("feedbackLevel", QVAny(0.5f));
      node.getValue("wetMix");
      changes.fetch_add(1);
      std::this_thread::yield();
    }
  });
  AudioBuffer<float> in(2, 128, 48000), out(2, 128, 48000);
  AudioBus inBus(in), outBus(out);
  bool finite = true;
  for (unsigned int block = 0; block < 3000 || changes.load() < 300; ++block) {
    in.setSampleRate(block / 500 % 2 ? 96000 : 48000);
    for (unsigned int f = 0; f < 128; ++f) in.setSample(block % 2, f, (f % 3) - 1.0f);
    node.process(inBus, outBus);
    for (unsigned int f = 0; f < 128; ++f) {
      finite = finite && std::isfinite(out.getSample(0, f)) && std::isfinite(out.getSample(1, f));
    }
  }
  done.store(true);
  control.join();
  EXPECT_TRUE(finite);
}
