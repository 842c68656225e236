// Unit checks of how the tool reads and writes files: a data chunk cut short,
// the PCM quantiser, the float WAV's cbSize and the all-or-nothing output file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <fstream>
#include <iterator>
#include <limits>
#include <sndfile.hh>
#include <string>
#include <vector>

#include "AtomicOutput.hpp"
#include "AudioFileReader.hpp"
#include "CommandLine.hpp"
#include "Dither.hpp"
#include "Interrupts.hpp"
#include "ScratchDir.hpp"
#include "WavHeaders.hpp"

using quorvelfx::AtomicOutput;
using quorvelfx::AudioFileReader;
using quorvelfx::FloatWavFile;
using quorvelfx::PcmQuantiser;
using quorvelfx::Quantisation;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int> quantise(int bits, bool dither, const std::vector<float>& samples,
                          std::uint64_t* clipped = nullptr) {
  Quantisation quantisation;
  quantisation.dither = dither;
  PcmQuantiser quantiser(bits, quantisation);
  std::vector<int> integers(samples.size());
  const std::uint64_t over = quantiser.quantise(samples.data(), integers.data(), samples.size());
  if (clipped != nullptr) *clipped = over;
  return integers;
}

}  // namespace

// libsndfile reports a data chunk longer than the file only in its log; the
// reader's warning depends on that text, so a change of it must show here.
TEST(AudioFileReader, DataCutShortIsReadAsFarAsItGoesWithAWarning) {
  ScratchDir dir;
  const std::vector<short> frames(2 * 1000, 1000);
  for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16}) {
    const bool wav = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    SCOPED_TRACE(wav ? "WAV" : "AIFF");
    const std::string whole = dir.file(wav ? "whole.wav" : "whole.aiff");
    {
      SndfileHandle file(whole, SFM_WRITE, format, 2, 44100);
      ASSERT_EQ(file.writef(frames.data(), 1000), 1000);
    }
    EXPECT_EQ(AudioFileReader(whole).warning(), "");
    const std::string bytes = slurp(whole);
    const std::string cut = dir.file(wav ? "cut.wav" : "cut.aiff");
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 400);  // 100 frames

    AudioFileReader reader(cut);
    EXPECT_EQ(reader.frames(), 900u);
    // An AIFF's SSND size counts its 8-byte offset and block-size fields too.
    const std::string declared = wav ? "4000" : "4008";
    const std::string present = wav ? "3600" : "3608";
    EXPECT_EQ(reader.warning(), cut + ": data chunk declares " + declared +
                                    " bytes but the file holds " + present +
                                    "; read the 900 frames there");
    std::vector<float> samples(2 * 1000);
    EXPECT_EQ(reader.read(samples.data(), 1000), 900u);
    EXPECT_EQ(samples[2 * 899], 1000.0f / 32768.0f);
    EXPECT_EQ(samples[2 * 900], 0.0f);  // past the end: silence, not stale data
    EXPECT_EQ(reader.read(samples.data(), 1000), 0u);
  }
}

TEST(PcmQuantiser, RoundsToNearestStepHalfUpAndClampsAtFullScale) {
  const float step = 1.0f / 32768.0f;
  std::uint64_t clipped = 0;
  const std::vector<int> out =
      quantise(16, false,
               {0.0f, 0.5f * step, -0.5f * step, 0.49f * step, -0.51f * step, 1.0f, -1.0f, 1.5f,
                -std::numeric_limits<float>::infinity(), std::nanf("")},
               &clipped);
  const int one = 1 << 16;  // left-justified: one 16-bit step
  EXPECT_EQ(out,
            (std::vector<int>{0, one, 0, 0, -one, 32767 * one, INT_MIN, 32767 * one, INT_MIN, 0}));
  EXPECT_EQ(clipped, 2u);  // 1.5 and -inf; full scale itself is not clipped
}

TEST(PcmQuantiser, WidthsShiftIntoThe32BitWord) {
  EXPECT_EQ(quantise(8, false, {0.25f, -1.0f}), (std::vector<int>{32 << 24, INT_MIN}));
  EXPECT_EQ(quantise(24, false, {0.5f}), (std::vector<int>{(1 << 22) << 8}));
  // 32-bit output is never dithered, even when asked.
  EXPECT_EQ(quantise(32, true, {1.0f, 0.5f}), (std::vector<int>{INT_MAX, 1 << 30}));
}

TEST(PcmQuantiser, DitherIsSplitmix64Tpdf) {
  // The first two outputs of splitmix64 seeded with 0, as published with the generator.
  std::uint64_t state = 0;
  const double expected = static_cast<double>(0xE220A8397B1DCDAFull >> 11) * 0x1.0p-53 +
                          static_cast<double>(0x6E789E6AA1B965F4ull >> 11) * 0x1.0p-53 - 1.0;
  EXPECT_EQ(PcmQuantiser::ditherOffset(state), expected);
  for (int i = 0; i < 10000; ++i) {
    const double offset = PcmQuantiser::ditherOffset(state);
    ASSERT_GE(offset, -1.0);
    ASSERT_LT(offset, 1.0);
  }
}

