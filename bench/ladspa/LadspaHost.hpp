#pragma once

// A minimal in-process LADSPA host for timing plugins: it loads a library,
// finds a plugin by label, sets its controls, runs it on stereo blocks and
// nothing else. No part of the effects library is used, so our plugins and
// the peers go through exactly the same calls.

#include <ladspa.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::ladspabench {

// The value a host should start a control port at, read from its range hint
// the way ladspa.h lays the hints down: the named default (bounds, the three
// points between them, linear or on a log scale, or 0, 1, 100, 440), bounds
// scaled by the rate for LADSPA_HINT_SAMPLE_RATE, whole numbers for
// LADSPA_HINT_INTEGER. A port without a default starts at 0, held inside
// whatever bounds it has.
float defaultValue(const LADSPA_PortRangeHint& hint, unsigned long sampleRate);

// The bounds of a control port at `sampleRate`; a missing bound is infinite.
std::pair<float, float> portBounds(const LADSPA_PortRangeHint& hint, unsigned long sampleRate);

// The input control port `key` names: an index, or a port name compared
// without case, with '_' for ' ' and with or without its unit ("Delay [ms]"
// answers to "delay", "delayMs (ms)" to "delayms"). Throws
// std::invalid_argument for no match, several matches or a port that is not
// an input control.
unsigned long findControl(const LADSPA_Descriptor& descriptor, std::string_view key);

// One plugin to time, as given on the command line:
//   LIBRARY LABEL [port=value ...] [@display-name]
struct PluginRequest {
  std::string library;
  std::string label;
  std::vector<std::pair<std::string, std::string>> settings;
  // What the reports call it; the label when not given.
  std::string name;
};

// Splits the positional arguments into plugin requests; a word without '=' or a
// leading '@' after a label starts the next plugin. Throws std::invalid_argument.
std::vector<PluginRequest> parseRequests(const std::vector<std::string>& words);

// The library file `name` stands for: itself when it holds a '/', else the
// first match in $LADSPA_PATH, /usr/local/lib/ladspa and /usr/lib/ladspa.
std::string resolveLibrary(const std::string& name);

// How a plugin's audio ports were fitted to two channels.
enum class Layout {
  Stereo,       // two or more inputs: the first two take left and right
  DualMono,     // one input, one output: one instance per channel
  MonoToStereo  // one input, two or more outputs: the left channel in
};
const char* layoutName(Layout layout) noexcept;

// A plugin loaded and instantiated for stereo blocks of up to `maxFrames`.
class Plugin {
 public:
  Plugin(const PluginRequest& request, unsigned long sampleRate, unsigned long maxFrames);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Processes `frames` frames of the two channels. The audio ports are
  // connected anew for every block, as a host following a callback's buffers does.
  void run(const float* const in[2], float* const out[2], unsigned long frames);
  // Back to the state after instantiation: deactivate and activate (or a new
  // instance where the plugin has no activate()), so every round does the same work.
  void restart();

  const PluginRequest& request() const noexcept { return request_; }
  const LADSPA_Descriptor& descriptor() const noexcept { return *descriptor_; }
  Layout layout() const noexcept { return layout_; }
  // Every input control's name and the value it runs at, in port order.
  std::vector<std::pair<std::string, float>> controls() const;

 private:
  void instantiate();
  void release() noexcept;

  PluginRequest request_;
  unsigned long rate_;
  std::shared_ptr<void> library_;
  const LADSPA_Descriptor* descriptor_ = nullptr;
  Layout layout_ = Layout::Stereo;
  std::vector<unsigned long> audioIn_, audioOut_;
  std::vector<LADSPA_Handle> instances_;
  // One value per port (audio ports' slots unused); output controls get a
  // slot per instance so that two instances never write the same float.
  std::vector<LADSPA_Data> controls_;
  std::vector<std::vector<LADSPA_Data>> outputControls_;
  // Silence for inputs beyond the two channels, and a sink for outputs beyond them.
  std::vector<LADSPA_Data> silence_, sink_;
  bool active_ = false;
};

// The fixed test signal: white noise at -12 dBFS and a sine at -6 dBFS
// (440 Hz left, 660 Hz right), from a fixed seed.
struct StereoSignal {
  std::vector<float> left, right;
};
StereoSignal makeSignal(unsigned long sampleRate, std::size_t frames);

}  // namespace quorvel::ladspabench
