#include "LadspaHost.hpp"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace quorvel::ladspabench {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Lower case, '_' read as ' ', so that a port name can be typed without quotes.
std::string normalised(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// "Delay [ms]" -> "Delay", "delayMs (ms)" -> "delayMs": the unit in the name's last brackets.
std::string_view withoutUnit(std::string_view name) {
  if (name.empty()) return name;
  const char close = name.back();
  if (close != ']' && close != ')') return name;
  const std::size_t open = name.rfind(close == ']' ? '[' : '(');
  if (open == std::string_view::npos || open == 0) return name;
  std::string_view head = name.substr(0, open);
  while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
  return head;
}

bool isInputControl(LADSPA_PortDescriptor kind) {
  return LADSPA_IS_PORT_INPUT(kind) && LADSPA_IS_PORT_CONTROL(kind);
}

bool isFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

float parseValue(const std::string& port, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
    throw std::invalid_argument("'" + port + "=" + text + "': the value is not a finite number");
  }
  return v;
}

}  // namespace

std::pair<float, float> portBounds(const LADSPA_PortRangeHint& hint, unsigned long sampleRate) {
  const LADSPA_PortRangeHintDescriptor d = hint.HintDescriptor;
  const float scale = LADSPA_IS_HINT_SAMPLE_RATE(d) ? static_cast<float>(sampleRate) : 1.0f;
  const float inf = std::numeric_limits<float>::infinity();
  return {LADSPA_IS_HINT_BOUNDED_BELOW(d) ? hint.LowerBound * scale : -inf,
          LADSPA_IS_HINT_BOUNDED_ABOVE(d) ? hint.UpperBound * scale : inf};
}

float defaultValue(const LADSPA_PortRangeHint& hint, unsigned long sampleRate) {
  const LADSPA_PortRangeHintDescriptor d = hint.HintDescriptor;
  const auto [lo, hi] = portBounds(hint, sampleRate);
  // The three points between the bounds: linear, or geometric for a log port
  // with both bounds above zero (ladspa.h's formulas).
  const bool logScale = LADSPA_IS_HINT_LOGARITHMIC(d) && lo > 0.0f && hi > 0.0f;
  const auto between = [&, lo = lo, hi = hi](double weightOfLow) {
    if (logScale) {
      return static_cast<float>(
          std::exp(std::log(lo) * weightOfLow + std::log(hi) * (1.0 - weightOfLow)));
    }
    return static_cast<float>(lo * weightOfLow + hi * (1.0 - weightOfLow));
  };
  float v = 0.0f;
  bool named = true;
  switch (d & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_MINIMUM: v = lo; break;
    case LADSPA_HINT_DEFAULT_MAXIMUM: v = hi; break;
    case LADSPA_HINT_DEFAULT_LOW: v = between(0.75); break;
    case LADSPA_HINT_DEFAULT_MIDDLE: v = between(0.5); break;
    case LADSPA_HINT_DEFAULT_HIGH: v = between(0.25); break;
    case LADSPA_HINT_DEFAULT_0: v = 0.0f; break;
    case LADSPA_HINT_DEFAULT_1: v = 1.0f; break;
    case LADSPA_HINT_DEFAULT_100: v = 100.0f; break;
    case LADSPA_HINT_DEFAULT_440: v = 440.0f; break;
    default: named = false; break;
  }
  // A bound named as the default of an unbounded side would be infinite.
  if (!named || !std::isfinite(v)) v = std::clamp(0.0f, lo, hi);
  if (LADSPA_IS_HINT_TOGGLED(d)) return v > 0.0f ? 1.0f : 0.0f;
  if (LADSPA_IS_HINT_INTEGER(d)) v = std::round(v);
  return v;
}

unsigned long findControl(const LADSPA_Descriptor& descriptor, std::string_view key) {
  const auto checked = [&](unsigned long port) {
    if (!isInputControl(descriptor.PortDescriptors[port])) {
      throw std::invalid_argument("port " + std::to_string(port) + " (\"" +
                                  descriptor.PortNames[port] + "\") of " + descriptor.Label +
                                  " is not an input control");
    }
    return port;
  };
  if (!key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    const unsigned long port = std::strtoul(std::string(key).c_str(), nullptr, 10);
    if (port >= descriptor.PortCount) {
      throw std::invalid_argument("port " + std::string(key) +
                                  " out of range: " + descriptor.Label + " has " +
                                  std::to_string(descriptor.PortCount) + " ports");
    }
    return checked(port);
  }
  // An exact name wins over the looser forms, so that "Delay [ms]" is always
  // reachable even beside a "Delay" port.
  for (unsigned long p = 0; p < descriptor.PortCount; ++p) {
    if (descriptor.PortNames[p] == key) return checked(p);
  }
  const std::string wanted = normalised(key);
  std::vector<unsigned long> matches;
  for (unsigned long p = 0; p < descriptor.PortCount; ++p) {
    const std::string_view name = descriptor.PortNames[p];
    if (normalised(name) == wanted || normalised(withoutUnit(name)) == wanted) {
      matches.push_back(p);
    }
  }
  std::ostringstream names;
  for (unsigned long p = 0; p < descriptor.PortCount; ++p) {
    if (isInputControl(descriptor.PortDescriptors[p])) {
      names << " \"" << descriptor.PortNames[p] << "\"";
    }
  }
  if (matches.empty()) {
    throw std::invalid_argument("no port \"" + std::string(key) + "\" in " + descriptor.Label +
                                "; its controls are" + names.str());
  }
  if (matches.size() > 1) {
    throw std::invalid_argument("\"" + std::string(key) + "\" names several ports of " +
                                descriptor.Label + "; give the full name or the index");
  }
  return checked(matches.front());
}

