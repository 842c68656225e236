// The bench host's own decisions: the start values it reads from port hints,
// which port a typed name reaches, how the command line splits into
// plugins, and that a mono plugin's two instances get one channel each.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "LadspaHost.hpp"

namespace {

using namespace quorvel::ladspabench;

constexpr LADSPA_PortRangeHintDescriptor kBounded =
    LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE;

TEST(LadspaBenchDefaults, NamedDefaultsGiveTheValuesLadspaHDescribes) {
  struct Case {
    LADSPA_PortRangeHintDescriptor hint;
    float lo, hi, expected;
  };
  const Case cases[] = {
      {kBounded | LADSPA_HINT_DEFAULT_MINIMUM, 2, 8, 2},
      {kBounded | LADSPA_HINT_DEFAULT_MAXIMUM, 2, 8, 8},
      {kBounded | LADSPA_HINT_DEFAULT_LOW, 0, 100, 25},
      {kBounded | LADSPA_HINT_DEFAULT_MIDDLE, 0, 100, 50},
      {kBounded | LADSPA_HINT_DEFAULT_HIGH, 0, 100, 75},
      // On a log port the three points are geometric.
      {kBounded | LADSPA_HINT_LOGARITHMIC | LADSPA_HINT_DEFAULT_LOW, 1, 10000, 10},
      {kBounded | LADSPA_HINT_LOGARITHMIC | LADSPA_HINT_DEFAULT_MIDDLE, 1, 10000, 100},
      {kBounded | LADSPA_HINT_LOGARITHMIC | LADSPA_HINT_DEFAULT_HIGH, 1, 10000, 1000},
      // A log port reaching down to 0 has no geometric middle: linear instead.
      {kBounded | LADSPA_HINT_LOGARITHMIC | LADSPA_HINT_DEFAULT_MIDDLE, 0, 100, 50},
      {kBounded | LADSPA_HINT_DEFAULT_0, -5, 5, 0},
      {kBounded | LADSPA_HINT_DEFAULT_1, -5, 5, 1},
      {LADSPA_HINT_DEFAULT_100, 0, 0, 100},
      {LADSPA_HINT_DEFAULT_440, 0, 0, 440},
      // Whole numbers round half away from zero.
      {kBounded | LADSPA_HINT_INTEGER | LADSPA_HINT_DEFAULT_MIDDLE, 0, 5, 3},
      {LADSPA_HINT_TOGGLED | LADSPA_HINT_DEFAULT_1, 0, 0, 1},
      {LADSPA_HINT_TOGGLED | LADSPA_HINT_DEFAULT_0, 0, 0, 0},
      // No default: 0, held inside the bounds there are.
      {kBounded, 2, 8, 2},
      {kBounded, -8, -2, -2},
      {LADSPA_HINT_BOUNDED_ABOVE, 0, -5, -5},
      {0, 0, 0, 0},
      // A default at a bound the port does not have.
      {LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_DEFAULT_MAXIMUM, 3, 0, 3},
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(defaultValue({c.hint, c.lo, c.hi}, 48000), c.expected)
        << "hint 0x" << std::hex << c.hint << " bounds " << c.lo << ".." << c.hi;
  }
}

TEST(LadspaBenchDefaults, SampleRateHintScalesBoundsAndDefaults) {
  const LADSPA_PortRangeHint nyquist{
      kBounded | LADSPA_HINT_SAMPLE_RATE | LADSPA_HINT_DEFAULT_MAXIMUM, 0.0f, 0.5f};
  EXPECT_FLOAT_EQ(defaultValue(nyquist, 48000), 24000.0f);
  EXPECT_FLOAT_EQ(defaultValue(nyquist, 44100), 22050.0f);
  const LADSPA_PortRangeHint quarter{
      kBounded | LADSPA_HINT_SAMPLE_RATE | LADSPA_HINT_DEFAULT_MIDDLE, 0.0f, 0.5f};
  EXPECT_FLOAT_EQ(defaultValue(quarter, 48000), 12000.0f);
  EXPECT_FLOAT_EQ(portBounds(quarter, 48000).second, 24000.0f);
}

// Ports as the peers name them: units in brackets or parentheses, spaces, a
// name that is another's prefix.
const LADSPA_PortDescriptor kKinds[] = {
    LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,   LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO,
    LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL,
    LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL,
    LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, LADSPA_PORT_OUTPUT | LADSPA_PORT_CONTROL};
const char* const kNames[] = {"Input",    "Output",       "Delay [ms]", "L Delay [ms]",
                              "Feedback", "feedback (%)", "rate (Hz)",  "latency"};

LADSPA_Descriptor fakeDescriptor() {
  LADSPA_Descriptor d{};
  d.Label = "fake";
  d.PortCount = 8;
  d.PortDescriptors = kKinds;
  d.PortNames = kNames;
  return d;
}

TEST(LadspaBenchPorts, NamesReachTheirPortWithOrWithoutUnit) {
  const LADSPA_Descriptor d = fakeDescriptor();
  EXPECT_EQ(findControl(d, "Delay [ms]"), 2u);
  EXPECT_EQ(findControl(d, "delay"), 2u);
  EXPECT_EQ(findControl(d, "L_Delay"), 3u);
  EXPECT_EQ(findControl(d, "l delay [ms]"), 3u);
  EXPECT_EQ(findControl(d, "RATE"), 6u);
  EXPECT_EQ(findControl(d, "6"), 6u);
  // The exact name settles what the loose forms cannot.
  EXPECT_EQ(findControl(d, "Feedback"), 4u);
  EXPECT_EQ(findControl(d, "feedback (%)"), 5u);
}

TEST(LadspaBenchPorts, WrongOrAmbiguousNamesAreRefused) {
  const LADSPA_Descriptor d = fakeDescriptor();
  EXPECT_THROW(findControl(d, "feedback"), std::invalid_argument);  // two ports
  EXPECT_THROW(findControl(d, "depth"), std::invalid_argument);
  EXPECT_THROW(findControl(d, "0"), std::invalid_argument);        // an audio port
  EXPECT_THROW(findControl(d, "latency"), std::invalid_argument);  // an output
  EXPECT_THROW(findControl(d, "8"), std::invalid_argument);
}

TEST(LadspaBenchRequests, WordsSplitIntoPlugins) {
  const auto requests =
      parseRequests({"a.so", "one", "x=1", "L_Delay=2.5", "@ours", "/lib/b.so", "two", "0=3"});
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].library, "a.so");
  EXPECT_EQ(requests[0].label, "one");
  EXPECT_EQ(requests[0].name, "ours");
  ASSERT_EQ(requests[0].settings.size(), 2u);
  EXPECT_EQ(requests[0].settings[1].first, "L_Delay");
  EXPECT_EQ(requests[0].settings[1].second, "2.5");
  EXPECT_EQ(requests[1].name, "two");  // the label when no name is given
  EXPECT_EQ(requests[1].settings.at(0).first, "0");

  EXPECT_THROW(parseRequests({}), std::invalid_argument);
  EXPECT_THROW(parseRequests({"a.so"}), std::invalid_argument);
  EXPECT_THROW(parseRequests({"x=1", "a.so", "one"}), std::invalid_argument);
  EXPECT_THROW(parseRequests({"a.so", "x=1"}), std::invalid_argument);
  EXPECT_THROW(parseRequests({"@n", "a.so", "one"}), std::invalid_argument);
}

