// libFuzzer entry point for one effect node type, chosen at build time with
// QUORVEL_FUZZ_NODE_TYPE (a fully qualified type name such as
// "AudioEffects.Delay"), so that each type gets its own corpus and time budget.
#include <cstddef>
#include <cstdint>

#include "NodeFuzzHarness.hpp"

#ifndef QUORVEL_FUZZ_NODE_TYPE
#error "define QUORVEL_FUZZ_NODE_TYPE to the fully qualified node type name"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz::runNodeFuzzInput(QUORVEL_FUZZ_NODE_TYPE, data, size);
}
