// Parameters are set from control threads while the audio thread runs
// process() and other threads read them back, while yet another thread keeps
// creating, running and destroying nodes of every type. Under ThreadSanitizer
// any parameter that is not an atomic is a reported race; under the address
// sanitizer a node or factory shared unsafely between threads shows up as a
// use after free; in every build each thread must make progress (a lock held
// across process() would starve the control threads) and the final values
// must be ones a thread stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <quorvel/AudioEffects.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace quorvel::extensions::audioeffects;
using quorvel::AudioBuffer;
using quorvel::AudioBus;
using quorvel::QVAny;

constexpr int kSetterThreads = 3;
constexpr int kValuesPerThread = 4;
// The run lasts until every thread has done this many rounds (many thousands
// of interleavings between them), however slowly a loaded machine or a
// sanitizer schedules them, and fails if that takes longer than kPatience.
constexpr long kRounds = 2000;
constexpr long kLifetimes = 50;
constexpr auto kPatience = std::chrono::seconds(120);

// A parameter's own value set per setter thread, disjoint across threads, all
// inside the documented range, plus the default a fresh node reports.
struct FloatParameter {
  std::string property;  // host property name, empty when the node has none
  float defaultValue;
  float lo;
  float hi;
  std::function<void(float)> set;
  std::function<float()> get;

  float valueOf(int thread, int k) const {
    const int slot = thread * kValuesPerThread + k + 1;
    return lo + (hi - lo) * static_cast<float>(slot) /
                    static_cast<float>(kSetterThreads * kValuesPerThread + 1);
  }
  bool isKnown(float v) const {
    if (v == defaultValue) return true;
    for (int t = 0; t < kSetterThreads; ++t)
      for (int k = 0; k < kValuesPerThread; ++k)
        if (v == valueOf(t, k)) return true;
    return false;
  }
};

struct Subject {
  std::unique_ptr<quorvel::Node> node;
  quorvel::SingleBusAudioProcessorNode* audio = nullptr;
  std::vector<FloatParameter> floats;
  // delayMs, when the node has one.
  std::function<void(unsigned int)> setDelayMs;
  std::function<unsigned int()> getDelayMs;
  std::function<void(bool)> setEnabled;
  std::function<bool()> getEnabled;
  bool hasProperties = false;
};

unsigned int delayValueOf(int thread, int k) {
  return 10u + static_cast<unsigned int>(thread * 100 + k * 7);
}

bool isKnownDelay(unsigned int v) {
  if (v == 200u) return true;
  for (int t = 0; t < kSetterThreads; ++t)
    for (int k = 0; k < kValuesPerThread; ++k)
      if (v == delayValueOf(t, k)) return true;
  return false;
}

template <typename EffectNode>
void describeDelay(Subject& s, EffectNode& n) {
  s.floats.push_back({"dryMix", 0.7f, 0.0f, 1.0f, [&n](float v) { n.setDryMix(v); },
                      [&n] { return n.getDryMix(); }});
  s.floats.push_back({"wetMix", 0.3f, 0.0f, 1.0f, [&n](float v) { n.setWetMix(v); },
                      [&n] { return n.getWetMix(); }});
  s.floats.push_back({"feedbackLevel", 0.2f, 0.0f, 0.99f, [&n](float v) { n.setFeedbackLevel(v); },
                      [&n] { return n.getFeedbackLevel(); }});
  s.setDelayMs = [&n](unsigned int v) { n.setDelayMs(v); };
  s.getDelayMs = [&n] { return n.getDelayMs(); };
  s.setEnabled = [&n](bool v) { n.setIsEnabled(v); };
  s.getEnabled = [&n] { return n.getIsEnabled(); };
}

template <typename EffectNode>
void describeSwept(Subject& s, EffectNode& n, float width, float frequency) {
  s.floats.push_back({"", width, 0.0f, 0.025f, [&n](float v) { n.setSweepWidth(v); },
                      [&n] { return n.getSweepWidth(); }});
  s.floats.push_back({"", frequency, 0.0f, 20.0f, [&n](float v) { n.setFrequency(v); },
                      [&n] { return n.getFrequency(); }});
  s.setEnabled = [&n](bool v) { n.setIsEnabled(v); };
  s.getEnabled = [&n] { return n.getIsEnabled(); };
}

std::unique_ptr<Subject> makeSubject(AudioEffectsNodeFactory& factory, const std::string& type) {
  auto s = std::make_unique<Subject>();
  s->node.reset(factory.createNode(type, {}));
  s->audio = dynamic_cast<quorvel::SingleBusAudioProcessorNode*>(s->node.get());
  if (auto* n = dynamic_cast<DelayNode*>(s->node.get())) describeDelay(*s, *n);
  if (auto* n = dynamic_cast<PingPongDelayNode*>(s->node.get())) {
    describeDelay(*s, *n);
    s->hasProperties = true;
  }
  if (auto* n = dynamic_cast<VibratoNode*>(s->node.get())) describeSwept(*s, *n, 0.01f, 4.0f);
  if (auto* n = dynamic_cast<FlangerNode*>(s->node.get())) describeSwept(*s, *n, 0.005f, 0.4f);
  if (auto* n = dynamic_cast<ChorusNode*>(s->node.get())) describeSwept(*s, *n, 0.025f, 0.2f);
  return s;
}

// Runs one stereo block of a quiet tone through `node`.
void runBlock(quorvel::SingleBusAudioProcessorNode& node, AudioBuffer<float>& in,
              AudioBuffer<float>& out) {
  AudioBus inBus(in), outBus(out);
  node.process(inBus, outBus);
}

