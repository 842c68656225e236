#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "quorvel/audio/Export.hpp"
#include "quorvel/audio/Parameter.hpp"

namespace quorvel::audio {

// Samples in every delay line of every effect, whatever the sample rate:
// one second at 48 kHz.
inline constexpr int kDelayLineLength = 48000;

// Most channels an effect keeps state for: a delay line of 187.5 KiB each.
inline constexpr unsigned int kMaximumChannels = 256;

// What a host or a user sees of an effect type.
struct EffectInfo {
  // Type name, e.g. "PingPongDelay".
  std::string_view name;
  // Human-readable name, e.g. "Ping Pong Delay".
  std::string_view displayName;
  // One sentence for users.
  std::string_view description;
  // The fewest and the most channels the effect takes: 2 and 2 for an
  // effect that is stereo by nature.
  unsigned int minimumChannels;
  unsigned int maximumChannels;
  // The effect's parameter table, read without making an effect.
  ParameterTable (*parameters)() noexcept;
};

// The control side of an effect: its parameters, readable and settable from
// any thread, and the facts a client needs to drive it. Everything here is
// safe to call while the audio thread processes.
class QUORVEL_DSP_API EffectControls {
 public:
  virtual ~EffectControls();

  // Name, display name and description of the effect type.
  virtual const EffectInfo& info() const noexcept = 0;
  // The effect's parameter table.
  virtual ParameterTable parameters() const noexcept = 0;

  // The value of parameter `key`, or nothing when the effect has no such parameter.
  std::optional<double> get(std::string_view key) const noexcept;
  // Stores `value` in parameter `key` (converted to its type, not clamped);
  // false when the effect has no such parameter.
  bool set(std::string_view key, double value) noexcept;

  // True while the effect copies its input through unchanged: switched off,
  // or for the echoes a delay of 0 ms. A bypassed effect has no latency and
  // no tail, and changes none of its state.
  virtual bool isBypassed() const noexcept = 0;
  // Samples by which the effect delays its signal at the current settings
  // and `sampleRate` Hz, for a host to compensate: the centre of the sweep
  // for an effect without dry signal, 0 for the others and while bypassed.
  virtual double latencySamples(unsigned int sampleRate) const noexcept;
  // Samples after the end of the input until the output has decayed below
  // `level` (linear, relative to the input's peak; e.g. 0.001 for -60 dB) at
  // the current settings and `sampleRate` Hz; infinity when it never does.
  virtual double tailSamples(unsigned int sampleRate, double level) const noexcept = 0;
  // The largest value of parameter `key` that fits the effect's delay line
  // at `sampleRate` Hz: the parameter's maximum when the rate does not bound it.
  std::optional<double> maximumAt(std::string_view key, unsigned int sampleRate) const noexcept;

 protected:
  EffectControls() = default;
  EffectControls(const EffectControls&) = default;
  EffectControls& operator=(const EffectControls&) = default;
};

// An effect processor: the whole per-sample arithmetic of one effect, with
// no host type in its interface. prepare(), reset() and process() belong to
// one thread at a time (the audio thread); parameters may change from any
// thread.
class QUORVEL_DSP_API Effect : public EffectControls {
 public:
  // The number of channels the effect keeps state for.
  virtual unsigned int getNumChannels() const noexcept = 0;

  // The format of the blocks that follow: `sampleRate` in Hz and the block's
  // channel count (which may exceed getNumChannels()). A change of format is
  // acted on in the next block the effect runs in, as the effect defines
  // (clearing its delay lines, or for the ping-pong delay re-deriving its
  // ring length); the same format again changes nothing.
  virtual void prepare(unsigned int sampleRate, unsigned int channels) noexcept = 0;
  // Back to the state of a new effect (silent lines, rewound positions and
  // phases); parameters and the prepared format are kept.
  virtual void reset() noexcept = 0;
  // Processes `frames` frames of `channels` channels from in[c] into out[c].
  // in[c] may equal out[c] (in place); other overlaps are not allowed.
  // Channels beyond getNumChannels() are copied through unchanged, and so is
  // everything while the effect is bypassed. Allocates, locks and throws nothing.
  virtual void process(const float* const* in, float* const* out, unsigned int channels,
                       unsigned int frames) noexcept = 0;

 protected:
  Effect() = default;
};

// The effect types, in the order the host factory registers them: Delay,
// PingPongDelay, Vibrato, Flanger, Chorus.
QUORVEL_DSP_API std::vector<const EffectInfo*> effectTypes();
// A new effect of type `name` (as EffectInfo::name, any case) with state for
// `channels` channels (the ping-pong delay is always stereo); nullptr for an
// unknown name.
QUORVEL_DSP_API std::unique_ptr<Effect> makeEffect(std::string_view name, unsigned int channels);
// The effect type called `name` (as EffectInfo::name, any case), or nullptr.
QUORVEL_DSP_API const EffectInfo* findEffectType(std::string_view name) noexcept;

}  // namespace quorvel::audio
