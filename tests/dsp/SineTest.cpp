#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "OscillatorStep.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "vector/Sine.hpp"

namespace {

using quorvel::audio::LFO;
using quorvel::audio::LFOAccess;
using quorvel::audio::detail::sineBlock;

std::uint32_t bitsOf(float x) {
  std::uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

float floatOf(std::uint32_t b) {
  float x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// The C library's sinf, through a volatile so that the compiler cannot fold
// a constant argument into its own (correctly rounded) sine.
float librarySine(float x) {
  const volatile float angle = x;
  return std::sin(static_cast<float>(angle));
}

// The kernel must be in use here, or every comparison below is std::sin
// against itself.
void expectVectorPath() {
#ifdef __GLIBC__
  ASSERT_TRUE(quorvel::audio::detail::vectorSineInUse());
#endif
}

// Every float from +0 to 120 (every oscillator angle, [0, 7.9], the rest of
// the kernel's domain and the hand-over to the library above it, only 3% more
// values), under every instruction set:
// the library's bits, each one. The reference is computed once per block and
// shared by the targets.
// QUORVEL_SINE_STRIDE=k tests every k-th float only (an odd k still meets
// every exponent and every low mantissa pattern): the cross build sets it,
// where the sweep runs under an emulator.
TEST(SineExhaustive, EveryFloatOfTheDomainUnderEveryTarget) {
  expectVectorPath();
  const std::vector<std::string> targets = quorvel::audio::vectorTargets();
  const char* strideText = std::getenv("QUORVEL_SINE_STRIDE");
  const std::uint64_t stride =
      strideText ? std::max(1ull, std::strtoull(strideText, nullptr, 10)) : 1;
  const std::uint32_t end = bitsOf(120.0f);
  const std::uint32_t values = static_cast<std::uint32_t>((end + stride - 1) / stride);
  constexpr std::uint32_t kBlock = 1u << 20;
  std::vector<float> in(kBlock), expected(kBlock), got(kBlock);
  std::vector<double> seconds(targets.size(), 0.0);
  std::vector<std::uint64_t> wrong(targets.size(), 0);
  using Clock = std::chrono::steady_clock;
  for (std::uint32_t first = 0; first < values; first += kBlock) {
    const std::uint32_t count = std::min(kBlock, values - first);
    for (std::uint32_t i = 0; i < count; ++i)
      in[i] = floatOf(static_cast<std::uint32_t>((first + i) * stride));
    for (std::uint32_t i = 0; i < count; ++i) expected[i] = std::sin(in[i]);
    for (std::size_t t = 0; t < targets.size(); ++t) {
      ASSERT_TRUE(quorvel::audio::forceVectorTarget(targets[t]));
      const auto start = Clock::now();
      sineBlock(in.data(), got.data(), count);
      seconds[t] += std::chrono::duration<double>(Clock::now() - start).count();
      if (std::memcmp(got.data(), expected.data(), count * sizeof(float)) == 0) continue;
      for (std::uint32_t i = 0; i < count; ++i) {
        if (bitsOf(got[i]) == bitsOf(expected[i])) continue;
        if (wrong[t]++ < 5) ADD_FAILURE() << targets[t] << " sin(" << in[i] << ") = " << got[i];
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
  for (std::size_t t = 0; t < targets.size(); ++t) {
    std::printf("%-7s %u values, %llu differ, %.2f s (%.2f ns per value)\n", targets[t].c_str(),
                values, static_cast<unsigned long long>(wrong[t]), seconds[t],
                seconds[t] * 1e9 / values);
    EXPECT_EQ(wrong[t], 0u) << targets[t];
  }
}

// Angles the kernel does not cover take the library call, lane by lane, also
// beside covered ones in the same vector, in a short tail and in place.
TEST(Sine, AnglesOutsideTheDomainTakeTheLibraryCall) {
  expectVectorPath();
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> angles = {-0.0f, 1.0f,  -1.0f, -0x1p-149f, 2.5f,   nan,
                                     -nan,  inf,   -inf,  3.0f,       120.0f, 0x1.dffffep+6f,
                                     1e5f,  1e30f, -7.5f, 0.5f,       5e-4f,  -3e38f,
                                     6.2f,  4.0f,  7.85f, 0x1p-12f,   -120.0f};
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    for (std::size_t count = 1; count <= angles.size(); ++count) {
      std::vector<float> out(count), inPlace(angles.begin(), angles.begin() + count);
      sineBlock(angles.data(), out.data(), count);
      sineBlock(inPlace.data(), inPlace.data(), count);
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t expected = bitsOf(librarySine(angles[i]));
        EXPECT_EQ(bitsOf(out[i]), expected) << target << " sin(" << angles[i] << ")";
        EXPECT_EQ(bitsOf(inPlace[i]), expected) << target << " in place, sin(" << angles[i] << ")";
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
}

// A chunk filled at once is the values, and the phase, of as many steps:
// random settings, rate changes, short and long chunks, and a non-finite
// frequency that resets the phase.
TEST(Sine, OscillatorChunkEqualsItsSteps) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float inf = std::numeric_limits<float>::infinity();
  const int rates[] = {48000, 44100, 11, 0, -3, 192000};
  const unsigned int counts[] = {1, 3, 8, 255, 256, 1000};
  for (int trial = 0; trial < 40; ++trial) {
    LFO chunked, stepped;
    const float shift =
        trial % 3 == 0 ? 0.0f : (trial % 3 == 1 ? 1.5707964f : unit(random) * -7.0f);
    const float amplitude = unit(random) * 4.0f - 2.0f;
    const float offset = unit(random) - 0.5f;
    for (LFO* lfo : {&chunked, &stepped}) {
      lfo->setAmplitude(amplitude);
      lfo->setOffset(offset);
      lfo->setPhaseOffset(shift);
    }
    std::vector<float> out(1000);
    for (int chunk = 0; chunk < 12; ++chunk) {
      float hz = unit(random) * 30.0f;
      if (chunk == 5) hz = trial % 2 ? inf : std::numeric_limits<float>::quiet_NaN();
      if (chunk == 7) hz = 60000.0f * unit(random) - 20000.0f;
      // Steps of about 2^60 cycles: the phase overflows the limit and resets.
      if (chunk == 9) hz = 5e22f;
      if (chunk == 10) hz = trial % 2 ? 1e15f : -1e15f;
      chunked.setFrequency(hz);
      stepped.setFrequency(hz);
      const int rate = rates[(trial + chunk / 4) % 6];
      const unsigned int count = counts[(trial + chunk) % 6];
      LFOAccess::fill(chunked, rate, out.data(), count);
      for (unsigned int i = 0; i < count; ++i) {
        const float expected = stepped.process(rate);
        ASSERT_EQ(bitsOf(out[i]), bitsOf(expected))
            << "trial " << trial << " chunk " << chunk << " value " << i;
      }
      ASSERT_EQ(bitsOf(chunked.getPhase()), bitsOf(stepped.getPhase()));
    }
  }
}

}  // namespace

// glibc's sinf over every 61st float of the kernel's domain [0, 32), hashed
// (FNV-1a 64 over the bits): where the C library is another (WebAssembly's),
// the kernel alone must give these bits; under glibc the library's own sinf
// pins the constant.
TEST(Sine, DomainHashesToTheReferenceSinfBits) {
  constexpr std::uint64_t kReferenceHash = 0x83EA3D4350233420ULL;
  constexpr std::uint32_t kStride = 61;
  const std::uint32_t end = bitsOf(32.0f);
  const auto hashOf = [&](auto sine) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    constexpr std::uint32_t kBlock = 1u << 16;
    std::vector<float> in(kBlock), out(kBlock);
    for (std::uint32_t first = 0; first < end; first += kBlock * kStride) {
      std::uint32_t count = 0;
      for (; count < kBlock && first + count * kStride < end; ++count)
        in[count] = floatOf(first + count * kStride);
      sine(in.data(), out.data(), count);
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t bits = bitsOf(out[i]);
        for (int byte = 0; byte < 4; ++byte) {
          hash ^= (bits >> (8 * byte)) & 0xFF;
          hash *= 0x100000001B3ULL;
        }
      }
    }
    return hash;
  };
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    EXPECT_EQ(hashOf([](const float* in, float* out, std::uint32_t n) { sineBlock(in, out, n); }),
              kReferenceHash)
        << target;
  }
  quorvel::audio::forceVectorTarget("");
#ifdef __GLIBC__
  const std::uint64_t library = hashOf([](const float* in, float* out, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) out[i] = librarySine(in[i]);
  });
  std::printf("glibc sinf domain hash: 0x%016llX\n", static_cast<unsigned long long>(library));
  EXPECT_EQ(library, kReferenceHash);
#endif
}
