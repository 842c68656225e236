#include "quorvel/audio/Chorus.hpp"

#include "SweptParameters.hpp"

namespace quorvel::audio {

namespace {

// The fixed part of the delay, in samples at every rate: long enough (about
// 21 ms at 48 kHz) that the copy is heard as a second voice, not as comb
// filtering.
constexpr float kFixedDelay = 1002.0f;

double widthLimit(unsigned int sampleRate) noexcept {
  return SweptDelay::maxSweepWidth(kFixedDelay, sampleRate);
}

const std::array<Parameter, 3> kParameters =
    detail::sweptParameters("Enable or disable the chorus effect.", 0.025, 0.2, &widthLimit);

ParameterTable table() noexcept { return {kParameters.data(), kParameters.size()}; }

// A swept effect is heard on one or two channels, as a host node takes them.
const EffectInfo kInfo{"Chorus", "Chorus", "Applies a chorus effect to the input audio signal.",
                       1,        2,        &table};

const SweptDelay::Design kDesign{&kInfo,
                                 &table,
                                 kFixedDelay,
                                 /*writeBeforeRead=*/false,
                                 /*sharedOscillator=*/false,
                                 /*dryInOutput=*/true,
                                 /*mix=*/0.8f,
                                 /*feedsBack=*/false,
                                 /*feedback=*/0.0f,
                                 /*frequency=*/0.2f,
                                 /*sweepWidth=*/0.025f};

}  // namespace

Chorus::Chorus(unsigned int channels) : SweptDelay(kDesign, channels) {}

const SweptDelay::Design& Chorus::designOf() noexcept { return kDesign; }

}  // namespace quorvel::audio