std::vector<PluginRequest> parseRequests(const std::vector<std::string>& words) {
  std::vector<PluginRequest> requests;
  // Whether the last plugin still waits for its label.
  bool wantLabel = false;
  for (const std::string& word : words) {
    const bool setting = word.find('=') != std::string::npos;
    const bool name = !word.empty() && word.front() == '@';
    if (wantLabel) {
      if (setting || name || word.empty()) {
        throw std::invalid_argument("'" + word + "': expected the label of a plugin in " +
                                    requests.back().library);
      }
      requests.back().label = requests.back().name = word;
      wantLabel = false;
    } else if (name) {
      if (requests.empty() || word.size() == 1) {
        throw std::invalid_argument("'" + word + "': a name follows a plugin's label");
      }
      requests.back().name = word.substr(1);
    } else if (setting) {
      const std::size_t eq = word.find('=');
      if (requests.empty() || eq == 0) {
        throw std::invalid_argument("'" + word + "': a port setting follows a plugin's label");
      }
      requests.back().settings.emplace_back(word.substr(0, eq), word.substr(eq + 1));
    } else {
      requests.push_back(PluginRequest{word, "", {}, ""});
      wantLabel = true;
    }
  }
  if (wantLabel) throw std::invalid_argument(requests.back().library + ": no label given");
  if (requests.empty()) throw std::invalid_argument("no plugin given");
  return requests;
}

std::string resolveLibrary(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("LADSPA_PATH")) {
    std::istringstream list(path);
    for (std::string dir; std::getline(list, dir, ':');) {
      if (!dir.empty()) dirs.push_back(dir);
    }
  }
  dirs.insert(dirs.end(), {"/usr/local/lib/ladspa", "/usr/lib/ladspa"});
  for (const std::string& dir : dirs) {
    const std::string candidate = dir + "/" + name;
    if (isFile(candidate)) return candidate;
  }
  throw std::invalid_argument(name + ": not found in $LADSPA_PATH, /usr/local/lib/ladspa or " +
                              "/usr/lib/ladspa");
}

const char* layoutName(Layout layout) noexcept {
  switch (layout) {
    case Layout::Stereo: return "stereo";
    case Layout::DualMono: return "2 × mono";
    case Layout::MonoToStereo: return "mono → stereo";
  }
  return "?";
}

Plugin::Plugin(const PluginRequest& request, unsigned long sampleRate, unsigned long maxFrames)
    : request_(request), rate_(sampleRate), silence_(maxFrames, 0.0f), sink_(maxFrames, 0.0f) {
  const std::string path = resolveLibrary(request.library);
  // RTLD_LOCAL: two libraries may well export the same helper names.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(path + ": " + ::dlerror());
  library_.reset(handle, [](void* h) { ::dlclose(h); });
  const auto entry =
      reinterpret_cast<LADSPA_Descriptor_Function>(::dlsym(handle, "ladspa_descriptor"));
  if (entry == nullptr) throw std::runtime_error(path + ": no ladspa_descriptor");
  for (unsigned long i = 0; const LADSPA_Descriptor* d = entry(i); ++i) {
    if (request.label == d->Label) {
      descriptor_ = d;
      break;
    }
  }
  if (descriptor_ == nullptr)
    throw std::runtime_error(path + ": no plugin labelled " + request.label);

  const LADSPA_Descriptor& d = *descriptor_;
  controls_.assign(d.PortCount, 0.0f);
  for (unsigned long p = 0; p < d.PortCount; ++p) {
    const LADSPA_PortDescriptor kind = d.PortDescriptors[p];
    if (LADSPA_IS_PORT_AUDIO(kind)) {
      (LADSPA_IS_PORT_INPUT(kind) ? audioIn_ : audioOut_).push_back(p);
    } else if (isInputControl(kind)) {
      controls_[p] = defaultValue(d.PortRangeHints[p], rate_);
    }
  }
  if (audioIn_.empty() || audioOut_.empty()) {
    throw std::runtime_error(request.label + ": needs audio inputs and outputs to be timed");
  }
  layout_ = audioIn_.size() >= 2    ? Layout::Stereo
            : audioOut_.size() == 1 ? Layout::DualMono
                                    : Layout::MonoToStereo;
  for (const auto& [key, text] : request.settings) {
    const unsigned long port = findControl(d, key);
    controls_[port] = parseValue(key, text);
    // Timed as given, but said: a plugin may clamp it and so run other work than asked.
    const auto [lo, hi] = portBounds(d.PortRangeHints[port], rate_);
    if (controls_[port] < lo || controls_[port] > hi) {
      std::fprintf(stderr, "quorvel-ladspa-bench: %s: \"%s\"=%g is outside %g..%g\n",
                   request.label.c_str(), d.PortNames[port], controls_[port], lo, hi);
    }
  }
  instantiate();
}

