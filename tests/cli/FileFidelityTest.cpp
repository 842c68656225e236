// What `quorvel-fx apply` keeps of its input file: sample values through bit
// depth reduction, the encoding, the header readers expect, and the tags.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

constexpr unsigned int kRate = 44100;
constexpr double kStep16 = 1.0 / 32768.0;

// A chain that passes the input through unchanged, so the output differs
// from it only by what writing the file did.
const std::vector<std::string> kPassThrough{"Delay", "dryMix=1", "wetMix=0", "feedbackLevel=0"};

FxRunner::Outcome apply(const std::vector<std::string>& options, const std::string& input,
                        const std::string& output) {
  std::vector<std::string> args{"apply", "-q", "--tail", "0"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(input);
  args.push_back(output);
  args.insert(args.end(), kPassThrough.begin(), kPassThrough.end());
  return FxRunner::run(args);
}

Sound sine(double decibels, double seconds) {
  Sound sound;
  sound.sampleRate = kRate;
  sound.channels = 1;
  const double amplitude = std::pow(10.0, decibels / 20.0);
  for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * kRate); ++i) {
    sound.samples.push_back(
        static_cast<float>(amplitude * std::sin(2.0 * M_PI * 997.0 * i / kRate)));
  }
  return sound;
}

std::vector<short> readShorts(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return {};
  std::vector<short> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_short(file, samples.data(), info.frames);
  sf_close(file);
  return samples;
}

std::string bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t distinctValues(const std::vector<short>& samples) {
  return std::set<short>(samples.begin(), samples.end()).size();
}

class FileFidelityTest : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(FileFidelityTest, ReducingBitDepthRoundsWithoutBias) {
  const std::string input = dir.file("in24.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 3.0), SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  ASSERT_EQ(apply({"--encoding", "float"}, input, dir.file("ref.wav")).exitCode, 0);
  const auto rounded = apply({"--encoding", "pcm16", "--no-dither"}, input, dir.file("out.wav"));
  ASSERT_EQ(rounded.exitCode, 0) << rounded.err;

  const Sound reference = SoundFiles::read(dir.file("ref.wav"));
  const Sound output = SoundFiles::read(dir.file("out.wav"));
  ASSERT_EQ(output.samples.size(), reference.samples.size());
  double sum = 0.0;
  double worst = 0.0;
  for (std::size_t i = 0; i < output.samples.size(); ++i) {
    const double error = (output.samples[i] - reference.samples[i]) / kStep16;
    sum += error;
    worst = std::max(worst, std::fabs(error));
  }
  EXPECT_LT(std::fabs(sum / output.samples.size()), 0.1) << "DC bias in steps";
  EXPECT_LE(worst, 0.5 + 1e-6) << "rounding is never off by more than half a step";
}

// Non-finite samples of a float input cannot make the integer writer misbehave:
// a NaN becomes silence, infinities clip to full scale.
TEST_F(FileFidelityTest, NonFiniteSamplesQuantiseSafely) {
  Sound odd;
  odd.sampleRate = kRate;
  odd.channels = 1;
  odd.samples = {std::nanf(""), INFINITY, -INFINITY, 0.5f};
  const std::string input = dir.file("odd.wav");
  SoundFiles::write(input, odd);
  const auto outcome = apply({"--encoding", "pcm16", "--no-dither"}, input, dir.file("odd16.wav"));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(readShorts(dir.file("odd16.wav")), (std::vector<short>{0, 32767, -32768, 16384}));
}

TEST_F(FileFidelityTest, DitherKeepsSignalsBelowOneStep) {
  const std::string faint = dir.file("faint.wav");
  SoundFiles::write(faint, sine(-92.0, 2.0));
  ASSERT_EQ(apply({"--encoding", "pcm16"}, faint, dir.file("faint16.wav")).exitCode, 0);
  EXPECT_GT(distinctValues(readShorts(dir.file("faint16.wav"))), 2u);

  // A third of a step rounds to silence; dithered, it survives on average.
  const Sound quiet = sine(-100.0, 2.0);
  const std::string quietPath = dir.file("quiet.wav");
  SoundFiles::write(quietPath, quiet);
  ASSERT_EQ(
      apply({"--encoding", "pcm16", "--no-dither"}, quietPath, dir.file("plain.wav")).exitCode, 0);
  EXPECT_EQ(distinctValues(readShorts(dir.file("plain.wav"))), 1u);

  ASSERT_EQ(apply({"--encoding", "pcm16"}, quietPath, dir.file("dithered.wav")).exitCode, 0);
  const std::vector<short> dithered = readShorts(dir.file("dithered.wav"));
  ASSERT_EQ(dithered.size(), quiet.samples.size());
  EXPECT_GT(distinctValues(dithered), 2u);
  double along = 0.0;
  double energy = 0.0;
  for (std::size_t i = 0; i < dithered.size(); ++i) {
    const double x = quiet.samples[i] / kStep16;
    along += dithered[i] * x;
    energy += x * x;
  }
  EXPECT_NEAR(along / energy, 1.0, 0.15) << "dithered output keeps the sine's level";
}

TEST_F(FileFidelityTest, DitherIsRepeatableAndSeeded) {
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 0.5));
  for (const char* encoding : {"pcm8", "pcm16", "pcm24"}) {
    SCOPED_TRACE(encoding);
    ASSERT_EQ(apply({"--encoding", encoding}, input, dir.file("a.wav")).exitCode, 0);
    ASSERT_EQ(apply({"--encoding", encoding}, input, dir.file("b.wav")).exitCode, 0);
    ASSERT_EQ(apply({"--encoding", encoding, "--seed", "7"}, input, dir.file("c.wav")).exitCode, 0);
    EXPECT_EQ(bytes(dir.file("a.wav")), bytes(dir.file("b.wav")));
    EXPECT_NE(bytes(dir.file("a.wav")), bytes(dir.file("c.wav")));
  }
  EXPECT_EQ(apply({"--seed", "-1"}, input, dir.file("d.wav")).exitCode, 2);
}

