#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "../perf/ReferenceModels.hpp"
#include "quorvel/audio/LFO.hpp"

namespace {

using quorvel::audio::LFO;

// The oscillator's arithmetic written out step by step, for comparison.
struct ReferenceOscillator {
  float frequency = 10.0f, amplitude = 1.0f, offset = 0.0f, phaseOffset = 0.0f;
  float phase = 0.0f;
  int sampleRate = 0;
  float inverse = 0.0f;

  float process(int rate) {
    if (rate != sampleRate) {
      sampleRate = rate;
      inverse = static_cast<float>(1.0 / rate);
    }
    const double wide =
        static_cast<double>(phaseOffset) + static_cast<double>(phase) * 6.283185307179586;
    const float angle = static_cast<float>(wide);
    const float product = reference::referenceSine(angle) * amplitude;
    const float value = product + offset;
    const float step = frequency * inverse;
    float next = step + phase;
    if (next >= 1.0f) next = next - 1.0f;
    phase = next;
    return value;
  }
};

float sineAt(double cycles) {
  return reference::referenceSine(static_cast<float>(cycles * 6.283185307179586));
}

TEST(LFO, StartsAtItsDefaults) {
  LFO lfo;
  EXPECT_EQ(lfo.getFrequency(), 10.0f);
  EXPECT_EQ(lfo.getAmplitude(), 1.0f);
  EXPECT_EQ(lfo.getOffset(), 0.0f);
  EXPECT_EQ(lfo.getPhaseOffset(), 0.0f);
  for (int rate : {11, 44100, 48000, 192000}) {
    LFO fresh;
    EXPECT_EQ(fresh.process(rate), 0.0f);
    EXPECT_EQ(fresh.getPhase(), 10.0f * static_cast<float>(1.0 / rate)) << rate;
  }
}

TEST(LFO, QuarterStepsVisitTheFourCardinalPhases) {
  LFO lfo;
  lfo.setFrequency(1.0f);
  EXPECT_EQ(lfo.process(4), sineAt(0.0));
  EXPECT_EQ(lfo.process(4), sineAt(0.25));
  EXPECT_EQ(lfo.process(4), sineAt(0.5));
  EXPECT_EQ(lfo.process(4), sineAt(0.75));
  EXPECT_EQ(lfo.getPhase(), 0.0f);  // 0.75 + 0.25 reached 1 and folded
  EXPECT_EQ(lfo.process(4), sineAt(0.0));
}

TEST(LFO, StepsOfOneOrMoreFoldOnlyOnce) {
  LFO whole;
  whole.setFrequency(4.0f);
  const float first = whole.process(4);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(whole.getPhase(), 0.0f);
    EXPECT_EQ(whole.process(4), first);
  }
  LFO oneAndAHalf;
  oneAndAHalf.setFrequency(6.0f);
  for (float expected : {0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 2.5f}) {
    EXPECT_EQ(oneAndAHalf.getPhase(), expected);
    oneAndAHalf.process(4);
  }
}

TEST(LFO, ZeroSampleRateHoldsThePhase) {
  LFO fresh;
  fresh.setPhaseOffset(0.5f);
  fresh.setAmplitude(2.0f);
  fresh.setOffset(0.25f);
  const float expected = sinf(0.5f) * 2.0f + 0.25f;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fresh.process(0), expected);
  EXPECT_EQ(fresh.getPhase(), 0.0f);

  // After a positive rate, 0 or a negative rate must not make the step
  // infinite or negative: the phase holds and the output stays finite.
  LFO running;
  running.process(48000);
  running.process(48000);
  const float held = running.getPhase();
  for (int rate : {0, -1, -48000}) {
    EXPECT_TRUE(std::isfinite(running.process(rate)));
    EXPECT_EQ(running.getPhase(), held);
  }
  running.process(48000);
  EXPECT_GT(running.getPhase(), held);
}

TEST(LFO, ChangingTheSampleRateKeepsThePhase) {
  LFO lfo;
  lfo.setFrequency(1.0f);
  lfo.process(4);
  EXPECT_EQ(lfo.getPhase(), 0.25f);
  lfo.process(8);  // the step changes, the phase does not jump
  EXPECT_EQ(lfo.getPhase(), 0.375f);
}

TEST(LFO, HalfAmplitudeAndOffsetSweepBetweenZeroAndOne) {
  LFO lfo;
  lfo.setAmplitude(0.5f);
  lfo.setOffset(0.5f);
  lfo.setFrequency(3.7f);
  float low = 1.0f, high = 0.0f;
  for (int i = 0; i < 48000; ++i) {
    const float v = lfo.process(48000);
    low = std::min(low, v);
    high = std::max(high, v);
  }
  EXPECT_GE(low, 0.0f);
  EXPECT_LE(high, 1.0f);
  EXPECT_LT(low, 0.001f);
  EXPECT_GT(high, 0.999f);
}

TEST(LFO, MatchesTheStepByStepArithmeticBitForBit) {
  LFO lfo;
  ReferenceOscillator reference;
  const float settings[][4] = {{0.2f, 0.5f, 0.5f, 1.5707963705062866f},
                               {4.0f, 0.5f, 0.5f, 0.0f},
                               {1234.5f, 0.75f, -0.1f, 3.0f},
                               {-0.3f, 1.0f, 0.0f, 0.0f}};
  const int rates[] = {48000, 44100, 96000, 8000};
  for (int s = 0; s < 4; ++s) {
    lfo.setFrequency(reference.frequency = settings[s][0]);
    lfo.setAmplitude(reference.amplitude = settings[s][1]);
    lfo.setOffset(reference.offset = settings[s][2]);
    lfo.setPhaseOffset(reference.phaseOffset = settings[s][3]);
    for (int i = 0; i < 20000; ++i) {
      const float expected = reference.process(rates[s]);
      const float actual = lfo.process(rates[s]);
      ASSERT_EQ(actual, expected) << "setting " << s << " call " << i;
      ASSERT_EQ(lfo.getPhase(), reference.phase);
    }
  }
}

TEST(LFO, NonFiniteFrequencyResetsThePhaseAndRecovers) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float bad : {nan, inf, -inf, 3.0e38f}) {
    LFO lfo;
    lfo.process(1);
    lfo.setFrequency(bad);
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(std::isfinite(lfo.process(1)));
      EXPECT_TRUE(std::isfinite(lfo.getPhase()));
    }
    lfo.setFrequency(0.25f);
    lfo.process(1);
    lfo.process(1);
    EXPECT_TRUE(std::isfinite(lfo.getPhase()));
    EXPECT_LT(std::fabs(lfo.getPhase()), 2.0f);
  }
}

}  // namespace
