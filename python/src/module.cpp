// The Python binding of the DSP core: one wrapper class over any effect
// processor and a chain of them, on NumPy arrays shaped (channels, frames) or
// (frames,). The Python package builds the per-effect classes, their
// keyword arguments and properties from the parameter tables exposed here.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/audio/Parameter.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <quorvel/rules/Values.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;
namespace qa = quorvel::audio;
namespace rules = quorvel::rules;

namespace {

// Frames handed to the processors per call: keeps every stage of a chain
// working on cache-resident data.
constexpr std::size_t kBlockFrames = 8192;

// "delayMs" -> "delay_ms": the Python name of a parameter key.
std::string pythonName(std::string_view key) {
  std::string name;
  for (const char c : key) {
    if (std::isupper(static_cast<unsigned char>(c))) {
      name += '_';
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      name += c;
    }
  }
  return name;
}

const char* typeName(qa::ParameterType type) {
  switch (type) {
    case qa::ParameterType::Boolean: return "bool";
    case qa::ParameterType::Integer: return "int";
    case qa::ParameterType::Float: return "float";
  }
  return "float";
}

// A sample rate as the rules take it; TypeError for what is not a number.
unsigned int checkedRate(const py::handle& rate) {
  if (PyBool_Check(rate.ptr()) || !(PyIndex_Check(rate.ptr()) || PyFloat_Check(rate.ptr()))) {
    throw py::type_error("sample_rate must be an int (Hz); got " +
                         std::string(Py_TYPE(rate.ptr())->tp_name));
  }
  try {
    return rules::checkedRate(py::float_(py::reinterpret_borrow<py::object>(rate)).cast<double>());
  } catch (const rules::RuleError& refused) {
    throw py::value_error(refused.what());
  }
}

// The extra frames asked for: none, the library's tail, or `seconds`
// rounded to whole frames as quorvel-fx --tail does.
struct TailRequest {
  bool library = false;
  std::optional<double> seconds;
};

TailRequest tailRequest(bool tail, const py::object& tailSeconds) {
  TailRequest request;
  if (!tailSeconds.is_none()) {
    if (PyBool_Check(tailSeconds.ptr()) || !PyNumber_Check(tailSeconds.ptr())) {
      throw py::type_error("tail_seconds must be a number of seconds");
    }
    const double seconds = py::float_(tailSeconds).cast<double>();
    if (!std::isfinite(seconds) || seconds < 0) {
      throw py::value_error("tail_seconds must be a finite number >= 0; got " +
                            py::repr(tailSeconds).cast<std::string>());
    }
    request.seconds = seconds;
  } else {
    request.library = tail;
  }
  return request;
}

// An input array as the processors need it: a float32 or float64 view with
// its strides, read once while copying into the output.
struct Input {
  py::array array;
  bool mono = false;
  std::size_t channels = 0;
  std::size_t frames = 0;
  bool isDouble = false;
  const char* data = nullptr;
  py::ssize_t channelStride = 0;
  py::ssize_t frameStride = 0;
};

Input checkedInput(const py::handle& audio) {
  Input input;
  if (py::isinstance<py::array>(audio)) {
    input.array = py::reinterpret_borrow<py::array>(audio);
  } else {
    input.array = py::module_::import("numpy").attr("asarray")(audio);
  }
  const py::dtype dtype = input.array.dtype();
  const char kind = dtype.kind();
  if (kind != 'f') {
    throw py::type_error(
        "audio must hold float32 or float64 samples; got " +
        py::str(static_cast<py::handle>(dtype)).cast<std::string>() +
        (kind == 'i' || kind == 'u' ? " (scale integer PCM to [-1, 1] floats first)" : ""));
  }
  if (dtype.itemsize() != 4 && dtype.itemsize() != 8) {
    input.array = input.array.attr("astype")("float32");
  }
  input.isDouble = input.array.dtype().itemsize() == 8;
  const py::ssize_t ndim = input.array.ndim();
  if (ndim == 1) {
    input.mono = true;
    input.channels = 1;
    input.frames = static_cast<std::size_t>(input.array.shape(0));
    input.frameStride = input.array.strides(0);
  } else if (ndim == 2) {
    input.channels = static_cast<std::size_t>(input.array.shape(0));
    input.frames = static_cast<std::size_t>(input.array.shape(1));
    input.channelStride = input.array.strides(0);
    input.frameStride = input.array.strides(1);
  } else {
    throw py::value_error("audio must be shaped (channels, frames) or (frames,); got " +
                          std::to_string(ndim) + " dimensions");
  }
  if (input.channels == 0) throw py::value_error("audio has no channels (shape (0, frames))");
  input.data = static_cast<const char*>(input.array.data());
  return input;
}

std::string layoutHint(const Input& input) {
  if (input.channels > input.frames) {
    return "; arrays are (channels, frames): transpose a (frames, channels) array with .T";
  }
  return "";
}

// Copies (and converts) frames [begin, end) of `input` to the planar float
// output, whose rows start `rowStride` floats apart; frames past the input's
// end are zeroed. A row that is its own input stays as it is. Done block by
// block just before the effects run, so each block is read from memory once.
void copyInput(const Input& input, float* out, std::size_t rowStride, std::size_t begin,
               std::size_t end) {
  const std::size_t last = std::min(end, input.frames);
  for (std::size_t c = 0; c < input.channels; ++c) {
    const char* source = input.data + static_cast<py::ssize_t>(c) * input.channelStride;
    float* row = out + c * rowStride;
    if (!input.isDouble && input.frameStride == static_cast<py::ssize_t>(sizeof(float))) {
      const float* samples = reinterpret_cast<const float*>(source);
      if (begin < last && samples != row) {
        std::memcpy(row + begin, samples + begin, (last - begin) * sizeof(float));
      }
    } else if (input.isDouble) {
      for (std::size_t f = begin; f < last; ++f) {
        double sample;
        std::memcpy(&sample, source + static_cast<py::ssize_t>(f) * input.frameStride,
                    sizeof sample);
        row[f] = static_cast<float>(sample);
      }
    } else {
      for (std::size_t f = begin; f < last; ++f) {
        std::memcpy(row + f, source + static_cast<py::ssize_t>(f) * input.frameStride,
                    sizeof(float));
      }
    }
    if (last < end) std::fill(row + std::max(begin, last), row + end, 0.0f);
  }
}

// The caller's output array for `out=`: float32, writeable, the result's
// shape, each row contiguous; the input itself (in place) or memory apart
// from it. Returns the distance between rows in floats.
std::size_t checkedOutput(const py::array& out, const Input& input, std::size_t frames) {
  const py::dtype dtype = out.dtype();
  if (dtype.kind() != 'f' || dtype.itemsize() != 4) {
    throw py::type_error("out must be a float32 array");
  }
  if (!out.writeable()) throw py::value_error("out is read-only");
  const bool shapeFits =
      input.mono ? out.ndim() == 1 && static_cast<std::size_t>(out.shape(0)) == frames
                 : out.ndim() == 2 && static_cast<std::size_t>(out.shape(0)) == input.channels &&
                       static_cast<std::size_t>(out.shape(1)) == frames;
  if (!shapeFits) {
    throw py::value_error("out must have the result's shape (" +
                          (input.mono
                               ? std::to_string(frames)
                               : std::to_string(input.channels) + ", " + std::to_string(frames)) +
                          ")");
  }
  const py::ssize_t frameStride = out.strides(out.ndim() - 1);
  const py::ssize_t rowStride = input.mono ? 0 : out.strides(0);
  if ((frames > 1 && frameStride != static_cast<py::ssize_t>(sizeof(float))) || rowStride < 0 ||
      rowStride % static_cast<py::ssize_t>(sizeof(float)) != 0 ||
      (input.channels > 1 && static_cast<std::size_t>(rowStride) < frames * sizeof(float))) {
    throw py::value_error("out must hold each channel's frames contiguously, e.g. a C-order array");
  }
  const bool inPlace = out.data() == input.array.data() && !input.isDouble &&
                       (input.frames <= 1 || input.frameStride == frameStride) &&
                       (input.channels == 1 || input.channelStride == rowStride);
  if (!inPlace) {
    const bool overlaps =
        py::module_::import("numpy").attr("may_share_memory")(out, input.array).cast<bool>();
    if (overlaps) throw py::value_error("out overlaps the input without being the input itself");
  }
  return static_cast<std::size_t>(rowStride) / sizeof(float);
}

// One effect processor and what a stream through it remembers. prepare(),
// reset() and process() of the core belong to one thread at a time: `busy`
// makes a second thread's call fail instead of racing.
class PyEffect {
 public:
  explicit PyEffect(const std::string& name) {
    try {
      info_ = &rules::findType(name);
    } catch (const rules::RuleError& unknown) {
      throw py::value_error(unknown.what());
    }
    effect_ = qa::makeEffect(info_->name, 2);
    type_ = std::string(info_->name);
  }

