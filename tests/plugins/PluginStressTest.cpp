// The plugin modules as a host loads them (dlopen), driven hard: every
// variant in both formats at the edge rates, with random block sizes
// (0 included), in-place buffers and control values at and beyond the ends
// of their ranges, infinite and NaN. Runs under AddressSanitizer too.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ladspa.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Corpus.hpp"
#include "PluginAdapter.hpp"

namespace {

using quorvel::audio::Parameter;
using quorvel::plugins::Variant;
using quorvel::plugins::variants;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void* openModule(const char* path) {
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(module, nullptr) << dlerror();
  return module;
}

// One plugin instance, whichever the format: both descriptors name their
// functions alike.
class Plugin {
 public:
  virtual ~Plugin() = default;
  virtual void connect(std::uint32_t port, float* data) = 0;
  virtual void activate() = 0;
  virtual void run(std::uint32_t frames) = 0;
};

template <class Descriptor>
class Instance final : public Plugin {
 public:
  Instance(const Descriptor* d, void* h) : d_(d), h_(h) {}
  ~Instance() override { d_->cleanup(h_); }
  void connect(std::uint32_t port, float* data) override { d_->connect_port(h_, port, data); }
  void activate() override { d_->activate(h_); }
  void run(std::uint32_t frames) override { d_->run(h_, frames); }

 private:
  const Descriptor* d_;
  void* h_;
};

// Both modules, loaded once; plugins made by variant index and format.
class Modules : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lv2 = openModule(QUORVEL_LV2_MODULE);
    ladspa = openModule(QUORVEL_LADSPA_MODULE);
  }
  static void TearDownTestSuite() {
    if (lv2) dlclose(lv2);
    if (ladspa) dlclose(ladspa);
  }
  static const LV2_Descriptor* lv2Descriptor(std::uint32_t i) {
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lv2, "lv2_descriptor"));
    return entry ? entry(i) : nullptr;
  }
  static const LADSPA_Descriptor* ladspaDescriptor(unsigned long i) {
    auto entry = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(ladspa, "ladspa_descriptor"));
    return entry ? entry(i) : nullptr;
  }
  // nullptr when the plugin refuses the rate.
  static std::unique_ptr<Plugin> make(std::size_t index, bool useLv2, double rate) {
    if (useLv2) {
      const LV2_Descriptor* d = lv2Descriptor(static_cast<std::uint32_t>(index));
      const LV2_Feature* none[] = {nullptr};
      LV2_Handle h = d->instantiate(d, rate, QUORVEL_LV2_BUNDLE, none);
      return h ? std::make_unique<Instance<LV2_Descriptor>>(d, h) : nullptr;
    }
    const LADSPA_Descriptor* d = ladspaDescriptor(index);
    LADSPA_Handle h = d->instantiate(d, static_cast<unsigned long>(rate));
    return h ? std::make_unique<Instance<LADSPA_Descriptor>>(d, h) : nullptr;
  }

  static void* lv2;
  static void* ladspa;
};

void* Modules::lv2 = nullptr;
void* Modules::ladspa = nullptr;

TEST_F(Modules, PublishEveryVariantAndRefuseRatesOutsideTheirRange) {
  const auto& all = variants();
  EXPECT_EQ(lv2Descriptor(static_cast<std::uint32_t>(all.size())), nullptr);
  EXPECT_EQ(ladspaDescriptor(all.size()), nullptr);
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_NE(lv2Descriptor(static_cast<std::uint32_t>(i)), nullptr);
    ASSERT_NE(ladspaDescriptor(i), nullptr);
    EXPECT_EQ(lv2Descriptor(static_cast<std::uint32_t>(i))->URI, all[i].uri);
    EXPECT_EQ(ladspaDescriptor(i)->UniqueID, all[i].ladspaId);
    EXPECT_EQ(ladspaDescriptor(i)->PortCount, all[i].portCount());
  }
}

// The rates of the shared corpus, for every plugin whose effect and channel
// count a case names: a refused rate fails instantiation, the one answer a
// plugin format has. Settings that do not fit are held to the limit by a
// real-time plugin rather than refused, so only the rate decides here.
TEST_F(Modules, TakeTheRatesEveryFrontEndTakes) {
  const auto& all = variants();
  std::size_t checked = 0;
  for (const conformance::Json& entry : conformance::cases("inputs.json")) {
    if (!conformance::appliesTo(entry, "plugins")) continue;
    const bool rateRefused = entry.contains("refused") &&
                             entry.at("refused").get<std::string>().rfind("sample rate ", 0) == 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].info->name != entry.at("effect").get<std::string>() ||
          all[i].channels != entry.at("channels").get<unsigned int>()) {
        continue;
      }
      for (bool useLv2 : {true, false}) {
        const double rate = entry.at("rate").get<double>();
        // LADSPA hands the rate over as a whole number.
        if (!useLv2 && rate != std::floor(rate)) continue;
        EXPECT_EQ(make(i, useLv2, rate) == nullptr, rateRefused)
            << all[i].uri << (useLv2 ? " (LV2) " : " (LADSPA) ") << entry.dump();
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 50u);
}

