// quorvel-fx on hostile input and failing storage, beyond the tool's own error
// tests: WAV headers that lie, a disk that fills up mid-write, a read-only
// filesystem and a file-size limit that makes the writes fail. Each run must
// end with the documented exit status and a single error line, leave no
// partial or temporary file and keep an existing output byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kExitIo = 3;
const std::string kPrecious = "precious bytes, not audio";

// The tool binary of the same build tree: <build>/tools/quorvel-fx beside
// <build>/tests/<this test>.
fs::path toolBinary() {
#ifdef QUORVEL_FX_LAUNCHER
  return QUORVEL_FX_LAUNCHER;  // a cross build: the tool through the emulator
#endif
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "quorvel-fx";
}

struct Outcome {
  int exitCode = -1;
  int signal = 0;
  std::string err;
  std::string out;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the tool with `args`; with `fileSizeLimit` > 0 the child may not write
// files beyond that many bytes (writes past it fail with EFBIG: SIGXFSZ is
// ignored so that the failure reaches the tool as an error, not a kill).
Outcome runTool(const std::vector<std::string>& args, const fs::path& captureDir,
                rlim_t fileSizeLimit = 0) {
  const fs::path outPath = captureDir / "stdout", errPath = captureDir / "stderr";
  const pid_t child = fork();
  if (child == 0) {
    std::freopen(outPath.c_str(), "w", stdout);
    std::freopen(errPath.c_str(), "w", stderr);
    if (fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    const std::string binary = toolBinary().string();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Outcome outcome;
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.out = slurp(outPath);
  outcome.err = slurp(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return outcome;
}

// A little-endian RIFF/WAVE file; every header field can be set to a lie.
struct WavHeader {
  std::uint16_t format = 1;  // 1 PCM, 3 IEEE float
  std::uint16_t channels = 2;
  std::uint32_t sampleRate = 48000;
  std::uint16_t bitsPerSample = 16;
  std::int64_t dataBytesClaimed = -1;  // -1: the real size
};

void put16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, static_cast<std::uint16_t>(v & 0xFFFF));
  put16(s, static_cast<std::uint16_t>(v >> 16));
}

std::string wavFile(const WavHeader& h, const std::string& data) {
  const std::uint32_t claimed = h.dataBytesClaimed < 0
                                    ? static_cast<std::uint32_t>(data.size())
                                    : static_cast<std::uint32_t>(h.dataBytesClaimed);
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(h.channels * (h.bitsPerSample / 8));
  std::string s = "RIFF";
  put32(s, 36 + claimed);
  s += "WAVEfmt ";
  put32(s, 16);
  put16(s, h.format);
  put16(s, h.channels);
  put32(s, h.sampleRate);
  put32(s, h.sampleRate * blockAlign);
  put16(s, blockAlign);
  put16(s, h.bitsPerSample);
  s += "data";
  put32(s, claimed);
  return s + data;
}

// `frames` frames of a 16-bit tone on `channels` channels.
std::string pcm16Tone(unsigned int channels, unsigned int frames) {
  std::string data;
  for (unsigned int f = 0; f < frames; ++f)
    for (unsigned int c = 0; c < channels; ++c)
      put16(data,
            static_cast<std::uint16_t>(static_cast<std::int16_t>(8000.0 * std::sin(0.01 * f + c))));
  return data;
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::size_t entries(const fs::path& dir) {
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    static_cast<void>(entry);
    ++n;
  }
  return n;
}

class ToolFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(toolBinary()))
      GTEST_SKIP() << "quorvel-fx is not built in this tree (" << toolBinary() << ")";
    char pattern[] = "/tmp/quorvel-fx-reliability-XXXXXX";
    scratch = mkdtemp(pattern);
    char capturePattern[] = "/tmp/quorvel-fx-capture-XXXXXX";
    capture = mkdtemp(capturePattern);
    input = scratch / "in.wav";
    writeFile(input, wavFile(WavHeader{}, pcm16Tone(2, 48000)));
  }
  void TearDown() override {
    if (!mountPoint.empty()) umount2(mountPoint.c_str(), MNT_DETACH);
    if (!scratch.empty()) fs::remove_all(scratch);
    if (!capture.empty()) fs::remove_all(capture);
  }

  // Mounts a tmpfs of `bytes` at scratch/<name> (read-only if asked); false
  // when this process may not mount (not root, or no CAP_SYS_ADMIN).
  bool mountTmpfs(const std::string& name, std::size_t bytes, bool readOnly = false) {
    const fs::path point = scratch / name;
    fs::create_directory(point);
    const std::string options = "size=" + std::to_string(bytes);
    if (mount("tmpfs", point.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0)
      return false;
    mountPoint = point;
    return true;
  }

  // Checks a failed run: the status, one "quorvel-fx: error: " line naming
  // `culprit`, nothing on stdout, `dir` holding what it held before and
  // `existing` (if given) untouched.
  void expectCleanFailure(const Outcome& o, int code, const std::string& culprit,
                          const fs::path& dir, std::size_t entriesBefore,
                          const fs::path& existing = {}) {
    EXPECT_EQ(o.signal, 0) << "killed by signal " << o.signal << "; stderr: " << o.err;
    EXPECT_EQ(o.exitCode, code) << o.err;
    EXPECT_EQ(o.err.rfind("quorvel-fx: error: ", 0), 0u) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
    EXPECT_NE(o.err.find(culprit), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(entries(dir), entriesBefore) << "a partial or temporary file was left in " << dir;
    if (!existing.empty()) {
      EXPECT_EQ(slurp(existing), kPrecious) << "existing output changed";
    }
  }

  fs::path scratch, capture, input, mountPoint;
};

TEST_F(ToolFailure, HeadersThatLieAreRejectedCleanly) {
  const fs::path output = scratch / "out.wav";
  writeFile(output, kPrecious);
  enum Expect { kRefused, kReadWithWarning, kEither };
  struct Case {
    const char* name;
    WavHeader header;
    std::string data;
    Expect expect;
  };
  const std::string tone = pcm16Tone(2, 4800);
  std::vector<Case> cases;
  WavHeader h;
  h.channels = 0;
  cases.push_back({"zero-channels.wav", h, tone, kRefused});
  h = WavHeader{};
  h.sampleRate = 0;
  cases.push_back({"zero-rate.wav", h, tone, kRefused});
  h = WavHeader{};
  h.bitsPerSample = 7;
  // libsndfile may read it as 8-bit.
  cases.push_back({"seven-bits.wav", h, tone, kEither});
  h = WavHeader{};
  h.format = 0x1234;
  cases.push_back({"unknown-format.wav", h, tone, kRefused});
  // A data chunk longer than the file (stale, or 0xFFFFFFFF from a writer on
  // a pipe) still holds audio: it is read to the end, with a warning.
  h = WavHeader{};
  h.dataBytesClaimed = 0x7FFFFFF0;
  cases.push_back({"claims-2GB.wav", h, tone, kReadWithWarning});
  h = WavHeader{};
  h.dataBytesClaimed = 0xFFFFFFFF;
  cases.push_back({"from-a-pipe.wav", h, tone, kReadWithWarning});
  h = WavHeader{};
  cases.push_back({"header-only.wav", h, "", kEither});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path bad = scratch / c.name;
    writeFile(bad, wavFile(c.header, c.data));
    const std::size_t before = entries(scratch);
    const Outcome o = runTool({"apply", "-q", bad.string(), output.string(), "Delay"}, capture);
    EXPECT_EQ(o.signal, 0);
    if (c.expect == kReadWithWarning) {
      ASSERT_EQ(o.exitCode, 0) << o.err;
      EXPECT_EQ(o.err.rfind("quorvel-fx: warning: ", 0), 0u) << o.err;
      EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one line: " << o.err;
      EXPECT_NE(o.err.find("4800 frames"), std::string::npos) << o.err;
      EXPECT_NE(slurp(output), kPrecious);
    }
    if (o.exitCode == 0 && c.expect != kRefused) {
      writeFile(output, kPrecious);
      continue;
    }
    expectCleanFailure(o, kExitIo, c.name, scratch, before, output);
  }
}

