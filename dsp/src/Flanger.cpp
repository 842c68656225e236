#include "quorvel/audio/Flanger.hpp"

#include "SweptParameters.hpp"

namespace quorvel::audio {

namespace {

// The fixed part of the delay, in samples: the sweep starts just behind the
// input, where the comb notches are widest apart. The feedback of 0.6 is
// below 1, so every recirculation decays.
constexpr float kFixedDelay = 2.0f;

double widthLimit(unsigned int sampleRate) noexcept {
  return SweptDelay::maxSweepWidth(kFixedDelay, sampleRate);
}

const std::array<Parameter, 3> kParameters =
    detail::sweptParameters("Enable or disable the flanger effect.", 0.005, 0.4, &widthLimit);

ParameterTable table() noexcept { return {kParameters.data(), kParameters.size()}; }

// A swept effect is heard on one or two channels, as a host node takes them.
const EffectInfo kInfo{"Flanger", "Flanger", "Applies a flanger effect to the input audio signal.",
                       1,         2,         &table};

const SweptDelay::Design kDesign{&kInfo,
                                 &table,
                                 kFixedDelay,
                                 /*writeBeforeRead=*/false,
                                 /*sharedOscillator=*/false,
                                 /*dryInOutput=*/true,
                                 /*mix=*/0.8f,
                                 /*feedsBack=*/true,
                                 /*feedback=*/0.6f,
                                 /*frequency=*/0.4f,
                                 /*sweepWidth=*/0.005f};

}  // namespace

Flanger::Flanger(unsigned int channels) : SweptDelay(kDesign, channels) {}

const SweptDelay::Design& Flanger::designOf() noexcept { return kDesign; }

}  // namespace quorvel::audio