TEST_F(FileFidelityTest, OutputKeepsTheInputsEncoding) {
  struct Case {
    std::string input;
    int inputFormat;
    std::string output;
    std::vector<std::string> options;
    int expected;
  };
  const Case cases[] = {
      {"a.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       "a-out.wav",
       {},
       SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"b.flac",
       SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
       "b-out.flac",
       {},
       SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"c.aiff",
       SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
       "c-out.aif",
       {},
       SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"d.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
       "d-out.wav",
       {},
       SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
      // Another container takes its own default.
      {"a.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       "a-out.flac",
       {},
       SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"a.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       "a-out.aiff",
       {},
       SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
      // --encoding wins over the input's.
      {"a.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       "e.wav",
       {"--encoding", "pcm32"},
       SF_FORMAT_WAV | SF_FORMAT_PCM_32},
      {"a.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_16,
       "f.wav",
       {"--encoding", "double"},
       SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
      {"b.flac",
       SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
       "g.flac",
       {"--encoding", "pcm8"},
       SF_FORMAT_FLAC | SF_FORMAT_PCM_S8},
  };
  const Sound signal = SoundFiles::testSignal(2, kRate, 0.2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " -> " + c.output);
    SoundFiles::write(dir.file(c.input), signal, c.inputFormat);
    const auto outcome = apply(c.options, dir.file(c.input), dir.file(c.output));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(SoundFiles::read(dir.file(c.output)).format, c.expected);
  }

  const std::string input = dir.file("a.wav");
  for (const char* encoding : {"pcm32", "double", "float"}) {
    const auto refused = apply({"--encoding", encoding}, input, dir.file("x.flac"));
    EXPECT_EQ(refused.exitCode, 2) << encoding;
    EXPECT_NE(refused.err.find("FLAC cannot hold"), std::string::npos) << refused.err;
  }
}

// Float and 32-bit PCM hold every float sample exactly.
TEST_F(FileFidelityTest, WideEncodingsAreExact) {
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 0.3), SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  ASSERT_EQ(apply({"--encoding", "float"}, input, dir.file("float.aiff")).exitCode, 0);
  const Sound reference = SoundFiles::read(dir.file("float.aiff"));
  for (const char* encoding : {"float", "double", "pcm32"}) {
    SCOPED_TRACE(encoding);
    const std::string output = dir.file(std::string(encoding) + ".wav");
    ASSERT_EQ(apply({"--encoding", encoding}, input, output).exitCode, 0);
    const Sound wide = SoundFiles::read(output);
    ASSERT_EQ(wide.samples.size(), reference.samples.size());
    for (std::size_t i = 0; i < wide.samples.size(); ++i) {
      ASSERT_EQ(wide.samples[i], reference.samples[i]) << "sample " << i;
    }
  }
}

TEST_F(FileFidelityTest, FloatWavHeaderSatisfiesSox) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
  const std::string input = dir.file("in.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 0.2), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  for (const char* encoding : {"float", "double"}) {
    SCOPED_TRACE(encoding);
    const std::string output = dir.file(std::string(encoding) + ".wav");
    ASSERT_EQ(apply({"--encoding", encoding}, input, output).exitCode, 0);
    std::string said;
    FILE* sox = popen(("sox " + output + " -n stat 2>&1").c_str(), "r");
    ASSERT_NE(sox, nullptr);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, sox) != nullptr) said += buffer;
    EXPECT_EQ(pclose(sox), 0) << said;
    EXPECT_EQ(said.find("WARN"), std::string::npos) << said;
    EXPECT_NE(said.find("Samples read:             17640"), std::string::npos) << said;
  }
}