void fillTone(AudioBuffer<float>& buffer) {
  for (unsigned int c = 0; c < buffer.getNumberOfChannels(); ++c)
    for (unsigned int f = 0; f < buffer.getNumberOfFrames(); ++f)
      buffer.setSample(c, f, 0.25f * static_cast<float>((f * 7 + c) % 17) / 17.0f - 0.125f);
}

class Concurrency : public ::testing::TestWithParam<std::string> {};

TEST_P(Concurrency, SettersGettersProcessAndNodeLifetimesDoNotRace) {
  AudioEffectsNodeFactory factory;
  const std::unique_ptr<Subject> subject = makeSubject(factory, GetParam());
  ASSERT_NE(subject->audio, nullptr);
  ASSERT_FALSE(subject->floats.empty());
  Subject& s = *subject;
  std::vector<std::string> allTypes;
  for (const quorvel::NodeTypeInfo& info : factory.getNodeTypes())
    allTypes.push_back(info.getFQTypeName());

  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0}, failedProperties{0}, lifetimes{0}, controlRounds{0}, reads{0};
  std::vector<std::thread> threads;

  // The audio thread.
  threads.emplace_back([&] {
    AudioBuffer<float> in(2, 256, 48000), out(2, 256, 48000);
    fillTone(in);
    while (!stop.load()) {
      runBlock(*s.audio, in, out);
      blocks.fetch_add(1);
    }
  });

  // Control threads: every typed setter, and each host property, with the
  // thread's own values; they also read everything back.
  for (int t = 0; t < kSetterThreads; ++t) {
    threads.emplace_back([&, t] {
      for (long i = 0; !stop.load(); ++i) {
        const int k = static_cast<int>(i % kValuesPerThread);
        const bool viaProperty = s.hasProperties && (i % 2 == 1);
        for (const FloatParameter& p : s.floats) {
          if (viaProperty) {
            if (!s.node->setValue(p.property, QVAny(p.valueOf(t, k))).isSuccess())
              failedProperties.fetch_add(1);
          } else {
            p.set(p.valueOf(t, k));
          }
          static_cast<void>(p.get());
        }
        if (s.setDelayMs) {
          if (viaProperty) {
            if (!s.node->setValue("delayMs", QVAny(delayValueOf(t, k))).isSuccess())
              failedProperties.fetch_add(1);
          } else {
            s.setDelayMs(delayValueOf(t, k));
          }
        }
        // Bypassing now and then runs process() through both of its paths.
        const bool enable = (i % 5) != 0;
        if (viaProperty) {
          if (!s.node->setValue("enabled", QVAny(enable)).isSuccess())
            failedProperties.fetch_add(1);
        } else {
          s.setEnabled(enable);
        }
        controlRounds.fetch_add(1);
      }
    });
  }

  // A reader that only reads, through the getters and the host properties.
  threads.emplace_back([&] {
    while (!stop.load()) {
      for (const FloatParameter& p : s.floats) {
        static_cast<void>(p.get());
        if (s.hasProperties && !s.node->getValue(p.property).isSuccess())
          failedProperties.fetch_add(1);
      }
      if (s.getDelayMs) static_cast<void>(s.getDelayMs());
      if (s.hasProperties) {
        if (!s.node->getValue("delayMs").isSuccess()) failedProperties.fetch_add(1);
        if (!s.node->getValue("enabled").isSuccess()) failedProperties.fetch_add(1);
      }
      static_cast<void>(s.getEnabled());
      reads.fetch_add(1);
    }
  });

  // Node lifetimes on yet another thread: every type, built, run, destroyed.
  threads.emplace_back([&] {
    AudioBuffer<float> in(2, 64, 44100), out(2, 64, 44100);
    fillTone(in);
    while (!stop.load()) {
      for (const std::string& type : allTypes) {
        std::unique_ptr<quorvel::Node> node(factory.createNode(type, {}));
        auto& audio = dynamic_cast<quorvel::SingleBusAudioProcessorNode&>(*node);
        runBlock(audio, in, out);
        lifetimes.fetch_add(1);
      }
    }
  });

  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  const auto done = [&] {
    return blocks.load() >= kRounds && controlRounds.load() >= kRounds && reads.load() >= kRounds &&
           lifetimes.load() >= kLifetimes;
  };
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // poll interval only
  stop.store(true);
  for (std::thread& thread : threads) thread.join();

  std::printf("%s: %ld blocks processed, %ld nodes built and destroyed meanwhile\n",
              GetParam().c_str(), blocks.load(), lifetimes.load());
  EXPECT_TRUE(done()) << "a thread made no progress: " << blocks.load() << " blocks, "
                      << controlRounds.load() << " control rounds, " << reads.load() << " reads, "
                      << lifetimes.load() << " lifetimes";
  EXPECT_EQ(failedProperties.load(), 0);
  // Whatever thread won, the final values are among the stored ones.
  for (const FloatParameter& p : s.floats) EXPECT_TRUE(p.isKnown(p.get())) << p.property;
  if (s.getDelayMs) {
    EXPECT_TRUE(isKnownDelay(s.getDelayMs()));
  }
}

std::vector<std::string> nodeTypes() {
  AudioEffectsNodeFactory factory;
  std::vector<std::string> names;
  for (const quorvel::NodeTypeInfo& info : factory.getNodeTypes())
    names.push_back(info.getFQTypeName());
  return names;
}

INSTANTIATE_TEST_SUITE_P(EveryNodeType, Concurrency, ::testing::ValuesIn(nodeTypes()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(info.param.find('.') + 1);
                         });

}  // namespace
