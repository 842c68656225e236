// The five effect processors driven directly through plain float arrays, with
// no host type: against the plain models, on analytic inputs, and for what a
// client relies on (block sizes, in place, reset, format, bypass, extra
// channels, parameter tables and facts).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "../perf/ReferenceModels.hpp"
#include "quorvel/audio/Delay.hpp"
#include "quorvel/audio/IeeeArithmeticScope.hpp"
#include "quorvel/audio/Effect.hpp"
#include "quorvel/audio/PingPongDelay.hpp"
#include "quorvel/audio/SweptDelay.hpp"

namespace {

using namespace quorvel::audio;
using Rng = std::mt19937;
using Sizes = std::vector<unsigned int>;

// A planar block owned by the test, with the accessors the models read.
struct Block {
  Block(unsigned int channels, unsigned int frames, unsigned int rate, float fill = 0.0f)
      : data(channels, std::vector<float>(frames, fill)), frames(frames), rate(rate) {}
  unsigned int getNumberOfChannels() const { return static_cast<unsigned int>(data.size()); }
  unsigned int getNumberOfFrames() const { return frames; }
  unsigned int getSampleRate() const { return rate; }
  float getSample(unsigned int c, unsigned int f) const { return data[c][f]; }
  void setSample(unsigned int c, unsigned int f, float x) { data[c][f] = x; }