  const std::string& typeName() const { return type_; }
  qa::Effect& effect() { return *effect_; }
  const qa::Effect& effect() const { return *effect_; }

  const qa::Parameter& parameter(const std::string& name) const {
    const qa::Parameter* found = rules::findParameter(info_->parameters(), name);
    if (found == nullptr) {
      throw py::type_error(type_ + ": unknown parameter '" + rules::shortened(name) +
                           "' (known: " + rules::parameterKeys(info_->parameters()) + ")");
    }
    return *found;
  }
  double get(const std::string& name) const { return parameter(name).get(*effect_); }
  // Stores `value` (text of the value grammar, a switch or a number) as the
  // rules read it: ValueError with their message when they refuse it.
  void set(const std::string& name, const py::handle& value) {
    parameter(name);  // an unknown name is a TypeError, as for any keyword
    rules::Setting setting{name, {}};
    if (py::isinstance<py::str>(value)) {
      setting.value = value.cast<std::string>();
    } else if (PyBool_Check(value.ptr()) ||
               py::isinstance(value, py::module_::import("numpy").attr("bool_"))) {
      setting.value =
          std::string(py::bool_(py::reinterpret_borrow<py::object>(value)) ? "true" : "false");
    } else if (PyNumber_Check(value.ptr()) && !PyComplex_Check(value.ptr()) &&
               !py::isinstance<py::array>(value)) {
      setting.value = py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
    } else {
      throw py::type_error(type_ + ": " + std::string(parameter(name).key) +
                           " must be a number, a boolean or a string such as \"350ms\"; got " +
                           std::string(Py_TYPE(value.ptr())->tp_name));
    }
    try {
      rules::apply(rules::resolve(rules::EffectRequest{type_, {setting}, ""}), *effect_);
    } catch (const rules::RuleError& refused) {
      throw py::value_error(refused.what());
    }
  }

