#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <quorvel/audio/VectorTargets.hpp>

// QUORVEL_VECTOR_TARGET=NAME runs every kernel of a benchmark program on one
// of vectorTargets(); the run's context names the set the kernels ran on.
namespace bench {

inline const bool kVectorTargetApplied = [] {
  if (const char* name = std::getenv("QUORVEL_VECTOR_TARGET")) {
    if (!quorvel::audio::forceVectorTarget(name)) {
      std::fprintf(stderr, "QUORVEL_VECTOR_TARGET=%s is not one of this build's targets\n", name);
      std::exit(2);
    }
  }
  benchmark::AddCustomContext("vector_target", quorvel::audio::activeVectorTarget());
  return true;
}();

}  // namespace bench
