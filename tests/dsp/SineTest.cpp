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

#include "FloatBits.hpp"
#include "OscillatorStep.hpp"
#include "quorvel/audio/LFO.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "vector/Sine.hpp"

namespace {

using quorvel::audio::LFO;
using quorvel::audio::LFOAccess;
using quorvel::audio::detail::referenceSine;
using quorvel::audio::detail::sineBlock;

using quorvel::audio::testing::bitsOf;
using quorvel::audio::testing::floatOf;

// The C library's sinf (compared with on glibc only), through a volatile so
// that the compiler cannot fold a constant argument into its own (correctly
// rounded) sine.
[[maybe_unused]] float librarySine(float x) {
  const volatile float angle = x;
  return std::sin(static_cast<float>(angle));
}

// Where glibc's own builds disagree: without fused multiply-add its sinf
// rounds x - n pi/2 twice, and at these angles (and their negatives, with the
// signs of the bits flipped) the float comes out one unit apart from the
// build with it. The reference is the fused remainder, the one the split
// reduction gives; a CPU without FMA runs the other build, whose bits are
// listed so that the comparisons accept exactly those. Found by running
// every float against both builds (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA
// selects the other one); they agree everywhere else.
struct LibraryBuildDifference {
  float angle;
  std::uint32_t reference, unfused;
};
constexpr LibraryBuildDifference kUnfusedLibrary[] = {
    {0x1.ab6152p+5f, 0xBC7D08A9, 0xBC7D08A8}, {0x1.46b80ep+6f, 0xBADAA3B4, 0xBADAA3B5},
    {0x1.46ba88p+6f, 0x3A44B889, 0x3A44B888}, {0x1.52e6cp+6f, 0x3DC7B08A, 0x3DC7B089},
    {0x1.9eb0a8p+6f, 0x382EE64E, 0x382EE64F}, {0x1.d0f4aap+6f, 0xB5D2257C, 0xB5D2257B},
};

// Whether `got` for `angle` is the reference where the library differs from
// it by a listed build difference: the library's value must be the other
// build's, exactly.
bool isListedBuildDifference(float angle, float got, float library) {
  const std::uint32_t sign = bitsOf(angle) & 0x80000000u;
  for (const LibraryBuildDifference& listed : kUnfusedLibrary) {
    if (std::fabs(angle) != listed.angle) continue;
    return bitsOf(got) == (listed.reference ^ sign) && bitsOf(library) == (listed.unfused ^ sign);
  }
  return false;
}

// The same bits, with any NaN equal to any other (the C library's NaN for an
// infinite angle has the platform's sign).
[[maybe_unused]] bool sameSine(float a, float b) {
  return bitsOf(a) == bitsOf(b) || (std::isnan(a) && std::isnan(b));
}

// QUORVEL_SINE_STRIDE=k tests every k-th float only (an odd k still meets
// every exponent and every low mantissa pattern): the cross build sets it,
// where the sweeps run under an emulator.
std::uint64_t sweepStride() {
  const char* text = std::getenv("QUORVEL_SINE_STRIDE");
  return text ? std::max(1ull, std::strtoull(text, nullptr, 10)) : 1;
}

// The kernel must be in use here, or every comparison below is std::sin
// against itself.
void expectVectorPath() {
#ifdef __GLIBC__
  ASSERT_TRUE(quorvel::audio::detail::vectorSineInUse());
#endif
}

// Every float from +0 to 120 (every oscillator angle, [0, 7.9], the rest of
// the kernel's domain and the hand-over to the scalar reference above it, 3% more
// values), under every instruction set:
// the library's bits, each one (or a listed build difference). The library's
// values are computed once per block and shared by the targets.
TEST(SineExhaustive, EveryFloatOfTheDomainUnderEveryTarget) {
  expectVectorPath();
  const std::vector<std::string> targets = quorvel::audio::vectorTargets();
  const std::uint64_t stride = sweepStride();
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
        if (bitsOf(got[i]) == bitsOf(expected[i]) ||
            isListedBuildDifference(in[i], got[i], expected[i]))
          continue;
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

#ifdef __GLIBC__
// The scalar reference against the library for every float of magnitude up
// to 120, both signs: the tiny angles, the unreduced ones below 0.75, and the
// fast reduction, where the library's quadrant rounding is not symmetric in
// the sign. A few seconds: one pass, no targets.
TEST(SineExhaustive, ReferenceEqualsTheLibraryUpTo120) {
  const std::uint64_t stride = sweepStride();
  std::uint64_t values = 0, wrong = 0;
  for (const std::uint32_t sign : {0u, 0x80000000u}) {
    for (std::uint64_t bits = 0; bits <= bitsOf(120.0f); bits += stride, ++values) {
      const float angle = floatOf(static_cast<std::uint32_t>(bits) | sign);
      const float got = referenceSine(angle), library = librarySine(angle);
      if (bitsOf(got) == bitsOf(library) || isListedBuildDifference(angle, got, library)) continue;
      if (wrong++ < 5) ADD_FAILURE() << "sin(" << angle << ") = " << got << ", library " << library;
    }
  }
  std::printf("%llu values, %llu differ\n", static_cast<unsigned long long>(values),
              static_cast<unsigned long long>(wrong));
  EXPECT_EQ(wrong, 0u);
}
#endif

// Every 4099th bit pattern of all 2^32 (both signs, every exponent, NaNs
// with payloads) and the infinities: the reference's bits hash to a constant
// that does not depend on the C library, so that the arm64 and WebAssembly
// builds prove the same bits; under glibc each value is the library's (or a
// listed build difference, checked in both signs), and the block sine gives
// the reference's bits under every target, large and negative lanes mixed
// with covered ones.
TEST(Sine, ReferenceOverTheWholeFloatRange) {
  constexpr std::uint64_t kReferenceHash = 0xB1FBB7D869DAC14EULL;
  std::vector<float> angles;
  for (std::uint64_t bits = 0; bits < (1ull << 32); bits += 4099)
    angles.push_back(floatOf(static_cast<std::uint32_t>(bits)));
  for (const LibraryBuildDifference& listed : kUnfusedLibrary) {
    angles.push_back(listed.angle);
    angles.push_back(-listed.angle);
  }
  const float inf = std::numeric_limits<float>::infinity();
  angles.insert(angles.end(), {inf, -inf, std::numeric_limits<float>::quiet_NaN()});
  std::vector<float> reference(angles.size());
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (std::size_t i = 0; i < angles.size(); ++i) {
    reference[i] = referenceSine(angles[i]);
    for (int byte = 0; byte < 4; ++byte) {
      hash ^= (bitsOf(reference[i]) >> (8 * byte)) & 0xFF;
      hash *= 0x100000001B3ULL;
    }
  }
  EXPECT_EQ(hash, kReferenceHash) << std::hex << hash;
  for (const LibraryBuildDifference& listed : kUnfusedLibrary) {
    EXPECT_EQ(bitsOf(referenceSine(listed.angle)), listed.reference) << listed.angle;
    EXPECT_EQ(bitsOf(referenceSine(-listed.angle)), listed.reference ^ 0x80000000u);
  }
  EXPECT_TRUE(std::isnan(referenceSine(inf)) && std::isnan(referenceSine(-inf)));
#ifdef __GLIBC__
  for (std::size_t i = 0; i < angles.size(); ++i) {
    const float library = librarySine(angles[i]);
    EXPECT_TRUE(sameSine(reference[i], library) ||
                isListedBuildDifference(angles[i], reference[i], library))
        << "sin(" << angles[i] << ") = " << reference[i] << ", library " << library;
  }
#endif
  std::vector<float> block(angles.size());
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    sineBlock(angles.data(), block.data(), angles.size());
    EXPECT_EQ(std::memcmp(block.data(), reference.data(), angles.size() * sizeof(float)), 0)
        << target;
  }
  quorvel::audio::forceVectorTarget("");
}

// Angles the kernel does not cover take the scalar reference, lane by lane,
// also beside covered ones in the same vector, in a short tail and in place.
TEST(Sine, AnglesOutsideTheDomainTakeTheScalarReference) {
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
        const std::uint32_t expected = bitsOf(referenceSine(angles[i]));
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
