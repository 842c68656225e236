#pragma once

#include <string>
#include <vector>

#include "quorvel/audio/Export.hpp"

// The instruction sets the core's vector kernels run on. Every kernel is
// built for several (SSSE3, SSE4, AVX2 and AVX-512 on x86-64; NEON and SVE on
// arm64; a portable baseline everywhere) and picks the best the CPU has when
// first used. Every set gives the same bits.
namespace quorvel::audio {

// The sets this build holds and this CPU runs, best first, e.g. "AVX3", "AVX2", "SCALAR".
QUORVEL_DSP_API std::vector<std::string> vectorTargets();
// The set the kernels run on now.
QUORVEL_DSP_API std::string activeVectorTarget();
// Makes the kernels run on `name`, one of vectorTargets(), or on the best set
// again for an empty name; false (and no change) for any other name. For
// tests and benchmarks: not while audio is being processed.
QUORVEL_DSP_API bool forceVectorTarget(const std::string& name);

}  // namespace quorvel::audio