Plugin::~Plugin() { release(); }

void Plugin::instantiate() {
  const LADSPA_Descriptor& d = *descriptor_;
  const std::size_t count = layout_ == Layout::DualMono ? 2 : 1;
  outputControls_.assign(count, std::vector<LADSPA_Data>(d.PortCount, 0.0f));
  for (std::size_t i = 0; i < count; ++i) {
    LADSPA_Handle h = d.instantiate(&d, rate_);
    if (h == nullptr) {
      release();
      throw std::runtime_error(request_.label + ": instantiate failed at " + std::to_string(rate_) +
                               " Hz");
    }
    instances_.push_back(h);
    for (unsigned long p = 0; p < d.PortCount; ++p) {
      const LADSPA_PortDescriptor kind = d.PortDescriptors[p];
      if (LADSPA_IS_PORT_AUDIO(kind)) {
        // Connected for real before every run; some plugins touch their
        // buffers in activate(), so they must point somewhere now.
        d.connect_port(h, p, LADSPA_IS_PORT_INPUT(kind) ? silence_.data() : sink_.data());
      } else {
        d.connect_port(h, p, isInputControl(kind) ? &controls_[p] : &outputControls_[i][p]);
      }
    }
    if (d.activate != nullptr) d.activate(h);
  }
  active_ = true;
}

void Plugin::release() noexcept {
  const LADSPA_Descriptor& d = *descriptor_;
  for (LADSPA_Handle h : instances_) {
    if (active_ && d.deactivate != nullptr) d.deactivate(h);
    d.cleanup(h);
  }
  instances_.clear();
  active_ = false;
}

void Plugin::restart() {
  const LADSPA_Descriptor& d = *descriptor_;
  if (d.activate == nullptr) {
    release();
    instantiate();
    return;
  }
  for (LADSPA_Handle h : instances_) {
    if (d.deactivate != nullptr) d.deactivate(h);
    d.activate(h);
  }
}

void Plugin::run(const float* const in[2], float* const out[2], unsigned long frames) {
  const LADSPA_Descriptor& d = *descriptor_;
  // LADSPA's buffers are not const, though inputs are only read.
  const auto input = [&](std::size_t c) { return const_cast<LADSPA_Data*>(in[c]); };
  if (layout_ == Layout::DualMono) {
    for (std::size_t c = 0; c < 2; ++c) {
      d.connect_port(instances_[c], audioIn_[0], input(c));
      d.connect_port(instances_[c], audioOut_[0], out[c]);
      d.run(instances_[c], frames);
    }
    return;
  }
  LADSPA_Handle h = instances_.front();
  for (std::size_t i = 0; i < audioIn_.size(); ++i) {
    d.connect_port(h, audioIn_[i], i < 2 ? input(i) : silence_.data());
  }
  for (std::size_t i = 0; i < audioOut_.size(); ++i) {
    d.connect_port(h, audioOut_[i], i < 2 ? out[i] : sink_.data());
  }
  d.run(h, frames);
  // A mono-to-stereo plugin's left output is all a one-output plugin would give.
  if (audioOut_.size() == 1) std::copy(out[0], out[0] + frames, out[1]);
}

std::vector<std::pair<std::string, float>> Plugin::controls() const {
  std::vector<std::pair<std::string, float>> out;
  for (unsigned long p = 0; p < descriptor_->PortCount; ++p) {
    if (isInputControl(descriptor_->PortDescriptors[p])) {
      out.emplace_back(descriptor_->PortNames[p], controls_[p]);
    }
  }
  return out;
}

StereoSignal makeSignal(unsigned long sampleRate, std::size_t frames) {
  StereoSignal s{std::vector<float>(frames), std::vector<float>(frames)};
  std::uint32_t state = 0x9e3779b9u;
  const auto noise = [&] {
    // xorshift32: the same sequence on every machine.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  };
  const double step = 2.0 * kPi / static_cast<double>(sampleRate);
  for (std::size_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(f);
    s.left[f] = static_cast<float>(0.25 * noise() + 0.5 * std::sin(step * 440.0 * t));
    s.right[f] = static_cast<float>(0.25 * noise() + 0.5 * std::sin(step * 660.0 * t));
  }
  return s;
}

}  // namespace quorvel::ladspabench