  std::vector<std::vector<float>> data;
  unsigned int frames, rate;
};

Block noise(unsigned int channels, unsigned int frames, unsigned int rate, std::uint32_t seed) {
  Rng rng(seed);
  Block block(channels, frames, rate);
  for (auto& channel : block.data) {
    for (float& x : channel) x = std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
  }
  return block;
}

Block impulse(unsigned int channels, unsigned int frames, unsigned int rate, unsigned int on) {
  Block block(channels, frames, rate);
  block.data[on][0] = 1.0f;
  return block;
}

// Runs `in` through `effect` in blocks of `sizes` (cycled; an empty input is
// still one empty block), out of place into a block filled with garbage, so
// that every channel must be written, or in place.
Block render(Effect& effect, Block in, const Sizes& sizes, bool inPlace = false) {
  Block out(in.getNumberOfChannels(), in.frames, in.rate, 12345.0f);
  Block& target = inPlace ? in : out;
  const unsigned int channels = in.getNumberOfChannels();
  std::vector<const float*> src(channels);
  std::vector<float*> dst(channels);
  unsigned int start = 0;
  for (std::size_t k = 0; k == 0 || start < in.frames; ++k) {
    const unsigned int n = std::min(sizes[k % sizes.size()], in.frames - start);
    for (unsigned int c = 0; c < channels; ++c) {
      src[c] = in.data[c].data() + start;
      dst[c] = target.data[c].data() + start;
    }
    effect.process(src.data(), dst.data(), channels, n);
    start += n;
  }
  return target;
}

// Bit for bit, any NaN matching any NaN.
::testing::AssertionResult sameBits(const Block& a, const Block& b) {
  for (unsigned int c = 0; c < a.getNumberOfChannels(); ++c) {
    for (unsigned int f = 0; f < a.frames; ++f) {
      const float x = a.data[c][f], y = b.data[c][f];
      if (!(std::isnan(x) && std::isnan(y)) && std::memcmp(&x, &y, sizeof x) != 0) {
        return ::testing::AssertionFailure()
               << "channel " << c << " frame " << f << ": " << x << " vs " << y;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The last frame of any channel at or above `level` in magnitude; -1 if none.
long lastAtOrAbove(const Block& block, double level) {
  long last = -1;
  for (const auto& channel : block.data) {
    for (std::size_t f = 0; f < channel.size(); ++f) {
      if (std::fabs(channel[f]) >= level) last = std::max(last, static_cast<long>(f));
    }
  }
  return last;
}

std::unique_ptr<Effect> prepared(const std::string& name, unsigned int rate, unsigned int channels,
                                 unsigned int stateChannels = 2) {
  std::unique_ptr<Effect> effect = makeEffect(name, stateChannels);
  effect->prepare(rate, channels);
  return effect;
}

using Model = std::variant<reference::Delay, reference::PingPong, reference::Vibrato,
                           reference::Flanger, reference::Chorus>;

Model modelOf(const std::string& name) {
  if (name == "Delay") return reference::Delay(2);
  if (name == "PingPongDelay") return reference::PingPong();
  if (name == "Vibrato") return reference::Vibrato(2);
  if (name == "Flanger") return reference::Flanger(2);
  return reference::Chorus(2);
}

// Gives the model the value the processor was given by key.
template <typename M>
void setModel(M& m, std::string_view key, double v) {
  const float x = static_cast<float>(v);
  if (key == "enabled") m.enabled = v != 0.0;
  if constexpr (std::is_same_v<M, reference::Delay> || std::is_same_v<M, reference::PingPong>) {
    if (key == "delayMs") m.delayMs = static_cast<unsigned int>(v);
    if (key == "dryMix") m.dryMix = x;
    if (key == "wetMix") m.wetMix = x;
    if (key == "feedbackLevel") m.feedbackLevel = x;
  } else if (key == "sweepWidth") {
    m.sweepWidth = x;
  } else if (key == "frequency") {
    if constexpr (std::is_same_v<M, reference::Vibrato>) m.lfo.frequency = x;
    if constexpr (!std::is_same_v<M, reference::Vibrato>) m.setFrequency(x);
  }
}

// Mostly around the default; sometimes bypassing, out of range or not a number.
double randomValue(Rng& rng, const Parameter& p) {
  const float odd[] = {0.0f, -0.5f, 1.5f, 1e30f, INFINITY, NAN, 1e-40f};
  if (p.type == ParameterType::Boolean) return rng() % 4 != 0;
  if (p.type == ParameterType::Integer) return rng() % 20 == 0 ? 0 : 1 + rng() % 1200;
  if (rng() % 25 == 0) return odd[rng() % 7];
  return std::uniform_real_distribution<float>(-0.2f,
                                               2.0f * static_cast<float>(p.defaultValue))(rng);
}

class EffectProcessor : public ::testing::TestWithParam<std::string> {};

// Random signals, parameters, rates, channel counts (beyond the state too),
// block sizes, in and out of place.
TEST_P(EffectProcessor, MatchesPlainModelBitForBit) {
  std::unique_ptr<Effect> effect = makeEffect(GetParam(), 2);
  Model model = modelOf(GetParam());
  std::seed_seq seed(GetParam().begin(), GetParam().end());
  Rng rng(seed);
  const unsigned int rates[] = {8000, 44100, 48000, 48000, 96000, 0};
  unsigned int rate = 48000, channels = 2;
  for (unsigned int frames = 0, block = 0; frames < 300000; ++block) {
    if (rng() % 30 == 0) rate = rates[rng() % 6];
    if (rng() % 30 == 0) channels = rng() % 4;
    for (const Parameter& p : effect->parameters()) {
      if (rng() % 6 != 0) continue;
      const double v = randomValue(rng, p);
      ASSERT_TRUE(effect->set(p.key, v));
      std::visit([&](auto& m) { setModel(m, p.key, v); }, model);
    }
    const unsigned int size = rng() % 3 == 0 ? rng() % 64 : rng() % 2048;
    const Block in = noise(channels, size, rate, rng());
    Block expected(channels, size, rate);
    {
      const IeeeArithmeticScope ieeeArithmetic;  // as the processors compute
      std::visit([&](auto& m) { m.process(in, expected); }, model);
    }
    effect->prepare(rate, channels);
    ASSERT_TRUE(sameBits(render(*effect, in, {size}, rng() % 3 == 0), expected)) << block;
    frames += size;
  }
}

// At the defaults, and at the deepest settings the line allows at 96 kHz: a
// full-line delay, a sweep reaching the front of the line (where a chunk can
// no longer be read in one pass).
TEST_P(EffectProcessor, BlockSizesAndInPlaceDoNotChangeBits) {
  Rng rng(11);
  Sizes sizes{0, 1, 255, 256, 257, 511};
  for (int i = 0; i < 60; ++i) sizes.push_back(rng() % 900);
  for (const unsigned int rate : {48000u, 96000u}) {
    const Block in = noise(2, 120000, rate, 5);
    const auto run = [&](const Sizes& blocks, bool inPlace) {
      std::unique_ptr<Effect> effect = prepared(GetParam(), rate, 2);
      for (const Parameter& p : effect->parameters()) {
        if (rate == 96000 && p.maximumAt) effect->set(p.key, *effect->maximumAt(p.key, rate));
      }
      effect->set("frequency", 3.0);
      return render(*effect, in, blocks, inPlace);
    };
    const Block whole = run({in.frames}, false);
    EXPECT_TRUE(sameBits(whole, run(sizes, false))) << rate;
    EXPECT_TRUE(sameBits(whole, run(sizes, true))) << rate;
    EXPECT_TRUE(sameBits(whole, run({in.frames}, true))) << rate;
  }
}

// reset() keeps the parameters and the prepared format: no prepare() follows.
TEST_P(EffectProcessor, ResetReturnsToNewEffectOutput) {
  std::unique_ptr<Effect> used = prepared(GetParam(), 44100, 2);
  std::unique_ptr<Effect> fresh = prepared(GetParam(), 44100, 2);
  for (Effect* e : {used.get(), fresh.get()}) {
    e->set("frequency", 5.0);
    e->set("wetMix", 0.5);
  }
  render(*used, noise(2, 70000, 44100, 1), {1000});
  used->reset();
  // A new delay time after a while: silent lines no longer hide a stale position.
  const Block probe = noise(2, 30000, 44100, 2);
  for (const double ms : {200.0, 130.0}) {
    for (Effect* e : {used.get(), fresh.get()}) e->set("delayMs", ms);
    EXPECT_TRUE(sameBits(render(*used, probe, {777}), render(*fresh, probe, {777}))) << ms;
  }
}

// An impulse is in the lines; a format is prepared and a bypassed block runs.
// A new format clears the lines once the effect runs again (the ping-pong
// delay only re-derives its ring length); the same format again keeps them.
TEST_P(EffectProcessor, NewFormatClearsLinesOnNextActiveBlock) {
  const bool pingPong = GetParam() == "PingPongDelay";
  for (const auto& [rate, channels, keeps] :
       {std::make_tuple(48000u, 2u, true), std::make_tuple(44100u, 2u, pingPong),
        std::make_tuple(48000u, 1u, pingPong)}) {
    std::unique_ptr<Effect> effect = prepared(GetParam(), 48000, 2);
    render(*effect, impulse(2, 100, 48000, 0), {100});
    effect->prepare(rate, channels);
    effect->set("enabled", 0);
    const Block passing = noise(channels, 500, rate, 3);
    EXPECT_TRUE(sameBits(render(*effect, passing, {500}), passing));
    effect->set("enabled", 1);
    const Block after = render(*effect, Block(channels, 48000, rate), {4096});
    EXPECT_EQ(lastAtOrAbove(after, 1e-30) >= 0, keeps) << rate << " Hz, " << channels;
  }
}

// Bypassed by `enabled`, or by a delay time of 0 for the delays.
TEST_P(EffectProcessor, BypassedBlockCopiesAndChangesNoState) {
  for (const auto& [key, on] : {std::make_pair("enabled", 1.0), std::make_pair("delayMs", 200.0)}) {
    std::unique_ptr<Effect> a = prepared(GetParam(), 48000, 2);
    std::unique_ptr<Effect> b = prepared(GetParam(), 48000, 2);
    if (!a->set(key, on)) continue;
    b->set(key, on);
    EXPECT_FALSE(a->isBypassed());
    const Block first = noise(2, 5000, 48000, 4), passing = noise(2, 3000, 48000, 5),
                then = noise(2, 30000, 48000, 6);
    EXPECT_TRUE(sameBits(render(*a, first, {700}), render(*b, first, {700})));
    a->set(key, 0.0);
    EXPECT_TRUE(a->isBypassed() && a->latencySamples(48000) == 0.0 &&
                a->tailSamples(48000, 0.001) == 0.0)
        << key;
    EXPECT_TRUE(sameBits(render(*a, passing, {999}), passing)) << key;
    a->set(key, on);
    EXPECT_TRUE(sameBits(render(*a, then, {700}), render(*b, then, {700}))) << key;
  }
}

// The stateful channels come out as if they were the whole block.
TEST_P(EffectProcessor, ChannelsBeyondStatePassThrough) {
  std::unique_ptr<Effect> wide = makeEffect(GetParam(), 1), narrow = makeEffect(GetParam(), 1);
  const unsigned int n = wide->getNumChannels();
  for (Effect* e : {wide.get(), narrow.get()}) e->prepare(48000, n + 2);
  const Block in = noise(n + 2, 20000, 48000, 7), out = render(*wide, in, {1000});
  Block own = in;
  own.data.resize(n);
  own = render(*narrow, own, {1000});
  for (unsigned int c = 0; c < n + 2; ++c) {
    EXPECT_TRUE(out.data[c] == (c < n ? own : in).data[c]) << "channel " << c;
  }
}

// The typed getters, in table order.
std::vector<double> typedValues(const Effect& e) {
  if (const auto* s = dynamic_cast<const SweptDelay*>(&e)) {
    return {static_cast<double>(s->getIsEnabled()), s->getSweepWidth(), s->getFrequency()};
  }
  const auto delay = [](const auto& d) {
    return std::vector<double>{static_cast<double>(d.getIsEnabled()),
                               static_cast<double>(d.getDelayMs()), d.getDryMix(), d.getWetMix(),
                               d.getFeedbackLevel()};
  };
  if (const auto* d = dynamic_cast<const Delay*>(&e)) return delay(*d);
  return delay(dynamic_cast<const PingPongDelay&>(e));
}

// A new effect holds the defaults; set() reaches the field its key names and
// no other, converted to the field's type but not clamped.
TEST_P(EffectProcessor, ParameterTableRoundTripsThroughTypedFields) {
  std::unique_ptr<Effect> effect = makeEffect(GetParam(), 2);
  const ParameterTable table = effect->parameters();
  std::vector<double> expected;
  for (const Parameter& p : table) {
    expected.push_back(storedValue(p.type, p.defaultValue));
    EXPECT_TRUE(p.minimum <= p.defaultValue && p.defaultValue <= p.maximum) << p.key;
  }
  EXPECT_EQ(typedValues(*effect), expected);
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (const double v :
         {table[i].minimum, table[i].maximum, 0.37 * table[i].maximum, 1234.5, -2.0}) {
      ASSERT_TRUE(effect->set(table[i].key, v));
      expected[i] = storedValue(table[i].type, v);
      EXPECT_EQ(typedValues(*effect), expected) << table[i].key << " = " << v;
      EXPECT_EQ(effect->get(table[i].key), expected[i]) << table[i].key;
    }
  }
  EXPECT_FALSE(effect->set("noSuchParameter", 1.0));
  EXPECT_FALSE(effect->set("", 1.0));
  EXPECT_FALSE(effect->get("noSuchParameter").has_value());
  EXPECT_FALSE(effect->maximumAt("noSuchParameter", 48000).has_value());
  EXPECT_EQ(typedValues(*effect), expected);
}

// At the defaults and 44.1 kHz, an impulse on either channel has no sample at
// or above the level later than tailSamples says. Only an effect without dry
// signal (the vibrato, below) has a latency.
TEST_P(EffectProcessor, TailCoversRenderedImpulseResponse) {
  for (unsigned int on = 0; on < 2; ++on) {
    std::unique_ptr<Effect> effect = prepared(GetParam(), 44100, 2);
    EXPECT_TRUE(GetParam() == "Vibrato" || effect->latencySamples(44100) == 0.0);
    const double tail = effect->tailSamples(44100, 0.001);
    ASSERT_TRUE(std::isfinite(tail));
    const auto frames = static_cast<unsigned int>(tail) + 50000;
    const Block out = render(*effect, impulse(2, frames, 44100, on), {4096});
    EXPECT_LE(lastAtOrAbove(out, 0.001), tail) << "impulse on channel " << on;
  }
}

INSTANTIATE_TEST_SUITE_P(AllEffects, EffectProcessor,
                         ::testing::Values("Delay", "PingPongDelay", "Vibrato", "Flanger",
                                           "Chorus"),
                         [](const auto& info) { return info.param; });

TEST(EffectAnalytic, DelayImpulseEchoesEveryDelayWeakerByFeedback) {
  std::unique_ptr<Effect> delay = prepared("Delay", 48000, 1, 1);
  const Block out = render(*delay, impulse(1, 50000, 48000, 0), {50000});
  const unsigned int d = 9600;  // 200 ms
  const float g = 0.2f,
              echoes[] = {
                  0.7f, 0.3f, 0.3f * g, 0.3f * (g * g), 0.3f * (g * g * g), 0.3f * (g * g * g * g)};
  for (unsigned int f = 0; f < out.frames; ++f) {
    ASSERT_EQ(out.data[0][f], f % d == 0 ? echoes[f / d] : 0.0f) << f;
  }
  // The fourth echo (0.0024) is the last at or above 0.001.
  EXPECT_EQ(lastAtOrAbove(out, 0.001), 4 * static_cast<long>(d));
  EXPECT_GE(delay->tailSamples(48000, 0.001), 4.0 * d);
  EXPECT_LT(delay->tailSamples(48000, 0.001), 5.0 * d);
}

// Each ping-pong line decays by feedback^2 per delay, so its tail is about
// half a plain echo's: the later of the two sides' last audible samples lies
// within the last delay of the tail.
TEST(EffectAnalytic, PingPongTailEndsWithinOneDelayOfTheLastEcho) {
  for (const auto& [feedback, wet] : {std::make_pair(0.5, 0.3), std::make_pair(0.9, 1.0),
                                      std::make_pair(0.0, 0.3), std::make_pair(-0.7, 0.5)}) {
    std::unique_ptr<Effect> echo = prepared("PingPongDelay", 48000, 2);
    echo->set("dryMix", 0.0);
    echo->set("wetMix", wet);
    echo->set("feedbackLevel", feedback);
    const double tail = echo->tailSamples(48000, 0.001);
    long last = 0;
    for (unsigned int on = 0; on < 2; ++on) {
      echo->reset();
      const auto frames = static_cast<unsigned int>(tail) + 20000;
      last = std::max(last,
                      lastAtOrAbove(render(*echo, impulse(2, frames, 48000, on), {4096}), 0.001));
    }
    EXPECT_LE(last, tail) << feedback;
    EXPECT_GT(last + 9600.0, tail) << feedback;
  }
}

// Without sweep, constant input settles to 1 + mix / (1 - feedback).
TEST(EffectAnalytic, UnsweptConstantInputSettles) {
  for (const auto& [name, level] : {std::make_pair("Flanger", 3.0), std::make_pair("Chorus", 1.8),
                                    std::make_pair("Vibrato", 1.0)}) {
    std::unique_ptr<Effect> effect = prepared(name, 48000, 2);
    effect->set("frequency", 0.0);
    const Block out = render(*effect, Block(2, 48000, 48000, 1.0f), {1024});
    for (unsigned int c = 0; c < 2; ++c) EXPECT_NEAR(out.data[c].back(), level, 1e-5) << name << c;
  }
}

// At frequency 0 the vibrato's oscillator rests at the centre of the sweep: a
// whole number of swept samples makes it a pure delay of its latency,
// 1 + 0.5 x width x rate.
TEST(EffectAnalytic, UnsweptVibratoIsAPureDelayOfItsLatency) {
  for (const double width : {0.0, 0.015625}) {
    std::unique_ptr<Effect> vibrato = prepared("Vibrato", 48000, 2);
    vibrato->set("frequency", 0.0);
    vibrato->set("sweepWidth", width);
    const auto latency = static_cast<unsigned int>(vibrato->latencySamples(48000));
    ASSERT_EQ(latency, width == 0.0 ? 1u : 376u);
    EXPECT_EQ(vibrato->latencySamples(96000), 1.0 + width * 48000.0);
    const Block in = noise(2, 5000, 48000, 8), out = render(*vibrato, in, {333});
    for (unsigned int c = 0; c < 2; ++c) {
      for (unsigned int f = 0; f < in.frames; ++f) {
        ASSERT_EQ(out.data[c][f], f < latency ? 0.0f : in.data[c][f - latency]) << c << " " << f;
      }
    }
  }
}

TEST(EffectParameters, RateBoundMaximaFitTheLine) {
  for (const char* name : {"Delay", "PingPongDelay"}) {
    std::unique_ptr<Effect> effect = makeEffect(name, 2);
    for (const auto& [rate, ms] : {std::make_pair(44100u, 1000.0), std::make_pair(48000u, 1000.0),
                                   std::make_pair(96000u, 500.0), std::make_pair(192000u, 250.0)}) {
      EXPECT_EQ(effect->maximumAt("delayMs", rate), ms) << name << " " << rate;
    }
  }
  for (const char* name : {"Vibrato", "Flanger", "Chorus"}) {
    std::unique_ptr<Effect> effect = makeEffect(name, 2);
    const double fixed = dynamic_cast<SweptDelay&>(*effect).design().fixedDelay;
    for (const unsigned int rate : {44100u, 48000u, 88200u, 96000u, 176400u, 192000u, 705600u}) {
      // Fits, and tightly: the range's own maximum, or one sample more would not fit.
      const double deepest = fixed + *effect->maximumAt("sweepWidth", rate) * rate + 2.0;
      EXPECT_TRUE(deepest <= kDelayLineLength && (deepest + 1.0 > kDelayLineLength ||
                                                  *effect->maximumAt("sweepWidth", rate) == 0.5))
          << name << " " << rate;
    }
  }
}

TEST(EffectFactory, MakesEveryTypeByNameInAnyCase) {
  std::string order;
  for (const EffectInfo* type : effectTypes()) {
    order += std::string(type->name) + " ";
    std::string upper(type->name), lower(type->name);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    for (const std::string& spelling : {upper, lower}) {
      std::unique_ptr<Effect> effect = makeEffect(spelling, 3);
      ASSERT_NE(effect, nullptr) << spelling;
      EXPECT_EQ(&effect->info(), type) << spelling;
      EXPECT_EQ(effect->getNumChannels(), type->name == "PingPongDelay" ? 2u : 3u);
    }
  }
  EXPECT_EQ(order, "Delay PingPongDelay Vibrato Flanger Chorus ");
  for (const char* unknown : {"", "Dela", "Delays", "Ping Pong Delay"}) {
    EXPECT_EQ(makeEffect(unknown, 1), nullptr) << unknown;
  }
}

}  // namespace
