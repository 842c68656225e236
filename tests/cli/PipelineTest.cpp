// `quorvel-fx apply` moves audio in chunks of many blocks, read and written on
// threads of their own: the output must not show where chunks end, and a
// failure in any stage must end the run with its error instead of hanging.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <quorvel/QVAny.hpp>
#include <string>
#include <vector>

#include "FxRunner.hpp"
#include "ReferenceChain.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

using quorvel::QVAny;

constexpr unsigned int kRate = 44100;
constexpr unsigned int kChunk = 65536;       // frames per chunk, rounded down to whole blocks
constexpr unsigned int kStreamChunk = 4096;  // the same when reading from a pipe
constexpr int kIoError = 3;

Sound firstFrames(const Sound& sound, std::size_t frames) {
  Sound cut = sound;
  cut.samples.resize(frames * sound.channels);
  return cut;
}

void expectIdentical(const std::vector<float>& expected, const std::vector<float>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], actual[i]) << "first difference at sample " << i;
  }
}

// Runs `frames` of the test signal through the chain at `--block block`,
// from a file or through a pipe, and compares it with the nodes driven directly.
void expectReferenceOutput(const ScratchDir& dir, std::size_t frames, unsigned int block,
                           bool piped) {
  static const Sound signal = SoundFiles::testSignal(2, kRate, 4.5);
  const std::vector<ReferenceEffect> chain = {
      {"Delay", {{"delayMs", QVAny(40u)}, {"feedbackLevel", QVAny(0.5f)}}},
      {"Flanger", {{"sweepWidth", QVAny(0.003f)}}}};
  SCOPED_TRACE("--block " + std::to_string(block) + ", " + std::to_string(frames) + " frames" +
               (piped ? ", piped" : ""));
  const Sound dry = firstFrames(signal, frames);
  SoundFiles::write(dir.file("in.wav"), dry);
  const std::string command = (piped ? "cat in.wav | \"$FX\" apply - " : "\"$FX\" apply in.wav ") +
                              std::string("out.wav -q --tail 0.1 --block ") +
                              std::to_string(block) +
                              " Delay delayMs=40 feedbackLevel=0.5 Flanger sweepWidth=0.003";
  const auto outcome = FxRunner::shell(command, dir.path());
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  expectIdentical(ReferenceChain::process(dry, chain, kRate / 10),
                  SoundFiles::read(dir.file("out.wav")).samples);
}

TEST(Pipeline, ChunkEndsDoNotShowInTheOutput) {
  ScratchDir dir;
  for (const unsigned int block : {1u, 37u, 256u, 65536u}) {
    const std::size_t chunk = kChunk / block * block;
    for (const std::size_t frames : {std::size_t{20}, chunk, chunk + 1, 3 * chunk + 5}) {
      expectReferenceOutput(dir, frames, block, false);
    }
  }
  // From a pipe the length is not known, the input runs to its end and the
  // chunks are shorter; an end on a block boundary takes one more read.
  const std::size_t streamChunk = kStreamChunk / 37 * 37;
  for (const std::size_t frames :
       {std::size_t{37 * 100}, streamChunk, streamChunk + 1, std::size_t{kChunk}}) {
    expectReferenceOutput(dir, frames, 37, true);
  }
}

TEST(Pipeline, EmptyInputGivesTheTailAlone) {
  ScratchDir dir;
  const std::string input = dir.file("empty.wav");
  SoundFiles::write(input, Sound{kRate, 2, {}});
  for (const char* tail : {"0", "0.5"}) {
    const auto outcome =
        FxRunner::run({"apply", "-q", "--tail", tail, input, dir.file("out.wav"), "Chorus"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const Sound wet = SoundFiles::read(dir.file("out.wav"));
    EXPECT_EQ(wet.frames(), std::string(tail) == "0" ? 0u : kRate / 2);
  }
}

TEST(Pipeline, FailedWritesEndTheRun) {
  ScratchDir dir;
  // Many chunks, so that the failing writer has plenty queued behind it.
  const std::string input = dir.file("long.wav");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 12.0));
  // Raw output has no header, so the first samples are the first write to fail.
  const std::vector<std::vector<std::string>> options = {
      {}, {"--encoding", "pcm16"}, {"--norm"}, {"--block", "1"}};
  for (const auto& extra : options) {
    std::vector<std::string> args = {"apply", "-q", "--tail", "0", "--type", "raw"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {input, "/dev/full", "Delay"});
    const auto outcome = FxRunner::run(args);
    EXPECT_EQ(outcome.exitCode, kIoError);
    EXPECT_EQ(outcome.err,
              "quorvel-fx: error: /dev/full: write error: System error : No space left on "
              "device.\n");
  }
  // A WAV header is written when the file is opened, and fails there.
  const auto wav = FxRunner::run({"apply", "-q", "--type", "wav", input, "/dev/full", "Delay"});
  EXPECT_EQ(wav.exitCode, kIoError);
  EXPECT_NE(wav.err.find("/dev/full: cannot write output: "), std::string::npos) << wav.err;
}

TEST(Pipeline, ReadErrorMidFileEndsTheRun) {
  ScratchDir dir;
  const std::string input = dir.file("damaged.flac");
  SoundFiles::write(input, SoundFiles::testSignal(2, kRate, 12.0),
                    SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  {
    std::fstream file(input, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    file.seekp(size / 2);
    const std::string garbage(static_cast<std::size_t>(size / 8), '\x5a');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  for (const char* output : {"out.wav", "out.flac"}) {
    const auto outcome = FxRunner::run({"apply", "-q", input, dir.file(output), "Chorus"});
    EXPECT_EQ(outcome.exitCode, kIoError);
    EXPECT_NE(outcome.err.find("quorvel-fx: error: " + input + ": read error: "), std::string::npos)
        << outcome.err;
  }
  // Neither an output nor a temporary is left beside the input.
  EXPECT_EQ(dir.entries(), 1u);
}

}  // namespace
