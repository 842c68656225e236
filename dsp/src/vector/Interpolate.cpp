// The block form of the delay line's interpolated read.
#include <cstddef>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/Interpolate.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "InterpolatedRead.hpp"
#include "vector/InterpolateLanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace quorvel::audio::HWY_NAMESPACE {

// `out` may be `positions`: each group is read before it is written.
void interpolateLineKernel(const float* HWY_RESTRICT samples, int size, const float* positions,
                           float* out, std::size_t count) {
  const ReadFloats df;
  const std::size_t n = hn::Lanes(df);
  std::size_t k = 0;
  for (; k + n <= count; k += n) {
    hn::Vec<ReadFloats> y;
    if (InterpolateLanes<ReadFloats>(samples, size, hn::LoadU(df, positions + k), y)) {
      hn::StoreU(y, df, out + k);
    } else {
      for (std::size_t lane = k; lane < k + n; ++lane) {
        out[lane] = detail::interpolateAt(samples, size, positions[lane]);
      }
    }
  }
  for (; k < count; ++k) out[k] = detail::interpolateAt(samples, size, positions[k]);
}

}  // namespace quorvel::audio::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/Interpolate.hpp"

namespace quorvel::audio::kernels {

HWY_EXPORT(interpolateLineKernel);

void interpolateLine(const float* samples, int size, const float* positions, float* out,
                     std::size_t count) noexcept {
  HWY_DYNAMIC_DISPATCH(interpolateLineKernel)(samples, size, positions, out, count);
}

}  // namespace quorvel::audio::kernels
#endif  // HWY_ONCE