  // The audio the effect takes, as the rules say for every front end.
  void checkFormat(const Input& input, unsigned int rate) const {
    try {
      rules::checkChannels(*info_, input.channels);
      rules::checkFits(*effect_, rate);
    } catch (const rules::RuleError& refused) {
      throw py::value_error(refused.what() + layoutHint(input));
    }
  }

  // Readies the processor for a block of `channels` at `rate`: a fresh
  // stream on `reset`, otherwise the continuation of the last one.
  void begin(unsigned int rate, unsigned int channels, bool reset) {
    if (!reset && started_ && (rate != rate_ || channels != channels_)) {
      throw py::value_error(type_ + ": reset=False continues a stream of " +
                            std::to_string(channels_) + " channel(s) at " + std::to_string(rate_) +
                            " Hz; this audio has " + std::to_string(channels) + " at " +
                            std::to_string(rate) + " Hz");
    }
    if (channels > effect_->getNumChannels()) grow(channels);
    if (reset || !started_) effect_->reset();
    effect_->prepare(rate, channels);
    rate_ = rate;
    channels_ = channels;
    started_ = true;
  }

  void clear() {
    effect_->reset();
    started_ = false;
  }

  std::atomic<bool> busy{false};

 private:
  // A new processor with state for more channels, with the same settings.
  void grow(unsigned int channels) {
    std::unique_ptr<qa::Effect> wider = qa::makeEffect(type_, channels);
    for (const qa::Parameter& entry : effect_->parameters()) {
      entry.set(*wider, entry.get(*effect_));
    }
    effect_ = std::move(wider);
    started_ = false;
  }

