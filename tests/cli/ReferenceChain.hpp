#pragma once

#include <quorvel/QVAny.hpp>
#include <string>
#include <utility>
#include <vector>

#include "SoundFiles.hpp"

// One effect as the tests set it up directly on the library.
struct ReferenceEffect {
  std::string subtype;  // e.g. "Delay"
  std::vector<std::pair<std::string, quorvel::QVAny>> settings;
};

// The effect nodes driven directly, without the tool: created through the
// extension's factory, configured by their setters (the ping-pong delay by
// its host properties) and run over the whole signal in a single block.
class ReferenceChain {
 public:
  // `sound` followed by `tailFrames` silent frames, through `effects` in order.
  static std::vector<float> process(const Sound& sound, const std::vector<ReferenceEffect>& effects,
                                    std::size_t tailFrames);
};