TEST_F(ToolFailure, ExtremeSampleRatesSucceedOrFailCleanly) {
  // 1 Hz and 768 kHz are valid WAV headers; every effect must either render
  // or refuse with a usage (2) or processing (4) status, never crash.
  for (unsigned int rate : {1u, 768000u}) {
    WavHeader h;
    h.sampleRate = rate;
    const fs::path in = scratch / ("rate-" + std::to_string(rate) + ".wav");
    writeFile(in, wavFile(h, pcm16Tone(2, 4800)));
    for (const char* effect : {"Delay", "PingPongDelay", "Vibrato", "Flanger", "Chorus"}) {
      SCOPED_TRACE(std::string(effect) + " at " + std::to_string(rate) + " Hz");
      const fs::path output = scratch / "rate-out.wav";
      writeFile(output, kPrecious);
      const std::size_t before = entries(scratch);
      const Outcome o = runTool({"apply", in.string(), output.string(), effect}, capture);
      if (o.exitCode == 0 && o.signal == 0) {
        EXPECT_NE(slurp(output), kPrecious);
        continue;
      }
      const int code = o.exitCode == 4 ? 4 : 2;
      expectCleanFailure(o, code, in.filename().string(), scratch, before, output);
    }
  }
}

TEST_F(ToolFailure, FullDiskLeavesNoPartialOutput) {
  // 64 KiB cannot hold the one-second stereo output (at least 192000 bytes).
  if (!mountTmpfs("small", 64 * 1024)) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const fs::path existing = mountPoint / "out.wav";
  writeFile(existing, kPrecious);
  const std::size_t before = entries(mountPoint);
  const Outcome o = runTool({"apply", input.string(), existing.string(), "Delay"}, capture);
  expectCleanFailure(o, kExitIo, existing.string(), mountPoint, before, existing);

  const fs::path fresh = mountPoint / "fresh.wav";
  const Outcome second = runTool({"apply", input.string(), fresh.string(), "Chorus"}, capture);
  expectCleanFailure(second, kExitIo, fresh.string(), mountPoint, before);
  EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(ToolFailure, ReadOnlyFilesystemIsAnIoError) {
  if (!mountTmpfs("readonly", 1024 * 1024, true))
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const fs::path output = mountPoint / "out.wav";
  const Outcome o = runTool({"apply", input.string(), output.string(), "Vibrato"}, capture);
  expectCleanFailure(o, kExitIo, output.string(), mountPoint, 0);
}

TEST_F(ToolFailure, WriteFailureFromAFileSizeLimitIsAnIoError) {
  // Works without root: the kernel refuses every write past 16 KiB.
  const fs::path output = scratch / "limited.wav";
  writeFile(output, kPrecious);
  const std::size_t before = entries(scratch);
  const Outcome o =
      runTool({"apply", input.string(), output.string(), "Flanger"}, capture, 16 * 1024);
  expectCleanFailure(o, kExitIo, output.string(), scratch, before, output);
}

}  // namespace
