#include "NodeFuzzHarness.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <quorvel/AudioEffects.hpp>

namespace quorvel::fuzz {

namespace {

using extensions::audioeffects::AudioEffectsNodeFactory;
using extensions::audioeffects::ChorusNode;
using extensions::audioeffects::DelayNode;
using extensions::audioeffects::FlangerNode;
using extensions::audioeffects::PingPongDelayNode;
using extensions::audioeffects::VibratoNode;

// Samples whose magnitude exceeds this are finite but would let a legitimate
// mix of dry, wet and feedback overflow; blocks carrying them are not checked.
constexpr float kLargestCheckedSample = 1.0e4f;
// Bounds of the operation sequence, so one input stays fast to run: a few
// blocks and a few parameter changes each, so that coverage-guided fuzzing
// runs thousands of inputs a second; long runs are the stress tests' part.
constexpr int kMaxOperations = 32;
constexpr unsigned int kMaxChannels = 8;
constexpr unsigned int kMaxFrames = 8192;
constexpr unsigned int kMaxSampleRate = 768000;
// Samples processed per input at most: one full 8-channel 8192-frame block,
// or several of the usual sizes.
constexpr unsigned long kSampleBudget = 1ul << 16;

// Reads the fuzz input front to back; once exhausted every read yields 0.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
  std::uint32_t u32() {
    return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16);
  }
  float rawFloat() {
    const std::uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  // A value in [lo, hi] from 16 bits.
  float unitRange(float lo, float hi) {
    return lo + (hi - lo) * (static_cast<float>(u16()) / 65535.0f);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Any float: the interesting special values, values inside [lo, hi], or raw bits.
float anyFloat(ByteReader& in, float lo, float hi) {
  static const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::max(),
                                   -std::numeric_limits<float>::max(),
                                   std::numeric_limits<float>::denorm_min(),
                                   -0.0f,
                                   -1.0f,
                                   1.0e30f,
                                   1.0f,
                                   0.0f,
                                   0.99f,
                                   1.0001f};
  const std::uint8_t mode = in.byte();
  if (mode < 64) return specials[mode % (sizeof specials / sizeof specials[0])];
  if (mode < 224) return in.unitRange(lo, hi);
  return in.rawFloat();
}

unsigned int anyUnsigned(ByteReader& in, unsigned int lo, unsigned int hi) {
  static const unsigned int specials[] = {0u, 1u, 1000u, 1001u, 48000u, 0x80000000u, 0xFFFFFFFFu};
  const std::uint8_t mode = in.byte();
  if (mode < 48) return specials[mode % (sizeof specials / sizeof specials[0])];
  if (mode < 224) return lo + in.u16() % (hi - lo + 1);
  return in.u32();
}

unsigned int anySampleRate(ByteReader& in) {
  static const unsigned int rates[] = {0,     1,     7999,   8000,   11025,  22050,  44100, 48000,
                                       88200, 96000, 176400, 192000, 192001, 384000, 768000};
  const std::uint8_t mode = in.byte();
  if (mode < 200) return rates[mode % (sizeof rates / sizeof rates[0])];
  return (in.u32() & 0xFFFFFu) % (kMaxSampleRate + 1);
}

unsigned int anyFrames(ByteReader& in) {
  static const unsigned int frames[] = {0, 1, 2, 31, 32, 64, 512, 1000, 1024, 4096, 8192};
  const std::uint8_t mode = in.byte();
  if (mode < 160) return frames[mode % (sizeof frames / sizeof frames[0])];
  return in.u16() % (kMaxFrames + 1);
}

// One parameter as the harness sees it: how to set it through the typed
// setter, the range the node documents, and whether the last value set lies
// inside it.
struct Parameter {
  const char* property;  // host property name; used only where the node has properties
  bool isUnsigned;
  float lo;
  float hi;
  std::function<void(float)> setFloat;
  std::function<void(unsigned int)> setUnsigned;
  std::function<void()> readBack;
  bool inRange = true;
};

// A live node under test with its parameter table.
struct Subject {
  std::unique_ptr<Node> node;
  SingleBusAudioProcessorNode* audio = nullptr;
  std::vector<Parameter> parameters;
  std::function<void(bool)> setEnabled;
  std::function<bool()> getEnabled;
  // Set once the node has seen a parameter outside its documented range, a
  // sample rate outside 8000..192000 Hz or huge samples: its state may then
  // legitimately hold values that make later output overflow.
  bool tainted = false;
};

volatile float sink;  // keeps getter results observable

template <typename EffectNode>
void describeDelay(Subject& s, EffectNode& n) {
  s.parameters.push_back({"dryMix", false, 0.0f, 1.0f, [&n](float v) { n.setDryMix(v); }, nullptr,
                          [&n] { sink = n.getDryMix(); }});
  s.parameters.push_back({"wetMix", false, 0.0f, 1.0f, [&n](float v) { n.setWetMix(v); }, nullptr,
                          [&n] { sink = n.getWetMix(); }});
  s.parameters.push_back({"feedbackLevel", false, 0.0f, 0.99f,
                          [&n](float v) { n.setFeedbackLevel(v); }, nullptr,
                          [&n] { sink = n.getFeedbackLevel(); }});
  s.parameters.push_back({"delayMs", true, 0.0f, 1000.0f, nullptr,
                          [&n](unsigned int v) { n.setDelayMs(v); },
                          [&n] { sink = static_cast<float>(n.getDelayMs()); }});
  s.setEnabled = [&n](bool e) { n.setIsEnabled(e); };
  s.getEnabled = [&n] { return n.getIsEnabled(); };
}

template <typename EffectNode>
void describeSwept(Subject& s, EffectNode& n) {
  s.parameters.push_back({"sweepWidth", false, 0.0f, 0.025f, [&n](float v) { n.setSweepWidth(v); },
                          nullptr, [&n] { sink = n.getSweepWidth(); }});
  s.parameters.push_back({"frequency", false, 0.0f, 20.0f, [&n](float v) { n.setFrequency(v); },
                          nullptr, [&n] { sink = n.getFrequency(); }});
  s.setEnabled = [&n](bool e) { n.setIsEnabled(e); };
  s.getEnabled = [&n] { return n.getIsEnabled(); };
}

AudioEffectsNodeFactory& factory() {
  static AudioEffectsNodeFactory instance;
  return instance;
}

[[noreturn]] void fail(const std::string& typeName, const char* what, unsigned int channel,
                       unsigned int frame, float value) {
  std::fprintf(stderr, "%s: %s at channel %u frame %u: %g\n", typeName.c_str(), what, channel,
               frame, static_cast<double>(value));
  std::abort();
}

void create(Subject& s, const std::string& typeName) {
  s.node.reset(factory().createNode(typeName, QVAnyMap{}));
  if (!s.node) {
    std::fprintf(stderr, "factory has no node type %s\n", typeName.c_str());
    std::abort();
  }
  s.audio = dynamic_cast<SingleBusAudioProcessorNode*>(s.node.get());
  if (s.audio == nullptr) fail(typeName, "node is not a single-bus audio node", 0, 0, 0.0f);
  if (auto* n = dynamic_cast<DelayNode*>(s.node.get())) describeDelay(s, *n);
  if (auto* n = dynamic_cast<PingPongDelayNode*>(s.node.get())) describeDelay(s, *n);
  if (auto* n = dynamic_cast<VibratoNode*>(s.node.get())) describeSwept(s, *n);
  if (auto* n = dynamic_cast<FlangerNode*>(s.node.get())) describeSwept(s, *n);
  if (auto* n = dynamic_cast<ChorusNode*>(s.node.get())) describeSwept(s, *n);
  if (s.parameters.empty()) fail(typeName, "unknown node class", 0, 0, 0.0f);
}

void setTyped(Subject& s, ByteReader& in) {
  Parameter& p = s.parameters[in.byte() % s.parameters.size()];
  if (p.isUnsigned) {
    const unsigned int v =
        anyUnsigned(in, static_cast<unsigned int>(p.lo), static_cast<unsigned int>(p.hi));
    p.setUnsigned(v);
    p.inRange = v <= static_cast<unsigned int>(p.hi);
  } else {
    const float v = anyFloat(in, p.lo, p.hi);
    p.setFloat(v);
    p.inRange = std::isfinite(v) && v >= p.lo && v <= p.hi;
  }
  if (!p.inRange) s.tainted = true;
}

// Any QVAny a host might pass: every scalar kind, strings, an empty value.
QVAny anyValue(ByteReader& in, const Parameter* p) {
  switch (in.byte() % 8) {
    case 0: return QVAny();
    case 1: return QVAny(in.byte() % 2 == 0);
    case 2: return QVAny(static_cast<int>(in.u32()));
    case 3: return QVAny(in.u32());
    case 4: return QVAny(std::string("not a number"));
    case 5: return QVAny(static_cast<int>(in.byte()) - 128);
    default: return QVAny(anyFloat(in, p ? p->lo : 0.0f, p ? p->hi : 1.0f));
  }
}

// Whether `value`, once converted the way the property's setter converts it,
// lies inside the parameter's documented range.
bool valueInRange(const QVAny& value, const Parameter& p) {
  try {
    if (p.isUnsigned) return QVAny::convert<unsigned int>(value) <= static_cast<unsigned int>(p.hi);
    const float v = QVAny::convert<float>(value);
    return std::isfinite(v) && v >= p.lo && v <= p.hi;
  } catch (const std::invalid_argument&) {
    return true;  // a rejected value leaves the parameter as it was
  }
}

void setProperty(Subject& s, ByteReader& in, const std::string& typeName) {
  const std::uint8_t which = in.byte() % (s.parameters.size() + 2);
  if (which == s.parameters.size()) {
    s.node->setValue("enabled", anyValue(in, nullptr));
    return;
  }
  if (which == s.parameters.size() + 1) {
    // An unknown property must fail cleanly and change nothing.
    if (s.node->setValue("noSuchProperty", anyValue(in, nullptr)).isSuccess())
      fail(typeName, "unknown property accepted", 0, 0, 0.0f);
    return;
  }
  Parameter& p = s.parameters[which];
  const QVAny value = anyValue(in, &p);
  const bool ok = s.node->setValue(p.property, value).isSuccess();
  if (ok && !valueInRange(value, p)) {
    p.inRange = false;
    s.tainted = true;
  } else if (ok) {
    p.inRange = true;
  }
  s.node->getValue(p.property);
}

// Buffers of the current shape and the formats the host last proposed.
struct Buses {
  unsigned int inChannels = 2, inFrames = 512, outChannels = 2, outFrames = 512;
  unsigned int sampleRate = 48000, outSampleRate = 48000;
  unsigned long samplesLeft = kSampleBudget;
  // Kept while the shape stays, like a host's buffers: fresh pages for
  // every block were a large part of an input's time under the sanitizer.
  std::unique_ptr<AudioBuffer<float>> input, output;

  void shape() {
    if (!input || input->getNumberOfChannels() != inChannels ||
        input->getNumberOfFrames() != inFrames || input->getSampleRate() != sampleRate)
      input = std::make_unique<AudioBuffer<float>>(inChannels, inFrames, sampleRate);
    if (!output || output->getNumberOfChannels() != outChannels ||
        output->getNumberOfFrames() != outFrames || output->getSampleRate() != outSampleRate)
      output = std::make_unique<AudioBuffer<float>>(outChannels, outFrames, outSampleRate);
  }
};

void proposeFormat(Subject& s, ByteReader& in, Buses& b) {
  b.sampleRate = anySampleRate(in);
  b.inChannels = in.byte() % (kMaxChannels + 1);
  b.inFrames = anyFrames(in);
  switch (in.byte() % 5) {
    case 0:  // matching output
      b.outChannels = b.inChannels;
      b.outFrames = b.inFrames;
      b.outSampleRate = b.sampleRate;
      break;
    case 1:  // fewer output channels
      b.outChannels = b.inChannels == 0 ? 0 : in.byte() % b.inChannels;
      b.outFrames = b.inFrames;
      b.outSampleRate = b.sampleRate;
      break;
    case 2:  // shorter output
      b.outChannels = b.inChannels;
      b.outFrames = b.inFrames == 0 ? 0 : in.u16() % b.inFrames;
      b.outSampleRate = b.sampleRate;
      break;
    default:  // anything
      b.outChannels = in.byte() % (kMaxChannels + 1);
      b.outFrames = anyFrames(in);
      b.outSampleRate = anySampleRate(in);
      break;
  }
  AudioBusFormat inFormat(b.sampleRate, b.inChannels, b.inFrames);
  AudioBusFormat outFormat(b.outSampleRate, b.outChannels, b.outFrames);
  if (in.byte() % 4 == 0) {
    AudioBusFormatList inList{inFormat}, outList{outFormat};
    s.audio->setBusFormats(inList, outList);
  } else {
    s.audio->setBusFormat(inFormat, outFormat);
  }
  // Whatever the node answered, the next blocks use this shape: a host may
  // process on a format the node refused.
}

// Fills `buffer` with one of several signals; returns whether every sample is
// finite and no larger than kLargestCheckedSample.
bool fillInput(AudioBuffer<float>& buffer, ByteReader& in) {
  const std::uint8_t mode = in.byte() % 6;
  const unsigned int channels = buffer.getNumberOfChannels();
  const unsigned int frames = buffer.getNumberOfFrames();
  const float gain = in.unitRange(0.0f, 1.0f);
  const float step = in.unitRange(0.0f, 0.5f);
  // Raw values come from a small palette cycled through the block, so that a
  // short input can still fill 8192-frame blocks with huge, subnormal or
  // non-finite samples.
  float palette[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  if (mode == 5)
    for (float& p : palette) p = in.rawFloat();
  const unsigned int stride = 1u + in.byte() % 7u;
  bool checked = true;
  for (unsigned int c = 0; c < channels; ++c) {
    float* samples = buffer.getChannel(c);
    for (unsigned int f = 0; f < frames; ++f) {
      float x = 0.0f;
      switch (mode) {
        case 0: x = 0.0f; break;
        case 1: x = gain * std::sin(step * static_cast<float>(f) + static_cast<float>(c)); break;
        case 2: x = f == 0 ? 1.0f : 0.0f; break;
        case 3: x = (f & 1u) ? gain : -gain; break;
        case 4: x = in.empty() ? 0.0f : in.unitRange(-1.0f, 1.0f); break;
        default: x = palette[(f * stride + c) % 4u]; break;
      }
      samples[f] = x;
      if (!std::isfinite(x) || std::fabs(x) > kLargestCheckedSample) checked = false;
    }
  }
  return checked;
}

void processBlock(Subject& s, ByteReader& in, Buses& b, const std::string& typeName) {
  const unsigned long samples = static_cast<unsigned long>(b.inChannels) * b.inFrames +
                                static_cast<unsigned long>(b.outChannels) * b.outFrames;
  if (samples > b.samplesLeft) return;
  b.samplesLeft -= samples;
  b.shape();
  AudioBuffer<float>& input = *b.input;
  AudioBuffer<float>& output = *b.output;
  bool finiteInput = fillInput(input, in);
  // Output starts as garbage so that a node relying on its contents shows up.
  for (unsigned int c = 0; c < output.getNumberOfChannels(); ++c)
    std::fill_n(output.getChannel(c), output.getNumberOfFrames(),
                std::numeric_limits<float>::quiet_NaN());
  if (!finiteInput) {
    // Huge finite samples may legitimately overflow later mixes; non-finite
    // ones are dropped by the lines, so only this block goes unchecked.
    for (unsigned int c = 0; c < input.getNumberOfChannels(); ++c) {
      const float* samples = input.getChannel(c);
      for (unsigned int f = 0; f < input.getNumberOfFrames(); ++f)
        if (std::isfinite(samples[f]) && std::fabs(samples[f]) > kLargestCheckedSample)
          s.tainted = true;
    }
  }
  if (b.sampleRate < 8000 || b.sampleRate > 192000) s.tainted = true;

  // The same block again and again reaches the long-run behaviour of the
  // feedback paths (growth, decay, wrap-around) without a long input.
  const unsigned int repeats = 1u + in.byte() % 4u;
  const bool viaLists = in.byte() % 8 == 0;
  AudioBus inBus(input), outBus(output);
  for (unsigned int r = 0; r < repeats; ++r) {
    if (r > 0) {
      if (samples > b.samplesLeft) return;
      b.samplesLeft -= samples;
    }
    if (viaLists) {
      AudioBusList inList{inBus}, outList{outBus};
      s.audio->process(inList, outList);
    } else {
      s.audio->process(inBus, outBus);
    }
    if (!finiteInput || s.tainted) continue;
    for (unsigned int c = 0; c < output.getNumberOfChannels(); ++c) {
      const float* samples = output.getChannel(c);
      for (unsigned int f = 0; f < output.getNumberOfFrames(); ++f)
        if (!std::isfinite(samples[f]))
          fail(typeName, "non-finite output from finite input and in-range parameters", c, f,
               samples[f]);
    }
  }
}

}  // namespace

std::vector<std::string> effectNodeTypeNames() {
  std::vector<std::string> names;
  for (const NodeTypeInfo& info : factory().getNodeTypes()) names.push_back(info.getFQTypeName());
  return names;
}

int runNodeFuzzInput(const std::string& typeName, const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  Subject subject;
  create(subject, typeName);
  Buses buses;
  for (int op = 0; op < kMaxOperations && !in.empty(); ++op) {
    switch (in.byte() % 8) {
      case 0:
      case 1: setTyped(subject, in); break;
      case 2: setProperty(subject, in, typeName); break;
      case 3: proposeFormat(subject, in, buses); break;
      case 4: subject.setEnabled(in.byte() % 2 == 0); break;
      case 5:
        for (Parameter& p : subject.parameters) p.readBack();
        sink = subject.getEnabled() ? 1.0f : 0.0f;
        break;
      // Each input builds one node: a fresh one per input already covers
      // construction and destruction, and each costs two whole delay lines.
      default: processBlock(subject, in, buses, typeName); break;
    }
  }
  // Always run at least one block so that short inputs reach process().
  processBlock(subject, in, buses, typeName);
  return 0;
}

}  // namespace quorvel::fuzz