// Runs `plugin` on `blocks` blocks of the test signal, both channels appended.
std::vector<float> render(Plugin& plugin, const StereoSignal& s, unsigned long block,
                          std::size_t blocks) {
  std::vector<float> left(block), right(block), all;
  float* const out[2] = {left.data(), right.data()};
  for (std::size_t b = 0; b < blocks; ++b) {
    const float* const in[2] = {s.left.data() + b * block, s.right.data() + b * block};
    plugin.run(in, out, block);
    all.insert(all.end(), left.begin(), left.end());
    all.insert(all.end(), right.begin(), right.end());
  }
  return all;
}

TEST(LadspaBenchPlugin, MonoInstancesTakeOneChannelEachAndRestartRepeats) {
  constexpr unsigned long kBlock = 256;
  const StereoSignal s = makeSignal(48000, 8 * kBlock);
  // A short delay, so that the echoes of both channels are inside the rendered blocks.
  const std::vector<std::pair<std::string, std::string>> settings{{"delayms", "10"},
                                                                  {"feedbackLevel", "0.5"}};
  Plugin stereo({QUORVEL_LADSPA_PLUGIN, "quorvel_delay", settings, "stereo"}, 48000, kBlock);
  Plugin mono({QUORVEL_LADSPA_PLUGIN, "quorvel_delay_mono", settings, "mono"}, 48000, kBlock);
  EXPECT_EQ(stereo.layout(), Layout::Stereo);
  EXPECT_EQ(mono.layout(), Layout::DualMono);

  const std::vector<float> expected = render(stereo, s, kBlock, 8);
  EXPECT_EQ(render(mono, s, kBlock, 8), expected);
  stereo.restart();
  EXPECT_EQ(render(stereo, s, kBlock, 8), expected);
}

TEST(LadspaBenchPlugin, UnsetControlsStartAtTheirHintedDefault) {
  Plugin p({QUORVEL_LADSPA_PLUGIN, "quorvel_delay", {{"wetMix", "0.5"}}, "delay"}, 48000, 64);
  std::map<std::string, float> values;
  for (const auto& [name, value] : p.controls()) values[name] = value;
  EXPECT_EQ(values.at("delayMs (ms)"), 250.0f);  // DEFAULT_LOW of 0..1000
  EXPECT_EQ(values.at("enabled"), 1.0f);
  EXPECT_EQ(values.at("wetMix"), 0.5f);
  EXPECT_THROW(Plugin({QUORVEL_LADSPA_PLUGIN, "no_such_label", {}, "x"}, 48000, 64),
               std::runtime_error);
}

}  // namespace
