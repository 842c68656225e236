#include "quorvel/audio/LFO.hpp"

#include "OscillatorStep.hpp"

namespace quorvel::audio {

float LFO::process(int rate) noexcept { return step(rate); }

}  // namespace quorvel::audio
