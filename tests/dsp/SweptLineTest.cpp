#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EffectSupport.hpp"
#include "InterpolatedRead.hpp"
#include "quorvel/audio/VectorTargets.hpp"
#include "vector/SweepLoops.hpp"

namespace {

namespace kernels = quorvel::audio::kernels;
namespace detail = quorvel::audio::detail;

// The line kernel against the frame-by-frame loop it stands for, on every
// instruction set: every mode, fixed delays that put the shallowest reads
// right behind the writes, sweeps steep enough to spread a vector's reads
// past one window, chunks of any length and writes that cross the ring's
// end. The whole ring, the write index and every output must have the same bits.
TEST(SweptLine, KernelEqualsTheFrameLoopOnEveryTarget) {
  constexpr int kSize = 4096;
  const float length = static_cast<float>(kSize);
  const kernels::SweptLineGains gains{0.0f, 0.8f, 0.6f};
  for (const std::string& target : quorvel::audio::vectorTargets()) {
    ASSERT_TRUE(quorvel::audio::forceVectorTarget(target));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (unsigned int mode = 0; mode < 8; ++mode) {
      if ((mode & kernels::kSweepWriteFirst) && (mode & kernels::kSweepFeedback)) continue;
      for (const float fixed : {0.0f, 1.0f, 2.0f, 5.5f}) {
        std::vector<float> kernelRing(kSize), loopRing;
        for (float& s : kernelRing) s = unit(rng);
        loopRing = kernelRing;
        int kernelWrite = kSize - 300 + static_cast<int>(rng() % 200);
        int loopWrite = kernelWrite;
        for (int chunk = 0; chunk < 40; ++chunk) {
          const unsigned int count = 1 + rng() % 256;
          const float base = static_cast<float>(rng() % 40);
          const float slope = unit(rng) * (chunk % 3 == 0 ? 2.5f : 0.3f);
          std::vector<float> in(count), kernelOut(count), loopOut(count), d(count);
          for (float& x : in) x = unit(rng);
          for (unsigned int f = 0; f < count; ++f) {
            d[f] = std::fabs(base + slope * static_cast<float>(f) + 0.37f * unit(rng));
          }
          ASSERT_TRUE(kernels::sweptDelays(d.data(), count, 1.0f, 1.0f,
                                           kernels::sweptLineLimit(kSize, fixed, count)));
          kernels::SweptLineGains g = gains;
          g.fixedDelay = fixed;
          kernels::sweptLine(kernelRing.data(), kSize, kernelWrite, d.data(), g, in.data(),
                             kernelOut.data(), count, mode);
          for (unsigned int f = 0; f < count; ++f) {
            const float x = in[f];
            if (mode & kernels::kSweepWriteFirst) loopRing[loopWrite] = detail::lineSample(x);
            const float unreduced = ((static_cast<float>(loopWrite) - d[f]) - fixed) + length;
            const float at = unreduced < length ? unreduced : unreduced - length;
            const float y = detail::interpolateAt(loopRing.data(), kSize, at);
            if (!(mode & kernels::kSweepWriteFirst)) {
              loopRing[loopWrite] =
                  detail::lineSample(mode & kernels::kSweepFeedback ? x + gains.feedback * y : x);
            }
            if (++loopWrite == kSize) loopWrite = 0;
            loopOut[f] = detail::outputSample(mode & kernels::kSweepDry ? x + gains.mix * y : y);
          }
          const std::string where = target + " mode " + std::to_string(mode) + " fixed " +
                                    std::to_string(fixed) + " chunk " + std::to_string(chunk);
          ASSERT_EQ(kernelWrite, loopWrite) << where;
          ASSERT_EQ(std::memcmp(kernelOut.data(), loopOut.data(), count * sizeof(float)), 0)
              << where;
          ASSERT_EQ(std::memcmp(kernelRing.data(), loopRing.data(), kSize * sizeof(float)), 0)
              << where;
        }
      }
    }
  }
  quorvel::audio::forceVectorTarget("");
}

}  // namespace