  const qa::EffectInfo* info_ = nullptr;
  std::unique_ptr<qa::Effect> effect_;
  std::string type_;
  unsigned int rate_ = 0;
  unsigned int channels_ = 0;
  bool started_ = false;
};

// Claims the effects of one call for this thread; gives them back on exit.
// A claimed effect refuses a second thread rather than racing it.
class BusyClaim {
 public:
  explicit BusyClaim(const std::vector<PyEffect*>& effects) {
    for (PyEffect* effect : effects) {
      if (effect->busy.exchange(true)) {
        release();
        throw std::runtime_error("effect is busy in another thread");
      }
      claimed_.push_back(effect);
    }
  }
  ~BusyClaim() { release(); }
  BusyClaim(const BusyClaim&) = delete;
  BusyClaim& operator=(const BusyClaim&) = delete;

 private:
  void release() {
    for (PyEffect* effect : claimed_) effect->busy.store(false);
    claimed_.clear();
  }
  std::vector<PyEffect*> claimed_;
};

std::vector<const qa::EffectControls*> controlsOf(const std::vector<PyEffect*>& effects) {
  std::vector<const qa::EffectControls*> controls;
  for (const PyEffect* effect : effects) controls.push_back(&effect->effect());
  return controls;
}

// Runs `effects` in order over `audio` with `tail` frames of the decay after
// it, into a new array or the caller's `out`, and returns that array.
py::array run(const std::vector<PyEffect*>& effects, const py::handle& audio,
              const py::handle& sampleRate, bool reset, const TailRequest& tail,
              const py::object& outArgument) {
  const unsigned int rate = checkedRate(sampleRate);
  const Input input = checkedInput(audio);
  for (PyEffect* effect : effects) effect->checkFormat(input, rate);
  const BusyClaim claimed(effects);

  std::uint64_t tailFrames = 0;
  if (tail.seconds) {
    tailFrames = static_cast<std::uint64_t>(std::llround(*tail.seconds * rate));
  } else if (tail.library) {
    tailFrames = rules::tailFrames(controlsOf(effects), rate);
  }
  const std::size_t frames = input.frames + static_cast<std::size_t>(tailFrames);
  const auto channels = static_cast<unsigned int>(input.channels);

  py::array output;
  std::size_t rowStride = frames;
  if (outArgument.is_none()) {
    output = input.mono ? py::array_t<float>(static_cast<py::ssize_t>(frames))
                        : py::array_t<float>({static_cast<py::ssize_t>(channels),
                                              static_cast<py::ssize_t>(frames)});
  } else {
    if (!py::isinstance<py::array>(outArgument)) {
      throw py::type_error("out must be a NumPy float32 array");
    }
    output = py::reinterpret_borrow<py::array>(outArgument);
    rowStride = checkedOutput(output, input, frames);
  }
  float* const out = static_cast<float*>(output.mutable_data());
  for (PyEffect* effect : effects) effect->begin(rate, channels, reset);
  {
    const py::gil_scoped_release released;
    std::vector<float*> rows(channels);
    for (std::size_t start = 0; start < frames; start += kBlockFrames) {
      const auto count = static_cast<unsigned int>(std::min(kBlockFrames, frames - start));
      copyInput(input, out, rowStride, start, start + count);
      for (unsigned int c = 0; c < channels; ++c) rows[c] = out + c * rowStride + start;
      for (PyEffect* effect : effects) {
        effect->effect().process(rows.data(), rows.data(), channels, count);
      }
    }
  }
  return output;
}

std::vector<PyEffect*> chainEffects(const py::list& effects) {
  std::vector<PyEffect*> stages;
  for (const py::handle item : effects) {
    if (!py::isinstance<PyEffect>(item)) {
      throw py::type_error("a chain holds effects (Delay, Chorus, ...); got " +
                           std::string(Py_TYPE(item.ptr())->tp_name));
    }
    PyEffect* effect = item.cast<PyEffect*>();
    if (std::find(stages.begin(), stages.end(), effect) != stages.end()) {
      throw py::value_error("the same " + effect->typeName() +
                            " object appears twice in the chain; make a second one");
    }
    stages.push_back(effect);
  }
  return stages;
}

py::dict parameterInfo(const qa::Parameter& entry) {
  py::dict info;
  info["key"] = std::string(entry.key);
  info["name"] = pythonName(entry.key);
  info["description"] = std::string(entry.description);
  info["unit"] = std::string(entry.unit);
  info["type"] = typeName(entry.type);
  info["minimum"] = entry.minimum;
  info["maximum"] = entry.maximum;
  info["default"] = entry.defaultValue;
  info["rate_bound"] = entry.maximumAt != nullptr;
  return info;
}

// The docstring of `process`, its numbers taken from the rules so that they
// cannot drift from what the checks do.
std::string processDoc() {
  using rules::formatNumber;
  return "Processes `audio` and returns the result.\n\n"
         "audio: float32 samples (float64 and other floats are converted), shaped\n"
         "    (channels, frames), or (frames,) for mono. Not modified unless it is `out`.\n"
         "sample_rate: Hz, a whole number from " +
         std::to_string(rules::kMinimumRate) + " to " + std::to_string(rules::kMaximumRate) +
         ".\n"
         "reset: True starts a new stream (silent delay lines, rewound oscillators);\n"
         "    False continues from the end of the previous call, so that a stream\n"
         "    processed in chunks equals one call over all of it.\n"
         "tail: append the frames the effect needs to ring out: its latency plus its\n"
         "    decay to " +
         formatNumber(20.0 * std::log10(rules::kTailLevel)) + " dB, at most " +
         formatNumber(rules::kMaximumTailSeconds) +
         " s (what quorvel-fx appends by default).\n"
         "tail_seconds: append this many seconds instead (rounded to whole frames).\n"
         "out: optional float32 array of the result's shape, each channel's frames\n"
         "    contiguous, to write into; may be `audio` itself (in place, no tail).\n\n"
         "Returns a float32 array of the input's layout (the new array, or `out`).\n"
         "Raises TypeError or ValueError for audio, rates or settings the effect\n"
         "cannot take, RuntimeError when another thread is using the effect.";
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "Bindings of the Quorvel DSP core; use the quorvel_audioeffects package.";

  m.def(
      "effect_types",
      [] {
        py::list types;
        for (const qa::EffectInfo* info : qa::effectTypes()) {
          const std::unique_ptr<qa::Effect> probe = qa::makeEffect(info->name, 2);
          py::dict type;
          type["name"] = std::string(info->name);
          type["display_name"] = std::string(info->displayName);
          type["description"] = std::string(info->description);
          py::list parameters;
          for (const qa::Parameter& entry : probe->parameters()) {
            parameters.append(parameterInfo(entry));
          }
          type["parameters"] = parameters;
          types.append(type);
        }
        return types;
      },
      "The effect types with their parameter tables, in registration order.");
  m.def("stored_value", [](const std::string& type, double value) {
    const qa::ParameterType kind = type == "bool"  ? qa::ParameterType::Boolean
                                   : type == "int" ? qa::ParameterType::Integer
                                                   : qa::ParameterType::Float;
    return qa::storedValue(kind, value);
  });
  m.attr("TAIL_LEVEL") = rules::kTailLevel;
  m.attr("MAXIMUM_TAIL_SECONDS") = rules::kMaximumTailSeconds;
  m.def(
      "read_chain",
      [](const std::string& text, const std::string& origin) {
        py::list chain;
        try {
          for (const rules::EffectSettings& effect :
               rules::resolve(rules::readChain(text, origin))) {
            py::list values;
            for (const auto& [entry, stored] : effect.values) {
              values.append(py::make_tuple(std::string(entry->key), stored));
            }
            chain.append(py::make_tuple(std::string(effect.type->name), values));
          }
        } catch (const rules::RuleError& refused) {
          throw py::value_error(refused.what());
        }
        return chain;
      },
      py::arg("text"), py::arg("origin"),
      "The effects of a chain file's text, checked: [(type, [(key, stored value)])].");

  py::class_<PyEffect>(m, "Effect")
      .def(py::init<const std::string&>(), py::arg("type_name"))
      .def_property_readonly("type_name", &PyEffect::typeName)
      .def("_get", &PyEffect::get, py::arg("key"))
      .def("_set", &PyEffect::set, py::arg("name"), py::arg("value"),
           "Sets a parameter by name from a number, a boolean or text of the value grammar "
           "(see \"Setting values\" in the project README).")
      .def(
          "process",
          [](PyEffect& self, const py::handle& audio, const py::handle& sampleRate, bool reset,
             bool tail, const py::object& tailSeconds, const py::object& out) {
            return run({&self}, audio, sampleRate, reset, tailRequest(tail, tailSeconds), out);
          },
          py::arg("audio"), py::arg("sample_rate"), py::arg("reset") = true,
          py::arg("tail") = false, py::arg("tail_seconds") = py::none(),
          py::arg("out") = py::none(), processDoc().c_str())
      .def(
          "reset",
          [](PyEffect& self) {
            const BusyClaim claimed({&self});
            self.clear();
          },
          "Forgets the stream: silent lines, rewound oscillators.")
      .def_property_readonly("is_bypassed",
                             [](const PyEffect& self) { return self.effect().isBypassed(); })
      .def(
          "latency_samples",
          [](const PyEffect& self, const py::handle& rate) {
            return self.effect().latencySamples(checkedRate(rate));
          },
          py::arg("sample_rate"))
      .def(
          "tail_samples",
          [](const PyEffect& self, const py::handle& rate, double level) {
            if (!(level > 0.0 && level < 1.0)) {
              throw py::value_error("level must be between 0 and 1 (linear)");
            }
            return self.effect().tailSamples(checkedRate(rate), level);
          },
          py::arg("sample_rate"), py::arg("level") = rules::kTailLevel)
      .def(
          "maximum_at",
          [](const PyEffect& self, const std::string& name, const py::handle& rate) {
            return self.effect().maximumAt(self.parameter(name).key, checkedRate(rate));
          },
          py::arg("key"), py::arg("sample_rate"));

  m.def(
      "run_chain",
      [](const py::list& effects, const py::handle& audio, const py::handle& sampleRate, bool reset,
         bool tail, const py::object& tailSeconds, const py::object& out) {
        return run(chainEffects(effects), audio, sampleRate, reset, tailRequest(tail, tailSeconds),
                   out);
      },
      py::arg("effects"), py::arg("audio"), py::arg("sample_rate"), py::arg("reset") = true,
      py::arg("tail") = false, py::arg("tail_seconds") = py::none(), py::arg("out") = py::none());
  m.def(
      "check_chain", [](const py::list& effects) { chainEffects(effects); }, py::arg("effects"));
  m.def(
      "tail_frames",
      [](const py::list& effects, const py::handle& sampleRate) {
        return rules::tailFrames(controlsOf(chainEffects(effects)), checkedRate(sampleRate));
      },
      py::arg("effects"), py::arg("sample_rate"));
}
