#include "quorvel/audio/Vibrato.hpp"

#include "SweptParameters.hpp"

namespace quorvel::audio {

namespace {

// The fixed part of the delay, in samples: since each sample is written
// before the read, this keeps the read off the sample just written, so the
// shallowest point of the sweep is the previous input sample.
constexpr float kFixedDelay = 1.0f;

double widthLimit(unsigned int sampleRate) noexcept {
  return SweptDelay::maxSweepWidth(kFixedDelay, sampleRate);
}

const std::array<Parameter, 3> kParameters =
    detail::sweptParameters("Enable or disable the vibrato effect.", 0.01, 4.0, &widthLimit);

ParameterTable table() noexcept { return {kParameters.data(), kParameters.size()}; }

// A swept effect is heard on one or two channels, as a host node takes them.
const EffectInfo kInfo{"Vibrato", "Vibrato", "Applies a vibrato effect to the input audio signal.",
                       1,         2,         &table};

const SweptDelay::Design kDesign{&kInfo,
                                 &table,
                                 kFixedDelay,
                                 /*writeBeforeRead=*/true,
                                 /*sharedOscillator=*/true,
                                 /*dryInOutput=*/false,
                                 /*mix=*/0.0f,
                                 /*feedsBack=*/false,
                                 /*feedback=*/0.0f,
                                 /*frequency=*/4.0f,
                                 /*sweepWidth=*/0.01f};

}  // namespace

Vibrato::Vibrato(unsigned int channels) : SweptDelay(kDesign, channels) {}

const SweptDelay::Design& Vibrato::designOf() noexcept { return kDesign; }

}  // namespace quorvel::audio
