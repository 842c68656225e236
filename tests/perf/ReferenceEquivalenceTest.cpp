// Every effect node against its plain per-sample model (ReferenceModels.hpp):
// seeded random signals, parameters changed between blocks, random block
// sizes, sample-rate and channel-count changes, in-place and out-of-place
// buses, on every instruction set the kernels are built for. Outputs must
// agree bit for bit (any NaN matches any NaN).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "ReferenceModels.hpp"
#include "quorvel/AudioBuffer.hpp"
#include "quorvel/AudioBus.hpp"
#include "quorvel/audio/IeeeArithmeticScope.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "quorvel/nodes/ChorusNode.hpp"
#include "quorvel/nodes/DelayNode.hpp"
#include "quorvel/nodes/FlangerNode.hpp"
#include "quorvel/nodes/PingPongDelayNode.hpp"
#include "quorvel/nodes/VibratoNode.hpp"

namespace {

using quorvel::AudioBuffer;
using quorvel::AudioBus;
using namespace quorvel::extensions::audioeffects;

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUORVEL_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVEL_SANITIZED 1
#endif

// Frames per node: two million (mostly stereo) in a plain build, a fifth of
// that under a sanitizer; QUORVEL_REFERENCE_FRAMES overrides both.
std::uint64_t framesPerNode() {
  if (const char* text = std::getenv("QUORVEL_REFERENCE_FRAMES")) {
    return std::strtoull(text, nullptr, 10);
  }
#ifdef QUORVEL_SANITIZED
  return 400000;
#else
  return 2000000;
#endif
}

using Rng = std::mt19937;

float uniform(Rng& rng, float lo, float hi) {
  return std::uniform_real_distribution<float>(lo, hi)(rng);
}
bool oneIn(Rng& rng, unsigned int n) { return rng() % n == 0; }

// A value a careless caller might pass: zero, negative, huge, non-finite.
float oddValue(Rng& rng) {
  const float odd[] = {0.0f,
                       -0.5f,
                       1.5f,
                       1e30f,
                       std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN(),
                       1e-40f};
  return odd[rng() % (sizeof(odd) / sizeof(odd[0]))];
}

// Noise at a random level, with rare silence, subnormal, huge and non-finite samples.
void fillSignal(Rng& rng, AudioBuffer<float>& buffer) {
  const int kind = static_cast<int>(rng() % 8);
  const float level = kind == 0 ? 0.0f : kind == 1 ? 1e-39f : kind == 2 ? 1e6f : uniform(rng, 0, 2);
  for (unsigned int c = 0; c < buffer.getNumberOfChannels(); ++c) {
    for (unsigned int f = 0; f < buffer.getNumberOfFrames(); ++f) {
      float x = level * uniform(rng, -1.0f, 1.0f);
      if (oneIn(rng, 50000)) x = oddValue(rng);
      buffer.setSample(c, f, x);
    }
  }
}

bool sameBits(float a, float b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  std::uint32_t ia, ib;
  std::memcpy(&ia, &a, 4);
  std::memcpy(&ib, &b, 4);
  return ia == ib;
}

// The sample rates a host runs at, rarely the meaningless 0.
unsigned int usualRate(Rng& rng) {
  const unsigned int rates[] = {8000, 22050, 44100, 48000, 48000, 96000, 192000, 0};
  return rates[rng() % (oneIn(rng, 10) ? 8 : 7)];
}

// Runs `node` and `model` side by side. `Adapter` mirrors random parameter
// changes onto both; `pickRate` draws each new sample rate.
template <typename Node, typename Model, typename Adapter>
void expectSameAsModel(Node& node, Model& model, Adapter randomise, std::uint32_t seed,
                       unsigned int maxChannels, unsigned int (*pickRate)(Rng&) = usualRate) {
  Rng rng(seed);
  unsigned int rate = 48000;
  unsigned int channels = 2;
  std::uint64_t frames = 0;
  const std::uint64_t target = framesPerNode();
  unsigned int block = 0;
  while (frames < target) {
    if (oneIn(rng, 40)) rate = pickRate(rng);
    if (oneIn(rng, 40)) channels = rng() % (maxChannels + 1);
    if (oneIn(rng, 60)) channels = 3;  // more than the node has state for
    randomise(rng, node, model);
    const unsigned int size = oneIn(rng, 20)  ? 0
                              : oneIn(rng, 3) ? 1 + rng() % 64
                                              : 1 + rng() % 2048;

    AudioBuffer<float> input(channels, size, rate);
    fillSignal(rng, input);
    AudioBuffer<float> expected(channels, size, rate);
    {
      // The nodes compute plain IEEE arithmetic whatever mode the test runs in; so does the model.
      const quorvel::audio::IeeeArithmeticScope ieeeArithmetic;
      model.process(input, expected);
    }

    AudioBuffer<float> output(channels, size, rate);
    const bool inPlace = oneIn(rng, 4);
    {
      AudioBus in(input);
      AudioBus out(inPlace ? input : output);
      node.process(in, out);
    }
    const AudioBuffer<float>& actual = inPlace ? input : output;
    for (unsigned int c = 0; c < channels; ++c) {
      for (unsigned int f = 0; f < size; ++f) {
        if (!sameBits(actual.getSample(c, f), expected.getSample(c, f))) {
          FAIL() << "block " << block << " channel " << c << " frame " << f << " rate " << rate
                 << (inPlace ? " in place" : "") << ": node " << actual.getSample(c, f)
                 << ", model " << expected.getSample(c, f);
        }
      }
    }
    frames += size;
    ++block;
  }
}

// A feedback gain, mostly stable, sometimes growing until it overflows.
float gain(Rng& rng) { return oneIn(rng, 30) ? oddValue(rng) : uniform(rng, -1.0f, 1.0f); }

unsigned int delayTime(Rng& rng) {
  if (oneIn(rng, 20)) return 0;
  if (oneIn(rng, 10)) return 1000 + rng() % 3000;
  return 1 + rng() % 1000;
}

template <typename Node, typename Model>
void randomiseDelay(Rng& rng, Node& node, Model& model) {
  if (oneIn(rng, 25)) {
    model.enabled = !oneIn(rng, 3);
    node.setIsEnabled(model.enabled);
  }
  if (oneIn(rng, 8)) {
    model.delayMs = delayTime(rng);
    node.setDelayMs(model.delayMs);
  }
  if (oneIn(rng, 3)) {
    model.dryMix = gain(rng);
    model.wetMix = gain(rng);
    model.feedbackLevel = oneIn(rng, 30) ? oddValue(rng) : uniform(rng, -0.99f, 0.99f);
    node.setDryMix(model.dryMix);
    node.setWetMix(model.wetMix);
    node.setFeedbackLevel(model.feedbackLevel);
  }
}

// Sweep width in seconds, mostly musical, sometimes one that wraps the
// line or is not a number at all.
float width(Rng& rng, float typical) {
  return oneIn(rng, 12) ? oddValue(rng) : uniform(rng, 0.0f, 2.0f * typical);
}

float sweepRate(Rng& rng) {
  if (oneIn(rng, 15)) return oddValue(rng);
  if (oneIn(rng, 15)) return uniform(rng, -5.0f, 30000.0f);
  return uniform(rng, 0.0f, 12.0f);
}

template <typename Node, typename Model>
void randomiseSweep(Rng& rng, Node& node, Model& model, float typicalWidth) {
  if (oneIn(rng, 25)) {
    model.enabled = !oneIn(rng, 3);
    node.setIsEnabled(model.enabled);
  }
  if (oneIn(rng, 4)) {
    model.sweepWidth = width(rng, typicalWidth);
    node.setSweepWidth(model.sweepWidth);
  }
  if (oneIn(rng, 6)) {
    const float hz = sweepRate(rng);
    node.setFrequency(hz);
    if constexpr (std::is_same_v<Model, reference::Vibrato>) {
      model.lfo.frequency = hz;
    } else {
      model.setFrequency(hz);
    }
  }
}

// Runs `check` once on each instruction set the kernels are built for and
// this CPU runs, then puts the best one back.
template <typename Check>
void onEveryTarget(Check check) {
  struct Restore {
    ~Restore() { quorvel::audio::forceVectorTarget(""); }
  } restore;
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target)) << target;
    SCOPED_TRACE("instruction set " + target);
    check();
  }
}

