#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/audio/Effect.hpp"

namespace quorvel::plugins {

// The names one plugin is published under. Hosts keep them in saved
// sessions, so a released row is never edited, reordered or reused; a new
// plugin is a new row with names and an ID no row has had.
struct PublishedNames {
  // The effect type, as audio::EffectInfo::name.
  std::string_view effect;
  unsigned int channels;
  std::string_view slug;
  std::string_view uri;
  std::string_view label;
  unsigned long ladspaId;
};

// One row per plugin, in the order variants() lists them.
const std::vector<PublishedNames>& publishedNames();

// One plugin: an effect type at a channel count, with the names both formats publish.
struct Variant {
  const audio::EffectInfo* info;
  audio::ParameterTable parameters;
  unsigned int channels;
  // "ping-pong-delay", "delay-mono": file names and URI path.
  std::string slug;
  std::string uri;
  // LADSPA label, a C identifier: "quorvel_delay_mono".
  std::string label;
  unsigned long ladspaId;
  // What hosts list: "Quorvel Delay (mono)".
  std::string name;
  // True when the effect delays its signal (a latency output port follows the controls).
  bool reportsLatency;

  // Port indices, the same in both formats: audio inputs, audio outputs,
  // one control per parameter in table order, then the latency output.
  std::uint32_t audioInput(unsigned int channel) const { return channel; }
  std::uint32_t audioOutput(unsigned int channel) const { return channels + channel; }
  std::uint32_t control(std::size_t parameter) const {
    return 2 * channels + static_cast<std::uint32_t>(parameter);
  }
  std::uint32_t latencyPort() const { return control(parameters.size()); }
  std::uint32_t portCount() const { return latencyPort() + (reportsLatency ? 1 : 0); }
};

// Every plugin, one per row of publishedNames(): each effect type in stereo,
// then in mono where the effect has a mono form.
const std::vector<Variant>& variants();

// Base URI of every plugin; a variant's URI is this plus its slug.
inline constexpr const char* kUriBase = "https://quorvel.example/plugins/";

// What a control port's raw value means for `parameter`: NaN gives the
// default, anything else is held to [minimum, upper] (upper being the
// maximum at the instance's rate), whole numbers rounded, switches on above 0.
double controlValue(const audio::Parameter& parameter, float raw, double upper) noexcept;

// One running plugin: the effect, the ports the host connected and the
// control values last pushed into the effect. All memory is taken here;
// run() allocates, locks and throws nothing.
class Instance {
 public:
  // nullptr for a rate the effects do not take (rules::checkedRate): a host
  // is told by a failed instantiation, the one answer the formats allow.
  static std::unique_ptr<Instance> create(const Variant& variant, double sampleRate);

  void connect(std::uint32_t port, void* data) noexcept;
  // Back to silence, as a new instance (settings kept).
  void activate() noexcept;
  // Reads the controls, pushes changed ones into the effect, processes `frames` frames.
  void run(std::uint32_t frames) noexcept;

 private:
  Instance(const Variant& variant, unsigned int sampleRate);
  void pushControls() noexcept;

  const Variant& variant_;
  unsigned int rate_;
  std::unique_ptr<audio::Effect> effect_;
  std::vector<const float*> inputs_;
  std::vector<float*> outputs_;
  std::vector<const float*> controls_;
  // The value last stored per parameter (NaN before the first run) and its upper bound at this
  // rate.
  std::vector<double> applied_;
  std::vector<double> upper_;
  float* latency_ = nullptr;
};

}  // namespace quorvel::plugins