TEST(PcmQuantiser, DitherMovesAtMostOneStepAndIgnoresBlockSizes) {
  std::vector<float> samples(1000);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = 0.7f * std::sin(0.01f * static_cast<float>(i));
  }
  const std::vector<int> plain = quantise(16, false, samples);
  const std::vector<int> whole = quantise(16, true, samples);
  int moved = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const int difference = (whole[i] - plain[i]) / (1 << 16);
    ASSERT_LE(std::abs(difference), 1) << i;
    moved += difference != 0;
  }
  EXPECT_GT(moved, 100);  // a TPDF of one step peak moves about half the samples

  // The random sequence runs on across calls: blocks give the same integers.
  PcmQuantiser blocks(16, Quantisation{});
  std::vector<int> pieces(samples.size());
  for (std::size_t at = 0; at < samples.size(); at += 7) {
    const std::size_t count = std::min<std::size_t>(7, samples.size() - at);
    blocks.quantise(samples.data() + at, pieces.data() + at, count);
  }
  EXPECT_EQ(pieces, whole);
}

TEST(WavHeaders, StreamingHeaderDeclaresUnknownSizes) {
  const std::vector<unsigned char> pcm =
      quorvelfx::streamingWavHeader(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2);
  const std::string expected(
      "RIFF\xFF\xFF\xFF\xFFWAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0"
      "\x10\xB1\x02\0\x04\0\x10\0data\xFF\xFF\xFF\xFF",
      44);
  EXPECT_EQ(std::string(pcm.begin(), pcm.end()), expected);
  const std::vector<unsigned char> wide =
      quorvelfx::streamingWavHeader(SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1);
  const std::string fmt("fmt \x12\0\0\0\x03\0\x01\0\x80\xBB\0\0\0\xDC\x05\0\x08\0\x40\0\0\0", 26);
  EXPECT_EQ(std::string(wide.begin() + 12, wide.begin() + 38), fmt);
  EXPECT_EQ(std::string(wide.begin() + 38, wide.end()), std::string("fact\x04\0\0\0\xFF\xFF\xFF\xFF"
                                                                    "data\xFF\xFF\xFF\xFF",
                                                                    20));
}

