#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/audio/CircularBuffer.hpp"
#include "quorvel/audio/VectorTargets.hpp"

namespace {

using quorvel::audio::CircularBuffer;

constexpr int kN = 48000;

// The remainder a position must fold to, computed without the ring.
int mathematicalMod(long long position, int size) {
  long long r = position % size;
  return static_cast<int>(r < 0 ? r + size : r);
}

TEST(CircularBuffer, NewRingIsSilentWithBothPointersAtZero) {
  CircularBuffer ring(kN);
  EXPECT_EQ(ring.getSize(), kN);
  EXPECT_EQ(ring.getReadPointer(), 0);
  EXPECT_EQ(ring.getWritePointer(), 0);
  EXPECT_EQ(ring.getFillLevel(), 0);
  for (int i = 0; i < kN; ++i) ASSERT_EQ(ring.readSample(i), 0.0f) << i;
}

TEST(CircularBuffer, RefusesSizesOutsideTheStorableRange) {
  EXPECT_THROW(CircularBuffer(0), std::invalid_argument);
  EXPECT_THROW(CircularBuffer(-5), std::invalid_argument);
  EXPECT_THROW(CircularBuffer(CircularBuffer::kMaxSize + 1), std::invalid_argument);
  CircularBuffer one(1);
  one.writeSample(0.5f);
  EXPECT_EQ(one.interpolate(0.25f), 0.5f);  // both neighbours are the one sample
}

TEST(CircularBuffer, PositionsFoldByTheWrapRule) {
  CircularBuffer ring(kN);
  ring.setReadPointer(-1);
  EXPECT_EQ(ring.getReadPointer(), kN - 1);
  ring.setReadPointer(-kN);
  EXPECT_EQ(ring.getReadPointer(), 0);
  ring.setReadPointer(kN);
  EXPECT_EQ(ring.getReadPointer(), 0);
  ring.setReadPointer(2 * kN + 3);
  EXPECT_EQ(ring.getReadPointer(), 3);
  ring.setWritePointer(kN - 1);
  ring.stepWritePointer(1);
  EXPECT_EQ(ring.getWritePointer(), 0);
}

TEST(CircularBuffer, PositionsFarOutsideTheRingStillFoldInside) {
  CircularBuffer ring(kN);
  for (int position : {INT_MIN, INT_MIN + 1, -kN - 1, -3 * kN + 7, INT_MAX, INT_MAX - kN + 1}) {
    ring.setReadPointer(position);
    EXPECT_EQ(ring.getReadPointer(), mathematicalMod(position, kN)) << position;
    ring.setWritePointer(position);
    EXPECT_EQ(ring.getWritePointer(), mathematicalMod(position, kN)) << position;
  }
  // Steps that would overflow a plain sum.
  ring.setReadPointer(kN - 1);
  ring.stepReadPointer(INT_MAX);
  EXPECT_EQ(ring.getReadPointer(), mathematicalMod(kN - 1LL + INT_MAX, kN));
  ring.stepReadPointer(INT_MIN);
  EXPECT_EQ(ring.getReadPointer(), mathematicalMod(kN - 1LL + INT_MAX + INT_MIN, kN));
}

TEST(CircularBuffer, WritesStayUntilTheWritePointerMoves) {
  CircularBuffer ring(8);
  ring.writeSample(1.0f);
  ring.writeSample(2.0f);
  EXPECT_EQ(ring.readSample(0), 2.0f);
  ring.stepWritePointer(1);
  ring.writeSample(3.0f);
  ring.setWritePointer(7);
  ring.writeSample(9.0f);
  EXPECT_EQ(ring.readSample(1), 3.0f);
  EXPECT_EQ(ring.readSample(8), 2.0f);   // one past the end is the first sample
  EXPECT_EQ(ring.readSample(-1), 9.0f);  // one before the start is the last
  ring.setReadPointer(1);
  EXPECT_EQ(ring.readSample(), 3.0f);
}

TEST(CircularBuffer, InterpolatesLinearlyWithWrapAround) {
  CircularBuffer ring(kN);
  ring.setWritePointer(2);
  ring.writeSample(1.0f);
  ring.setWritePointer(3);
  ring.writeSample(3.0f);
  EXPECT_EQ(ring.interpolate(2.25f), 1.5f);
  EXPECT_EQ(ring.interpolate(3.0f), 3.0f);

  ring.setWritePointer(0);
  ring.writeSample(4.0f);
  ring.setWritePointer(kN - 1);
  ring.writeSample(2.0f);
  EXPECT_EQ(ring.interpolate(kN - 0.5f), 3.0f);
  EXPECT_EQ(ring.interpolate(-0.5f), 3.0f);
  // Just below 0 the float fraction rounds to exactly 1: the first sample alone.
  EXPECT_EQ(ring.interpolate(-1e-9f), 4.0f);
}

TEST(CircularBuffer, InterpolationWeightsMixDoubleAndFloatAsSpecified) {
  // Values for which an all-float or an all-double evaluation rounds
  // differently from the weight of `current` in double and that of `next` in
  // float, summed in double.
  CircularBuffer ring(16);
  ring.setWritePointer(2);
  ring.writeSample(0x1.006b7p-1f);
  ring.stepWritePointer(1);
  ring.writeSample(-0x1.23e404p-2f);
  const float result = ring.interpolate(0x1.55a23ap+1f);
  EXPECT_EQ(result, -0x1.989252p-6f);
  EXPECT_NE(result, -0x1.98925p-6f);   // all in float
  EXPECT_NE(result, -0x1.98924ap-6f);  // all in double
}

TEST(CircularBuffer, OutOfRangeAndNonFinitePositionsReadInsideTheRing) {
  CircularBuffer ring(kN);
  for (int i = 0; i < kN; ++i) {
    ring.setWritePointer(i);
    ring.writeSample(static_cast<float>(i));
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float position : {nan, inf, -inf}) EXPECT_EQ(ring.interpolate(position), 0.0f);
  // Integral positions beyond int range read the sample their remainder names.
  EXPECT_EQ(ring.interpolate(1e10f), static_cast<float>(mathematicalMod(10000000000LL, kN)));
  EXPECT_EQ(ring.interpolate(-1e10f), static_cast<float>(mathematicalMod(-10000000000LL, kN)));
  const float top = ring.interpolate(std::numeric_limits<float>::max());
  EXPECT_GE(top, 0.0f);
  EXPECT_LT(top, static_cast<float>(kN));
  EXPECT_EQ(ring.interpolate(-2.5f * kN), static_cast<float>(kN / 2));
  EXPECT_EQ(ring.interpolate(-2.5f * kN + 0.5f), kN / 2 + 0.5f);
}

// Positions of every kind, shuffled so that a vector of them mixes the
// kinds: inside the ring, at its edges, just outside, far outside, non-finite.
std::vector<float> mixedPositions(int size, std::mt19937& rng) {
  const float length = static_cast<float>(size);
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> edges = {0.0f,
                              -0.0f,
                              1e-30f,
                              -1e-30f,
                              -1e-9f,
                              std::nextafter(length, 0.0f),
                              length,
                              std::nextafter(length, inf),
                              length - 0.5f,
                              length - 1.0f,
                              -0.5f,
                              -length,
                              -length - 0.25f,
                              2.5f * length,
                              1e10f,
                              -1e10f,
                              std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::quiet_NaN(),
                              inf,
                              -inf};
  std::vector<float> positions;
  std::uniform_real_distribution<float> inside(0.0f, length);
  for (int i = 0; i < 2000; ++i) {
    positions.push_back(rng() % 4 == 0 ? edges[rng() % edges.size()] : inside(rng));
  }
  // Long runs inside the ring, so whole vectors take the fast paths: scattered
  // reads, and reads that move by about a sample per frame as a sweep's do,
  // up to the end of the ring, standing still and running backwards.
  for (int i = 0; i < 500; ++i) positions.push_back(inside(rng));
  const double start = size - 300.25;
  for (int k = 0; k < 600; ++k) {
    const double swept = std::fmod(start + k * 1.01 + 0.7 * std::sin(k * 0.1), size);
    positions.push_back(static_cast<float>(swept < 0.0 ? swept + size : swept));
  }
  for (int k = 0; k < 40; ++k) positions.push_back(0.5f * length);
  for (int k = 0; k < 40; ++k) positions.push_back(0.5f * length - 0.75f * static_cast<float>(k));
  return positions;
}

std::uint32_t bitsOf(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

TEST(CircularBuffer, BlockReadMatchesTheSingleReadOnEveryInstructionSet) {
  std::mt19937 rng(11);
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    SCOPED_TRACE(target);
    for (int size : {1, 7, 48000}) {
      CircularBuffer ring(size);
      std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
      for (int i = 0; i < size; ++i) {
        ring.setWritePointer(i);
        ring.writeSample(sample(rng));
      }
      const std::vector<float> positions = mixedPositions(size, rng);
      // Every count up to a few vectors, then the whole list: the tails too.
      for (std::size_t count = 0; count <= positions.size(); count += count < 70 ? 1 : 977) {
        std::vector<float> out(count + 1, 12345.0f);
        ring.interpolate(positions.data(), out.data(), count);
        for (std::size_t k = 0; k < count; ++k) {
          ASSERT_EQ(bitsOf(out[k]), bitsOf(ring.interpolate(positions[k])))
              << "size " << size << " position " << positions[k] << " count " << count;
        }
        ASSERT_EQ(out[count], 12345.0f) << "wrote past the block";
      }
      // In place: the positions become the samples.
      std::vector<float> inPlace = positions;
      ring.interpolate(inPlace.data(), inPlace.data(), inPlace.size());
      for (std::size_t k = 0; k < positions.size(); ++k) {
        ASSERT_EQ(bitsOf(inPlace[k]), bitsOf(ring.interpolate(positions[k]))) << positions[k];
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
}

TEST(CircularBuffer, FillLevelAndReset) {
  CircularBuffer ring(10);
  ring.setReadPointer(5);
  ring.setWritePointer(2);
  EXPECT_EQ(ring.getFillLevel(), 7);
  ring.setReadPointer(2);
  ring.setWritePointer(9);
  EXPECT_EQ(ring.getFillLevel(), 7);
  ring.writeSample(1.0f);
  ring.reset();
  EXPECT_EQ(ring.getReadPointer(), 0);
  EXPECT_EQ(ring.getWritePointer(), 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(ring.readSample(i), 0.0f);
}

TEST(CircularBuffer, MovingTransfersTheSamples) {
  CircularBuffer source(4);
  source.setWritePointer(3);
  source.writeSample(7.0f);
  CircularBuffer moved(std::move(source));
  EXPECT_EQ(moved.getSize(), 4);
  EXPECT_EQ(moved.getWritePointer(), 3);
  EXPECT_EQ(moved.readSample(3), 7.0f);
}

}  // namespace
