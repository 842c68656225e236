#pragma once

#include <cmath>

namespace quorvel::extensions::audioeffects {

// The value a delay line stores for `sample`: the sample itself when finite,
// otherwise silence. A NaN or infinity stored in a feedback line would
// circulate for ever and silence the node; stored as 0 it leaves no trace
// once finite input resumes. Finite samples pass through bit for bit.
inline float lineSample(float sample) noexcept { return std::isfinite(sample) ? sample : 0.0f; }

}  // namespace quorvel::extensions::audioeffects