// Ragged blocks and one buffer for input and output give the bits of one
// plain call of the processor.
TEST_F(Modules, BlockSizesAndInPlaceBuffersKeepTheBits) {
  constexpr unsigned int kFrames = 30000;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
  const auto& all = variants();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Variant& v = all[i];
    std::vector<std::vector<float>> input(v.channels, std::vector<float>(kFrames));
    for (auto& channel : input)
      for (float& s : channel) s = noise(random);
    // Non-default controls: a third of the way up each range, switches on.
    std::vector<float> controls;
    for (const Parameter& p : v.parameters) {
      controls.push_back(
          static_cast<float>(p.type == quorvel::audio::ParameterType::Boolean
                                 ? 1.0
                                 : std::round(p.minimum + (p.maximum - p.minimum) / 3.0)));
      if (p.type == quorvel::audio::ParameterType::Float) {
        controls.back() = static_cast<float>(p.minimum + (p.maximum - p.minimum) / 3.0);
      }
    }
    auto effect = quorvel::audio::makeEffect(v.info->name, v.channels);
    for (std::size_t k = 0; k < controls.size(); ++k) {
      v.parameters[k].set(*effect, quorvel::plugins::controlValue(v.parameters[k], controls[k],
                                                                  v.parameters[k].maximum));
    }
    effect->prepare(48000, v.channels);
    std::vector<std::vector<float>> expected(v.channels, std::vector<float>(kFrames));
    std::vector<const float*> in;
    std::vector<float*> out;
    for (unsigned int c = 0; c < v.channels; ++c) {
      in.push_back(input[c].data());
      out.push_back(expected[c].data());
    }
    effect->process(in.data(), out.data(), v.channels, kFrames);

    for (bool useLv2 : {true, false}) {
      auto plugin = make(i, useLv2, 48000.0);
      ASSERT_NE(plugin, nullptr);
      float latency = 0;
      for (std::size_t k = 0; k < controls.size(); ++k) plugin->connect(v.control(k), &controls[k]);
      if (v.reportsLatency) plugin->connect(v.latencyPort(), &latency);
      plugin->activate();
      std::vector<std::vector<float>> buffer = input;
      std::uniform_int_distribution<unsigned int> block(0, 700);
      for (unsigned int at = 0; at < kFrames;) {
        const unsigned int n = std::min(block(random), kFrames - at);
        for (unsigned int c = 0; c < v.channels; ++c) {
          plugin->connect(v.audioInput(c), buffer[c].data() + at);
          plugin->connect(v.audioOutput(c), buffer[c].data() + at);
        }
        plugin->run(n);
        at += n;
      }
      for (unsigned int c = 0; c < v.channels; ++c) {
        ASSERT_EQ(std::memcmp(buffer[c].data(), expected[c].data(), kFrames * sizeof(float)), 0)
            << v.uri << (useLv2 ? " (LV2)" : " (LADSPA)") << " channel " << c;
      }
      EXPECT_EQ(latency, static_cast<float>(effect->latencySamples(48000)));
    }
  }
}

TEST_F(Modules, RandomAndExtremeControlsGiveFiniteOutput) {
  std::mt19937 random(2024);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const auto& all = variants();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Variant& v = all[i];
    for (bool useLv2 : {true, false}) {
      for (double rate : {8000.0, 44100.0, 192000.0}) {
        auto plugin = make(i, useLv2, rate);
        ASSERT_NE(plugin, nullptr);
        std::vector<float> controls(v.parameters.size());
        float latency = 0;
        for (std::size_t k = 0; k < controls.size(); ++k)
          plugin->connect(v.control(k), &controls[k]);
        if (v.reportsLatency) plugin->connect(v.latencyPort(), &latency);
        std::vector<std::vector<float>> in(v.channels, std::vector<float>(4096));
        std::vector<std::vector<float>> out = in;
        plugin->activate();
        for (int round = 0; round < 200; ++round) {
          for (std::size_t k = 0; k < controls.size(); ++k) {
            const Parameter& p = v.parameters[k];
            const double upper =
                p.maximumAt ? p.maximumAt(static_cast<unsigned int>(rate)) : p.maximum;
            const double choices[] = {p.minimum,
                                      p.maximum,
                                      upper,
                                      p.defaultValue,
                                      kNaN,
                                      kInf,
                                      -kInf,
                                      1e30,
                                      -1e30,
                                      p.minimum + unit(random) * (p.maximum - p.minimum),
                                      (unit(random) * 4 - 2) * p.maximum};
            controls[k] = static_cast<float>(choices[random() % std::size(choices)]);
          }
          const unsigned int sizes[] = {0, 1, 4096, static_cast<unsigned int>(random() % 4096)};
          const unsigned int n = sizes[random() % 4];
          const bool inPlace = random() % 2;
          const float gain = round % 7 == 0 ? 0.0f : (round % 5 == 0 ? 1000.0f : 1.0f);
          for (unsigned int c = 0; c < v.channels; ++c) {
            for (unsigned int f = 0; f < n; ++f) in[c][f] = gain * (unit(random) * 2 - 1);
            plugin->connect(v.audioInput(c), in[c].data());
            plugin->connect(v.audioOutput(c), inPlace ? in[c].data() : out[c].data());
          }
          plugin->run(n);
          for (unsigned int c = 0; c < v.channels; ++c) {
            const float* result = inPlace ? in[c].data() : out[c].data();
            for (unsigned int f = 0; f < n; ++f) {
              ASSERT_TRUE(std::isfinite(result[f])) << v.uri << (useLv2 ? " (LV2)" : " (LADSPA)")
                                                    << " at " << rate << " Hz, round " << round;
            }
          }
          ASSERT_TRUE(std::isfinite(latency)) << v.uri;
        }
      }
    }
  }
}

}  // namespace