TEST(ReferenceEquivalence, DelayMatchesModel) {
  onEveryTarget([] {
    DelayNode node(2);
    reference::Delay model(2);
    expectSameAsModel(node, model, randomiseDelay<DelayNode, reference::Delay>, 101, 2);
  });
}

TEST(ReferenceEquivalence, PingPongDelayMatchesModel) {
  onEveryTarget([] {
    PingPongDelayNode node{quorvel::QVAnyMap{}};
    reference::PingPong model;
    expectSameAsModel(node, model, randomiseDelay<PingPongDelayNode, reference::PingPong>, 202, 2);
  });
}

TEST(ReferenceEquivalence, ChorusMatchesModel) {
  onEveryTarget([] {
    ChorusNode node(2);
    reference::Chorus model(2);
    const auto randomise = [](Rng& rng, ChorusNode& n, reference::Chorus& m) {
      randomiseSweep(rng, n, m, 0.025f);
    };
    expectSameAsModel(node, model, randomise, 303, 2);
  });
}

TEST(ReferenceEquivalence, FlangerMatchesModel) {
  onEveryTarget([] {
    FlangerNode node(2);
    reference::Flanger model(2);
    const auto randomise = [](Rng& rng, FlangerNode& n, reference::Flanger& m) {
      randomiseSweep(rng, n, m, 0.005f);
    };
    expectSameAsModel(node, model, randomise, 404, 2);
  });
}