TEST_F(FileFidelityTest, TagsComeThrough) {
  const std::vector<std::pair<int, std::string>> tags{
      {SF_STR_TITLE, "Night Train"}, {SF_STR_ARTIST, "The Quorvels"}, {SF_STR_COMMENT, "take 3"}};
  const Sound signal = SoundFiles::testSignal(2, kRate, 0.2);
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
    const std::string input =
        dir.file(format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) ? "in.wav" : "in.flac");
    SF_INFO info{};
    info.samplerate = static_cast<int>(kRate);
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(input.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    for (const auto& [id, value] : tags) sf_set_string(file, id, value.c_str());
    sf_writef_float(file, signal.samples.data(), static_cast<sf_count_t>(signal.frames()));
    sf_close(file);

    for (const char* output : {"out.wav", "out.flac"}) {
      SCOPED_TRACE(input + " -> " + output);
      const auto outcome = apply({}, input, dir.file(output));
      ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
      SF_INFO readInfo{};
      SNDFILE* read = sf_open(dir.file(output).c_str(), SFM_READ, &readInfo);
      ASSERT_NE(read, nullptr);
      for (const auto& [id, value] : tags) {
        const char* got = sf_get_string(read, id);
        EXPECT_EQ(got ? std::string(got) : "(none)", value) << "tag " << id;
      }
      sf_close(read);
    }
  }
}

TEST_F(FileFidelityTest, ShortDataIsReadToTheEndWithAWarning) {
  const std::string whole = dir.file("whole.wav");
  SoundFiles::write(whole, SoundFiles::testSignal(2, kRate, 1.0), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const std::string cut = dir.file("cut.wav");
  const std::string wholeBytes = bytes(whole);
  const std::size_t header = wholeBytes.size() - 4 * kRate;
  const std::size_t keptFrames = 1000;
  std::ofstream(cut, std::ios::binary) << wholeBytes.substr(0, header + 4 * keptFrames);

  const auto outcome = apply({"--encoding", "float"}, cut, dir.file("out.wav"));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.err.rfind("quorvel-fx: warning: ", 0), 0u) << outcome.err;
  EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
  EXPECT_NE(outcome.err.find("1000 frames"), std::string::npos) << outcome.err;
  const Sound out = SoundFiles::read(dir.file("out.wav"));
  const Sound in = SoundFiles::read(whole);
  ASSERT_EQ(out.frames(), keptFrames);
  for (std::size_t i = 0; i < out.samples.size(); ++i) {
    ASSERT_EQ(out.samples[i], in.samples[i]) << "sample " << i;
  }

  ASSERT_EQ(apply({}, whole, dir.file("fine.wav")).exitCode, 0);
  EXPECT_EQ(apply({}, whole, dir.file("fine.wav")).err, "") << "a whole file gets no warning";
}

}  // namespace
