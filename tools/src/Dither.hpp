#pragma once

#include <cstddef>
#include <cstdint>

// Float samples to integer PCM: rounding to the output's step, with TPDF dither.
namespace quorvelfx {

// How float samples become integers for PCM output: rounded to the nearest
// step, with TPDF dither (on by default) for outputs narrower than float.
struct Quantisation {
  static constexpr std::uint64_t kDefaultSeed = 1;

  bool dither = true;
  // Seeds the dither's random sequence, so the same run gives the same file.
  std::uint64_t seed = kDefaultSeed;
};

// Rounds float samples in [-1, 1] to `bits`-bit steps, left-justified in 32-bit
// integers (what libsndfile's int writers take). Dither is applied below 32 bits
// when asked for; one quantiser carries its random sequence across calls, so a
// file quantised in blocks of any size gets the same integers.
class PcmQuantiser {
 public:
  // `bits` is 8 to 32.
  PcmQuantiser(int bits, const Quantisation& quantisation);

  // Quantises `count` samples of `samples` into `integers`; returns how many
  // were beyond [-1, 1] (clipped). A NaN becomes 0.
  std::uint64_t quantise(const float* samples, int* integers, std::size_t count) noexcept;

  // One TPDF dither offset, in steps, in [-1, 1): the sum of two uniform values
  // in [-0.5, 0.5) drawn from splitmix64 `state` (advanced twice).
  static double ditherOffset(std::uint64_t& state) noexcept;

 private:
  int bits_;
  bool dither_;
  std::uint64_t random_;
};

}  // namespace quorvelfx