TEST(ReferenceEquivalence, VibratoMatchesModel) {
  onEveryTarget([] {
    VibratoNode node(2);
    reference::Vibrato model(2);
    const auto randomise = [](Rng& rng, VibratoNode& n, reference::Vibrato& m) {
      randomiseSweep(rng, n, m, 0.01f);
    };
    expectSameAsModel(node, model, randomise, 505, 2);
  });
}

// Delays of a few samples, shorter and longer than any vector of frames: at
// 1 kHz a delay in ms is a delay in samples.
TEST(ReferenceEquivalence, DelaysOfAFewSamplesMatchModel) {
  const auto shortDelays = [](Rng& rng, auto& node, auto& model) {
    randomiseDelay(rng, node, model);
    if (oneIn(rng, 4)) {
      model.delayMs = 1 + rng() % 40;
      node.setDelayMs(model.delayMs);
    }
  };
  const auto lowRate = [](Rng& rng) -> unsigned int { return oneIn(rng, 10) ? 0 : 1000; };
  onEveryTarget([&] {
    DelayNode delay(2);
    reference::Delay delayModel(2);
    expectSameAsModel(delay, delayModel, shortDelays, 808, 2, +lowRate);
    PingPongDelayNode pingPong{quorvel::QVAnyMap{}};
    reference::PingPong pingPongModel;
    expectSameAsModel(pingPong, pingPongModel, shortDelays, 909, 2, +lowRate);
  });
}

// A node built for one channel still sees stereo blocks: the second channel
// keeps the copied input while the first runs the effect.
TEST(ReferenceEquivalence, MonoNodesMatchModelOnWiderBlocks) {
  onEveryTarget([] {
    FlangerNode flanger(1);
    reference::Flanger flangerModel(1);
    const auto sweep = [](Rng& rng, FlangerNode& n, reference::Flanger& m) {
      randomiseSweep(rng, n, m, 0.005f);
    };
    expectSameAsModel(flanger, flangerModel, sweep, 606, 2);
    DelayNode delay(1);
    reference::Delay delayModel(1);
    expectSameAsModel(delay, delayModel, randomiseDelay<DelayNode, reference::Delay>, 707, 2);
  });
}

}  // namespace