// Through FloatWavFile, libsndfile's own float WAV with cbSize = 0 added and
// the sizes grown by it; nothing else may differ.
TEST(WavHeaders, FloatWavGetsCbSizeAndOtherwiseLibsndfilesBytes) {
  ScratchDir dir;
  std::vector<float> samples(2 * 3000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(0.003f * i);
  const int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  {
    SndfileHandle plain(dir.file("plain.wav"), SFM_WRITE, format, 2, 44100);
    plain.command(SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    plain.setString(SF_STR_TITLE, "Night Train");
    ASSERT_EQ(plain.writef(samples.data(), 3000), 3000);
  }
  // Once on a read-write descriptor, once on a write-only one (a shell's redirection).
  for (const int access : {O_RDWR, O_WRONLY}) {
    SCOPED_TRACE(access == O_RDWR ? "read-write" : "write-only");
    const std::string path = dir.file("extended.wav");
    const int descriptor = open(path.c_str(), access | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    {
      FloatWavFile device(descriptor);
      ASSERT_EQ(device.error(), 0);
      {
        SndfileHandle file(device.io(), &device, SFM_WRITE, format, 2, 44100);
        ASSERT_NE(file.rawHandle(), nullptr);
        file.command(SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
        file.setString(SF_STR_TITLE, "Night Train");
        ASSERT_EQ(file.writef(samples.data(), 1000), 1000);
        ASSERT_EQ(file.writef(samples.data() + 2000, 2000), 2000);
      }
      ASSERT_TRUE(device.finish()) << device.error();
    }
    EXPECT_EQ(lseek(descriptor, 0, SEEK_CUR), lseek(descriptor, 0, SEEK_END));
    close(descriptor);

    std::string expected = slurp(dir.file("plain.wav"));
    ASSERT_GT(expected.size(), 44u);
    expected.insert(36, std::string("\0\0", 2));
    const std::uint32_t riff = static_cast<std::uint32_t>(expected.size() - 8);
    for (int i = 0; i < 4; ++i) expected[4 + i] = static_cast<char>(riff >> (8 * i));
    expected[16] = 18;
    EXPECT_EQ(slurp(path), expected);

    SndfileHandle back(path);
    ASSERT_EQ(back.frames(), 3000);
    std::vector<float> read(samples.size());
    ASSERT_EQ(back.readf(read.data(), 3000), 3000);
    EXPECT_EQ(read, samples);
  }
}

// Any other header (here PCM, which needs no cbSize) is moved back where
// libsndfile put it, so the file is exactly libsndfile's.
TEST(WavHeaders, OtherHeadersComeOutAsLibsndfileWroteThem) {
  ScratchDir dir;
  const std::vector<short> samples(2 * 500, -1234);
  const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  {
    SndfileHandle plain(dir.file("plain.wav"), SFM_WRITE, format, 2, 8000);
    ASSERT_EQ(plain.writef(samples.data(), 500), 500);
  }
  const int descriptor = open(dir.file("through.wav").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(descriptor, 0);
  {
    FloatWavFile device(descriptor);
    {
      SndfileHandle file(device.io(), &device, SFM_WRITE, format, 2, 8000);
      ASSERT_EQ(file.writef(samples.data(), 500), 500);
    }
    ASSERT_TRUE(device.finish()) << device.error();
  }
  close(descriptor);
  EXPECT_EQ(slurp(dir.file("through.wav")), slurp(dir.file("plain.wav")));
}

TEST(AtomicOutput, ReplacesOnlyOnCommitAndLeavesNothingElse) {
  ScratchDir dir;
  const std::string output = dir.file("out.wav");
  std::ofstream(output) << "old";
  chmod(output.c_str(), 0640);
  symlink("out.wav", dir.file("link.wav").c_str());
  {
    AtomicOutput abandoned(dir.file("link.wav"));
    EXPECT_FALSE(abandoned.isDirect());
    ASSERT_EQ(write(abandoned.descriptor(), "partial", 7), 7);
    EXPECT_EQ(dir.entries(), 3u);  // out.wav, link.wav and the temporary
  }
  EXPECT_EQ(slurp(output), "old");
  EXPECT_EQ(dir.entries(), 2u);

  AtomicOutput finished(dir.file("link.wav"));
  ASSERT_EQ(write(finished.descriptor(), "new", 3), 3);
  EXPECT_EQ(slurp(output), "old");
  finished.commit();
  EXPECT_TRUE(finished.temporaryPath().empty());
  EXPECT_EQ(slurp(output), "new");
  struct stat status {};
  ASSERT_EQ(lstat(dir.file("link.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));  // the link is written through, not replaced
  ASSERT_EQ(stat(output.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.entries(), 2u);
}

TEST(AtomicOutput, RefusesWhatCannotBeWrittenWithoutLeavingAFile) {
  ScratchDir dir;
  try {
    AtomicOutput output(dir.path());
    FAIL() << "a directory was taken as an output";
  } catch (const quorvelfx::CliError& error) {
    EXPECT_EQ(error.code(), quorvelfx::kExitIo);
    EXPECT_EQ(std::string(error.what()), dir.path() + ": output is a directory");
  }
  EXPECT_THROW(AtomicOutput(dir.file("missing/out.wav")), quorvelfx::CliError);
  EXPECT_EQ(dir.entries(), 0u);

  // A failed rename (the target became a directory) removes the temporary.
  AtomicOutput output(dir.file("out.wav"));
  mkdir(dir.file("out.wav").c_str(), 0755);
  EXPECT_THROW(output.commit(), quorvelfx::CliError);
  EXPECT_EQ(dir.entries(), 1u);
}

// The one handler: terminal first, then the message, then the tracked
// temporaries, then the status; an untracked file stays.
TEST(Interrupts, OneHandlerClearsSaysRemovesAndExits) {
  ScratchDir dir;
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    const std::string tracked = dir.file("tracked");
    const std::string kept = dir.file("kept");
    std::ofstream(tracked) << "partial";
    std::ofstream(kept) << "keep";
    int messages[2];
    ASSERT_EQ(pipe(messages), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(messages[1], STDERR_FILENO);
      quorvelfx::Interrupts::install([]() noexcept {
        const ssize_t ignored = write(STDERR_FILENO, "[clear]", 7);
        static_cast<void>(ignored);
      });
      const int slot = quorvelfx::Interrupts::track(tracked);
      quorvelfx::Interrupts::untrack(quorvelfx::Interrupts::track(kept));
      if (slot < 0) _exit(99);
      raise(signal);
      _exit(98);
    }
    close(messages[1]);
    std::string said;
    char buffer[256];
    for (ssize_t got; (got = read(messages[0], buffer, sizeof buffer)) > 0;) {
      said.append(buffer, static_cast<std::size_t>(got));
    }
    close(messages[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), signal == SIGINT ? 130 : 143);
    EXPECT_EQ(said, signal == SIGINT ? "[clear]quorvel-fx: interrupted\n"
                                     : "[clear]quorvel-fx: terminated\n");
    EXPECT_NE(access(tracked.c_str(), F_OK), 0);
    EXPECT_EQ(slurp(kept), "keep");
  }
}
