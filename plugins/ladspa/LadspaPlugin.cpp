// The LADSPA face of the plugins: one descriptor per variant, each instance
// an adapter Instance. LADSPA has no units, so a port's name carries its unit.
#include <ladspa.h>

#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "PluginAdapter.hpp"

namespace {

using quorvel::audio::Parameter;
using quorvel::audio::ParameterType;
using quorvel::plugins::Instance;
using quorvel::plugins::Variant;

// The arrays one descriptor points into.
struct Ports {
  std::vector<LADSPA_PortDescriptor> kinds;
  std::vector<std::string> names;
  std::vector<const char*> namePointers;
  std::vector<LADSPA_PortRangeHint> hints;
};

// The default hint nearest the table's default: LADSPA can name only the
// bounds, three points between them, and 0, 1, 100 and 440.
LADSPA_PortRangeHintDescriptor defaultHint(const Parameter& p) {
  const double lo = p.minimum, hi = p.maximum;
  const std::pair<LADSPA_PortRangeHintDescriptor, double> choices[] = {
      {LADSPA_HINT_DEFAULT_MINIMUM, lo},
      {LADSPA_HINT_DEFAULT_MAXIMUM, hi},
      {LADSPA_HINT_DEFAULT_MIDDLE, lo * 0.5 + hi * 0.5},
      {LADSPA_HINT_DEFAULT_LOW, lo * 0.75 + hi * 0.25},
      {LADSPA_HINT_DEFAULT_HIGH, lo * 0.25 + hi * 0.75},
      {LADSPA_HINT_DEFAULT_0, 0.0},
      {LADSPA_HINT_DEFAULT_1, 1.0},
      {LADSPA_HINT_DEFAULT_100, 100.0},
      {LADSPA_HINT_DEFAULT_440, 440.0}};
  LADSPA_PortRangeHintDescriptor best = LADSPA_HINT_DEFAULT_MINIMUM;
  double distance = INFINITY;
  for (const auto& [hint, value] : choices) {
    if (value < lo || value > hi) continue;
    if (std::fabs(value - p.defaultValue) < distance) {
      distance = std::fabs(value - p.defaultValue);
      best = hint;
    }
  }
  return best;
}

Ports makePorts(const Variant& v) {
  Ports ports;
  const auto add = [&](LADSPA_PortDescriptor kind, std::string name, LADSPA_PortRangeHint hint) {
    ports.kinds.push_back(kind);
    ports.names.push_back(std::move(name));
    ports.hints.push_back(hint);
  };
  const char* side[] = {"left", "right"};
  for (unsigned int c = 0; c < v.channels; ++c) {
    add(LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,
        v.channels == 1 ? "in" : std::string("in ") + side[c], {0, 0, 0});
  }
  for (unsigned int c = 0; c < v.channels; ++c) {
    add(LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
        v.channels == 1 ? "out" : std::string("out ") + side[c], {0, 0, 0});
  }
  for (const Parameter& p : v.parameters) {
    std::string name(p.key);
    if (!p.unit.empty()) name += " (" + std::string(p.unit) + ")";
    LADSPA_PortRangeHint hint{};
    if (p.type == ParameterType::Boolean) {
      hint.HintDescriptor = LADSPA_HINT_TOGGLED |
                            (p.defaultValue > 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0);
    } else {
      hint.HintDescriptor = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE | defaultHint(p);
      if (p.type == ParameterType::Integer) hint.HintDescriptor |= LADSPA_HINT_INTEGER;
      hint.LowerBound = static_cast<LADSPA_Data>(p.minimum);
      hint.UpperBound = static_cast<LADSPA_Data>(p.maximum);
    }
    add(LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, name, hint);
  }
  if (v.reportsLatency) {
    add(LADSPA_PORT_OUTPUT | LADSPA_PORT_CONTROL, "latency", {0, 0, 0});
  }
  for (const std::string& name : ports.names) ports.namePointers.push_back(name.c_str());
  return ports;
}

LADSPA_Handle instantiate(const LADSPA_Descriptor* descriptor, unsigned long rate) {
  try {
    const auto* variant = static_cast<const Variant*>(descriptor->ImplementationData);
    return Instance::create(*variant, static_cast<double>(rate)).release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void connectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* data) {
  static_cast<Instance*>(handle)->connect(static_cast<std::uint32_t>(port), data);
}

void activate(LADSPA_Handle handle) { static_cast<Instance*>(handle)->activate(); }

void run(LADSPA_Handle handle, unsigned long frames) {
  static_cast<Instance*>(handle)->run(static_cast<std::uint32_t>(frames));
}

void cleanup(LADSPA_Handle handle) { delete static_cast<Instance*>(handle); }

// The descriptors and the arrays they point into, built once.
struct Library {
  std::vector<Ports> ports;
  std::vector<LADSPA_Descriptor> descriptors;

  Library() {
    const auto& all = quorvel::plugins::variants();
    ports.reserve(all.size());
    for (const Variant& v : all) ports.push_back(makePorts(v));
    for (std::size_t i = 0; i < all.size(); ++i) {
      const Variant& v = all[i];
      LADSPA_Descriptor d{};
      d.UniqueID = v.ladspaId;
      d.Label = v.label.c_str();
      d.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
      d.Name = v.name.c_str();
      d.Maker = "Quorvel AudioEffects";
      d.Copyright = "None";
      d.PortCount = v.portCount();
      d.PortDescriptors = ports[i].kinds.data();
      d.PortNames = ports[i].namePointers.data();
      d.PortRangeHints = ports[i].hints.data();
      d.ImplementationData = const_cast<Variant*>(&v);
      d.instantiate = instantiate;
      d.connect_port = connectPort;
      d.activate = activate;
      d.run = run;
      d.cleanup = cleanup;
      descriptors.push_back(d);
    }
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
  try {
    static const Library library;
    return index < library.descriptors.size() ? &library.descriptors[index] : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
