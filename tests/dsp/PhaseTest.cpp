#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FloatBits.hpp"
#include "OscillatorStep.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "vector/Phase.hpp"

namespace {

namespace kernels = quorvel::audio::kernels;

using quorvel::audio::testing::bitsOf;
using quorvel::audio::testing::floatOf;

// The recurrence written out: one float add, then 1 off at 1 or above.
float serialStep(float increment, float phase) {
  float next = increment + phase;
  if (next >= 1.0f) next = next - 1.0f;
  return next;
}

struct PhaseCase {
  float increment;
  float phase;
};

// A float in [0, 1) a few steps of its spacing below 2^exponent, exponent <= 0.
float justBelowPowerOfTwo(std::mt19937& random, int exponent) {
  const std::uint32_t top = bitsOf(std::ldexp(1.0f, exponent));
  return floatOf(top - 1 - random() % 40);
}

// Starting phases and increments of six kinds, from `kind`.
PhaseCase drawCase(std::mt19937& random, int kind) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float phase = unit(random);
  switch (kind) {
    case 0: {  // the swept effects' oscillators: 0..20 Hz at 8 kHz..384 kHz
      const int rate = 8000 + static_cast<int>(random() % 376001);
      return {unit(random) * 20.0f * static_cast<float>(1.0 / rate), phase};
    }
    case 1: {  // the same, started just below 1 or below a binade's end
      const int rate = 8000 + static_cast<int>(random() % 376001);
      const float increment = unit(random) * 20.0f * static_cast<float>(1.0 / rate);
      return {increment, justBelowPowerOfTwo(random, -static_cast<int>(random() % 24))};
    }
    case 2: {  // any increment of 2^-60..2^8 cycles, a phase of 2^-60..2^40
      const float increment =
          std::ldexp(1.0f + unit(random), -60 + static_cast<int>(random() % 68));
      const float wide = std::ldexp(1.0f + unit(random), -60 + static_cast<int>(random() % 100));
      return {increment, random() % 2 ? phase : wide};
    }
    case 3: {  // halfway between two phases of a binade at every step
      const int exponent = -1 - static_cast<int>(random() % 24);
      const std::uint32_t halves = 2 * (random() % (1u << (random() % 23))) + 1;
      const float increment = std::ldexp(static_cast<float>(halves), exponent - 24);
      const float inBinade = std::ldexp(1.0f + unit(random), exponent);
      return {increment, random() % 4 ? inBinade : justBelowPowerOfTwo(random, exponent + 1)};
    }
    case 4: {  // negative and zero increments, negative and signed zero phases
      const float magnitude = random() % 2
                                  ? unit(random) * 0.001f
                                  : std::ldexp(unit(random), -static_cast<int>(random() % 40));
      const float increments[] = {-magnitude, 0.0f, -0.0f, -magnitude, magnitude};
      const float phases[] = {phase, -0.0f, 0.0f, -phase, -std::ldexp(phase, -30)};
      return {increments[random() % 5], phases[random() % 5]};
    }
    default: {  // steps of a cycle or more, or just under, and raw float bits
      const float increments[] = {
          1.0f,       1.5f,   2.0f, 0.75f,     0.5f,
          0.9999999f, 1e-30f, 3.0f, 0x1p-149f, floatOf(random() & 0x537fffffu)};
      const float phases[] = {phase, -0.0f, 0.0f, 0.999999940f, 1.0f, 3.25f};
      return {increments[random() % 10] * (random() % 8 ? 1.0f : -1.0f), phases[random() % 6]};
    }
  }
}

// How many rounds of cases: QUORVEL_PHASE_ROUNDS asks for more (a long run).
int rounds() {
  const char* asked = std::getenv("QUORVEL_PHASE_ROUNDS");
  return asked != nullptr && std::atoi(asked) > 0 ? std::atoi(asked) : 1;
}

// Every phase, every angle and the final phase of the kernels against the
// serial recurrence, bit for bit, under every instruction set: thousands of
// chunks of each kind of start, counts 0..300, the same cases for each set.
TEST(Phase, StepsAndAnglesEqualTheSerialRecurrence) {
  const int roundCount = rounds();
  const double shifts[] = {0.0, 1.5707963705062866, -2.5, 0.3};
  std::uint64_t compared = 0;
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    std::mt19937 random(11);
    std::vector<float> phases(320), angles(320);
    for (int round = 0; round < roundCount; ++round) {
      for (int c = 0; c < 6 * 1500; ++c) {
        const int kind = c % 6;
        const PhaseCase draw = drawCase(random, kind);
        const unsigned int count = static_cast<unsigned int>(random() % 301);
        const double shift = shifts[c % 4];
        const float last = kernels::phaseSteps(draw.increment, draw.phase, phases.data(), count);
        const float lastOfAngles =
            kernels::phaseAngles(draw.increment, draw.phase, shift, angles.data(), count);
        ASSERT_EQ(bitsOf(lastOfAngles), bitsOf(last)) << target;
        float expected = draw.phase;
        for (unsigned int i = 0; i < count; ++i) {
          ASSERT_EQ(bitsOf(phases[i]), bitsOf(expected))
              << target << " kind " << kind << " increment " << draw.increment << " from "
              << draw.phase << " step " << i;
          const float angle =
              static_cast<float>(shift + static_cast<double>(expected) * 6.283185307179586);
          ASSERT_EQ(bitsOf(angles[i]), bitsOf(angle)) << target << " angle of " << expected;
          expected = serialStep(draw.increment, expected);
        }
        ASSERT_EQ(bitsOf(last), bitsOf(expected))
            << target << " kind " << kind << " increment " << draw.increment << " from "
            << draw.phase << " final after " << count;
        compared += count;
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
  std::printf("%llu steps compared\n", static_cast<unsigned long long>(compared));
}

// A chunk of a million-odd steps crosses every binade of the phase below 1
// and wraps many times; the scaled values are a multiply then an add.
TEST(Phase, LongChunksAndTheScalingEqualTheSerialArithmetic) {
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    const float increments[] = {7.0f / 48000.0f, 0.1f * static_cast<float>(1.0 / 8000),
                                20.0f * static_cast<float>(1.0 / 8000), -3.0f / 44100.0f};
    std::vector<float> phases(65536);
    for (float increment : increments) {
      const float last = kernels::phaseSteps(increment, 0.0f, phases.data(),
                                             static_cast<unsigned int>(phases.size()));
      float expected = 0.0f;
      for (std::size_t i = 0; i < phases.size(); ++i) {
        ASSERT_EQ(bitsOf(phases[i]), bitsOf(expected))
            << target << " " << increment << " step " << i;
        expected = serialStep(increment, expected);
      }
      ASSERT_EQ(bitsOf(last), bitsOf(expected)) << target << " " << increment;
    }
    for (unsigned int count = 0; count < 70; ++count) {
      std::vector<float> values(phases.begin(), phases.begin() + count);
      kernels::scaleAndOffset(values.data(), count, -1.37f, 0.61f);
      for (unsigned int i = 0; i < count; ++i) {
        const float product = phases[i] * -1.37f;
        ASSERT_EQ(bitsOf(values[i]), bitsOf(product + 0.61f)) << target << " " << count;
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
}

}  // namespace
