// The plugins in third-party hosts: the LV2 bundle validated and listed by
// the lilv and sord tools, every plugin run by lv2apply, lv2file, ecasound
// and SoX, and the output compared with quorvel-fx apply on the same file
// and settings. A test whose host is not installed skips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "../cli/ScratchDir.hpp"
#include "../cli/SoundFiles.hpp"
#include "PluginAdapter.hpp"

namespace {

using quorvel::audio::Parameter;
using quorvel::audio::ParameterType;
using quorvel::plugins::Variant;
using quorvel::plugins::variants;

const std::string kLv2Env = "LV2_PATH=" QUORVEL_LV2_DIR " ";
const std::string kLadspaEnv = "LADSPA_PATH=" QUORVEL_LADSPA_DIR " ";

struct Result {
  int status;
  std::string output;
};

// Runs `command` through the shell, stdout and stderr together.
Result run(const std::string& command) {
  Result result{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool installed(const std::string& binary) {
  return run("command -v " + binary + " >/dev/null").status == 0;
}

#define REQUIRE_HOST(binary) \
  if (!installed(binary))    \
  GTEST_SKIP() << binary << " is not installed (scripts/setup.sh installs it)"

// One set of control values, in table order.
struct Setting {
  std::string name;
  std::vector<double> values;
};

// Defaults; every number changed (switches at their defaults); every switch flipped.
std::vector<Setting> settingsOf(const Variant& v) {
  Setting defaults{"defaults", {}}, changed{"changed", {}}, switched{"switched", {}};
  for (const Parameter& p : v.parameters) {
    defaults.values.push_back(p.defaultValue);
    const bool toggle = p.type == ParameterType::Boolean;
    switched.values.push_back(toggle ? 1.0 - p.defaultValue : p.defaultValue);
    double value = p.minimum + 0.37 * (p.maximum - p.minimum);
    if (value == p.defaultValue) value = p.minimum + 0.61 * (p.maximum - p.minimum);
    changed.values.push_back(
        toggle ? p.defaultValue
               : quorvel::audio::storedValue(p.type, std::round(value * 1e4) / 1e4));
  }
  return {defaults, changed, switched};
}

// A value as a host reads it (switches as 0 or 1).
std::string text(double value) {
  char out[32];
  std::snprintf(out, sizeof out, "%.9g", value);
  return out;
}

// quorvel-fx's spelling of `key=value`.
std::string toolArgument(const Parameter& p, double value) {
  if (p.type == ParameterType::Boolean)
    return std::string(p.key) + (value > 0 ? "=true" : "=false");
  return std::string(p.key) + "=" + text(value);
}

// Positional values, as ecasound and SoX take them.
std::string positional(const Setting& s, const char* separator) {
  std::string out;
  for (const double value : s.values) out += separator + text(value);
  return out;
}

// Bitwise comparison of two files' samples; headers are not compared.
void expectSameSamples(const std::string& expectedPath, const std::string& actualPath,
                       const std::string& what, double tolerance = 0.0) {
  const Sound expected = SoundFiles::read(expectedPath);
  const Sound actual = SoundFiles::read(actualPath);
  ASSERT_EQ(actual.channels, expected.channels) << what;
  ASSERT_EQ(actual.frames(), expected.frames()) << what;
  ASSERT_EQ(actual.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT) << what << ": not a float file";
  for (std::size_t i = 0; i < expected.samples.size(); ++i) {
    const float e = expected.samples[i], a = actual.samples[i];
    const bool same = tolerance == 0.0 ? std::memcmp(&e, &a, sizeof e) == 0
                                       : std::fabs(double(e) - double(a)) <= tolerance;
    if (!same) {
      ADD_FAILURE() << what << ": sample " << i / expected.channels << " channel "
                    << i % expected.channels << " is " << text(a) << ", quorvel-fx gives "
                    << text(e);
      return;
    }
  }
}

// Float WAV inputs (mono and stereo) and the quorvel-fx output for every
// plugin and setting, made once for all tests.
class PluginHosts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch = new ScratchDir;
    for (unsigned int channels : {1u, 2u}) {
      // A quarter of the level (peak about 0.15): lv2file and ecasound clip
      // at full scale, and the effects add their echoes to the input.
      Sound sound = SoundFiles::testSignal(channels, 48000, 0.5);
      for (float& sample : sound.samples) sample *= 0.25f;
      SoundFiles::write(input(channels), sound);
    }
  }
  static void TearDownTestSuite() {
    delete scratch;
    scratch = nullptr;
  }

  static std::string input(unsigned int channels) {
    return scratch->file(channels == 1 ? "mono.wav" : "stereo.wav");
  }
  static std::string output(const Variant& v, const Setting& s, const std::string& host) {
    return scratch->file(v.slug + "-" + s.name + "-" + host + ".wav");
  }
  // The tool's output for `v` at `s` on `in` (the plain input unless given), rendered on first use.
  static std::string reference(const Variant& v, const Setting& s, std::string in = {}) {
    const std::string path = output(
        v, s,
        in.empty() ? "quorvel-fx" : "quorvel-fx-" + std::filesystem::path(in).stem().string());
    if (std::filesystem::exists(path)) return path;
    if (in.empty()) in = input(v.channels);
    std::string command = std::string(QUORVEL_FX_BINARY) + " apply --encoding float --tail 0 " +
                          in + " " + path + " " + std::string(v.info->name);
    for (std::size_t i = 0; i < s.values.size(); ++i) {
      command += " " + toolArgument(v.parameters[i], s.values[i]);
    }
    const Result r = run(command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
    return path;
  }
  // Runs `command`, which writes `out`, and compares `out` with the tool's output.
  static void check(const Variant& v, const Setting& s, const std::string& command,
                    const std::string& out, double tolerance = 0.0, const std::string& in = {}) {
    const Result r = run(command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
    expectSameSamples(reference(v, s, in), out, command, tolerance);
  }

  // Every plugin and setting as one chain of a single ecasound run (each
  // run idles for half a second on its way out).
  static void ecasoundAll(const std::string& environment,
                          const std::function<std::string(const Variant&)>& effect,
                          const std::string& host) {
    std::string command = environment + "ecasound -q";
    std::vector<std::pair<std::string, std::string>> compared;
    int chain = 0;
    for (const Variant& v : variants()) {
      for (const Setting& s : settingsOf(v)) {
        const std::string out = output(v, s, host);
        command += " -a:" + std::to_string(++chain) + " -f:f32_le," + std::to_string(v.channels) +
                   ",48000 -i " + input(v.channels) + " -o " + out + " " + effect(v) +
                   positional(s, ",");
        compared.emplace_back(reference(v, s), out);
      }
    }
    const Result r = run(command);
    ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
    for (const auto& [expected, actual] : compared) expectSameSamples(expected, actual, actual);
  }

  static ScratchDir* scratch;
};

ScratchDir* PluginHosts::scratch = nullptr;

// The Turtle files of the LV2 project's own vocabulary under `root`: the
// bundles whose manifest describes a subject in the lv2plug.in/ns/ namespace
// (a prefix line alone is what every plugin has), and the schema bundle of
// ontologies they build on. Plugin bundles of other packages are left out,
// so that their mistakes cannot fail the validation of ours.
std::string vocabularyTurtle(const std::filesystem::path& root) {
  std::string files;
  std::error_code error;
  for (const auto& bundle : std::filesystem::directory_iterator(root, error)) {
    std::ifstream in(bundle.path() / "manifest.ttl");
    const std::string manifest((std::istreambuf_iterator<char>(in)), {});
    const bool plugin = manifest.find("lv2:Plugin") != std::string::npos;
    const bool lv2Subject = manifest.rfind("<http://lv2plug.in/ns/", 0) == 0 ||
                            manifest.find("\n<http://lv2plug.in/ns/") != std::string::npos;
    const bool ontologies = manifest.find("owl:Ontology") != std::string::npos;
    if (plugin || (!lv2Subject && !ontologies)) continue;
    for (const auto& file : std::filesystem::directory_iterator(bundle.path(), error)) {
      if (file.path().extension() == ".ttl") files += " '" + file.path().string() + "'";
    }
  }
  return files;
}

// sord_validate over our bundle and the vocabulary found under `root`.
Result validate(const std::filesystem::path& root) {
  return run("sord_validate" + vocabularyTurtle(root) +
             " " QUORVEL_LV2_DIR "/quorvel-fx.lv2/*.ttl");
}

void expectValid(const Result& r) {
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Found 0 errors"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("arning"), std::string::npos) << r.output;
}

TEST_F(PluginHosts, TurtleValidatesAgainstTheLv2Vocabulary) {
  REQUIRE_HOST("sord_validate");
  if (std::string(QUORVEL_LV2_VOCABULARY).empty()) {
    GTEST_SKIP() << "the LV2 vocabulary (lv2-dev) is not installed";
  }
  // Validation against no vocabulary at all would pass vacuously.
  EXPECT_NE(vocabularyTurtle(QUORVEL_LV2_VOCABULARY).find("core.lv2/lv2core.ttl"),
            std::string::npos);
  expectValid(validate(QUORVEL_LV2_VOCABULARY));
}

// Another package's broken plugin bundle beside the vocabulary changes nothing.
TEST_F(PluginHosts, OtherPackagesBundlesDoNotAffectTheValidation) {
  REQUIRE_HOST("sord_validate");
  if (std::string(QUORVEL_LV2_VOCABULARY).empty()) {
    GTEST_SKIP() << "the LV2 vocabulary (lv2-dev) is not installed";
  }
  const std::filesystem::path root = scratch->file("system-lv2");
  std::filesystem::create_directories(root / "broken.lv2");
  for (const auto& bundle : std::filesystem::directory_iterator(QUORVEL_LV2_VOCABULARY)) {
    std::filesystem::create_directory_symlink(bundle.path(), root / bundle.path().filename());
  }
  std::ofstream(root / "broken.lv2" / "manifest.ttl")
      << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
         "<urn:example:broken> a lv2:Plugin , doap:Project ; lv2:binary 3 ; lv2:port 7 .\n";
  const Result broken = run("sord_validate" + vocabularyTurtle(QUORVEL_LV2_VOCABULARY) + " '" +
                            (root / "broken.lv2" / "manifest.ttl").string() + "'");
  ASSERT_EQ(broken.output.find("Found 0 errors"), std::string::npos)
      << "the planted bundle must really be broken:\n"
      << broken.output;
  expectValid(validate(root));
}

TEST_F(PluginHosts, Lv2lsAndLv2infoListEveryPluginAndPort) {
  REQUIRE_HOST("lv2ls");
  REQUIRE_HOST("lv2info");
  const Result list = run(kLv2Env + "lv2ls");
  for (const Variant& v : variants()) {
    EXPECT_NE(list.output.find(v.uri + "\n"), std::string::npos) << v.uri << "\n" << list.output;
    const Result info = run(kLv2Env + "lv2info " + v.uri);
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("Name:              " + v.name + "\n"), std::string::npos);
    EXPECT_EQ(info.output.find("Required Features"), std::string::npos) << info.output;
    EXPECT_EQ(info.output.find("Has latency:       yes") != std::string::npos, v.reportsLatency);
    for (const Parameter& p : v.parameters) {
      char range[160];
      std::snprintf(range, sizeof range,
                    "Minimum:     %f\n\t\tMaximum:     %f\n\t\tDefault:     %f", p.minimum,
                    p.maximum, p.defaultValue);
      const std::size_t at = info.output.find("Symbol:      " + std::string(p.key) + "\n");
      ASSERT_NE(at, std::string::npos) << p.key << "\n" << info.output;
      EXPECT_NE(info.output.find(range, at), std::string::npos) << v.uri << " " << p.key;
    }
  }
}

TEST_F(PluginHosts, Lv2applyMatchesTheToolBitForBit) {
  REQUIRE_HOST("lv2apply");
  for (const Variant& v : variants()) {
    for (const Setting& s : settingsOf(v)) {
      const std::string out = output(v, s, "lv2apply");
      std::string command = kLv2Env + "lv2apply -i " + input(v.channels) + " -o " + out;
      for (std::size_t i = 0; i < s.values.size(); ++i) {
        command += " -c " + std::string(v.parameters[i].key) + " " + text(s.values[i]);
      }
      check(v, s, command + " " + v.uri, out);
    }
  }
}

TEST_F(PluginHosts, Lv2fileMatchesTheToolAtEveryBlockSize) {
  REQUIRE_HOST("lv2file");
  for (const Variant& v : variants()) {
    for (const Setting& s : settingsOf(v)) {
      for (const char* block : {"1", "37", "4096"}) {
        const std::string out = output(v, s, std::string("lv2file-") + block);
        std::string command =
            kLv2Env + "lv2file -b " + block + " -i " + input(v.channels) + " -o " + out;
        for (std::size_t i = 0; i < s.values.size(); ++i) {
          command += " -p " + std::string(v.parameters[i].key) + ":" + text(s.values[i]);
        }
        check(v, s, command + " " + v.uri, out);
      }
    }
  }
}

TEST_F(PluginHosts, EcasoundLv2MatchesTheToolBitForBit) {
  REQUIRE_HOST("ecasound");
  ecasoundAll(
      kLv2Env, [](const Variant& v) { return "-elv2:" + v.uri; }, "eca-lv2");
}

TEST_F(PluginHosts, EcasoundLadspaMatchesTheToolBitForBit) {
  REQUIRE_HOST("ecasound");
  ecasoundAll(
      kLadspaEnv, [](const Variant& v) { return "-el:" + v.label; }, "eca-ladspa");
}

// SoX carries samples as 32-bit integers and rounds a float by up to 3e-8 on
// the way in and again on the way out. The tool therefore runs on SoX's own
// copy of the input (a second copy changes nothing), and the outputs then
// differ by SoX's output rounding alone.
TEST_F(PluginHosts, SoxLadspaMatchesTheToolWithinItsIntegerPath) {
  REQUIRE_HOST("sox");
  for (unsigned int channels : {1u, 2u}) {
    const Result r = run("sox -D " + input(channels) + " " +
                         scratch->file("sox-copy-" + std::to_string(channels) + ".wav"));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  for (const Variant& v : variants()) {
    for (const Setting& s : settingsOf(v)) {
      const std::string out = output(v, s, "sox");
      // SoX 14.4 asks a value for every control port, the latency output included.
      check(v, s,
            kLadspaEnv + "sox -D " + input(v.channels) + " " + out + " ladspa quorvel-fx " +
                v.label + positional(s, " ") + (v.reportsLatency ? " 0" : ""),
            out, 1e-7, scratch->file("sox-copy-" + std::to_string(v.channels) + ".wav"));
    }
  }
}

TEST_F(PluginHosts, ListpluginsAndAnalysepluginShowEveryPluginAndPort) {
  REQUIRE_HOST("listplugins");
  REQUIRE_HOST("analyseplugin");
  const Result list = run(kLadspaEnv + "listplugins");
  for (const Variant& v : variants()) {
    EXPECT_NE(list.output.find(v.name + " (" + std::to_string(v.ladspaId) + "/" + v.label + ")"),
              std::string::npos)
        << list.output;
    const Result info = run(kLadspaEnv + "analyseplugin quorvel-fx " + v.label);
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("Environment: Normal or Hard Real-Time"), std::string::npos);
    for (const Parameter& p : v.parameters) {
      std::string port = "\"" + std::string(p.key) +
                         (p.unit.empty() ? "" : " (" + std::string(p.unit) + ")") +
                         "\" input, control, ";
      if (p.type == ParameterType::Boolean) {
        port += "toggled";
      } else {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", p.minimum, p.maximum);
        port += range;
      }
      EXPECT_NE(info.output.find(port), std::string::npos) << port << "\n" << info.output;
    }
    EXPECT_EQ(info.output.find("\"latency\" output, control") != std::string::npos,
              v.reportsLatency);
  }
}

// Controls far outside their ranges, infinite or not numbers, through a
// real host: the output stays finite.
TEST_F(PluginHosts, ExtremeControlsInLv2applyGiveFiniteOutput) {
  REQUIRE_HOST("lv2apply");
  for (const Variant& v : variants()) {
    for (const char* extreme : {"nan", "inf", "-inf", "1e30", "-1e30"}) {
      const std::string out = scratch->file(v.slug + "-extreme.wav");
      std::string command = kLv2Env + "lv2apply -i " + input(v.channels) + " -o " + out;
      for (const Parameter& p : v.parameters)
        command += " -c " + std::string(p.key) + " " + extreme;
      const Result r = run(command + " " + v.uri);
      ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
      const Sound sound = SoundFiles::read(out);
      for (const float sample : sound.samples) ASSERT_TRUE(std::isfinite(sample)) << command;
    }
  }
}

TEST(PluginInstall, PutsTheBundleAndTheLibraryUnderThePrefix) {
  ScratchDir prefix;
  const Result r = run("\"" QUORVEL_CMAKE "\" --install \"" QUORVEL_BUILD_DIR
                       "\" --component plugins --prefix " +
                       prefix.path());
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string bundle = prefix.file("lib/lv2/quorvel-fx.lv2/");
  EXPECT_TRUE(std::filesystem::exists(bundle + "manifest.ttl"));
  EXPECT_TRUE(std::filesystem::exists(bundle + "quorvel-fx.so"));
  for (const Variant& v : variants())
    EXPECT_TRUE(std::filesystem::exists(bundle + v.slug + ".ttl"));
  EXPECT_TRUE(std::filesystem::exists(prefix.file("lib/ladspa/quorvel-fx.so")));
  if (installed("lv2ls")) {
    const Result list = run("LV2_PATH=" + prefix.file("lib/lv2") + " lv2ls");
    EXPECT_NE(list.output.find(variants().front().uri), std::string::npos) << list.output;
  }
}

}  // namespace
