// quorvel-fx reading and writing pipes, raw samples, links and FIFOs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "FxRunner.hpp"
#include "ScratchDir.hpp"
#include "SoundFiles.hpp"

namespace {

constexpr int kExitUsage = 2;

// The same samples, rate and channels; the containers' headers may differ.
void expectSameAudio(const Sound& actual, const Sound& expected, const std::string& what) {
  EXPECT_EQ(actual.sampleRate, expected.sampleRate) << what;
  EXPECT_EQ(actual.channels, expected.channels) << what;
  ASSERT_EQ(actual.samples.size(), expected.samples.size()) << what;
  std::size_t differing = 0;
  for (std::size_t i = 0; i < actual.samples.size(); ++i) {
    if (actual.samples[i] != expected.samples[i]) ++differing;
  }
  EXPECT_EQ(differing, 0u) << what;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files named in `dir` other than `keep` (a temporary left behind shows up here).
std::vector<std::string> strayFiles(const ScratchDir& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> stray;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) stray.push_back(name);
  }
  return stray;
}

}  // namespace

TEST(Streams, PipesAndRawSamplesGiveWhatFilesGive) {
  ScratchDir dir;
  // sox writes a WAV to a pipe with made-up sizes, as real pipelines do.
  const std::string synth = "synth 0.4 sine 300 sine 500 channels 2 gain -8";
  auto run = [&](const std::string& script) {
    const FxRunner::Outcome outcome = FxRunner::shell(script, dir.path());
    EXPECT_EQ(outcome.exitCode, 0) << script << "\n" << outcome.err;
    // Neither quorvel-fx nor sox may find anything to warn about.
    EXPECT_EQ(outcome.err.find("warning"), std::string::npos) << script << "\n" << outcome.err;
    EXPECT_EQ(outcome.err.find("WARN"), std::string::npos) << script << "\n" << outcome.err;
  };
  run("sox -n -r 44100 in.wav " + synth + " && $FX apply -q in.wav ref.wav Delay");
  const Sound reference = SoundFiles::read(dir.file("ref.wav"));
  ASSERT_GT(reference.frames(), 17640u);

  run("sox -V1 -n -r 44100 -t wav - " + synth + " | $FX apply -q - piped-in.wav Delay");
  expectSameAudio(SoundFiles::read(dir.file("piped-in.wav")), reference, "from a pipe");
  // (sox warns that a stream's WAV header gives no length; that is expected.)
  const FxRunner::Outcome piped = FxRunner::shell(
      "$FX apply -q in.wav - --type wav Delay | sox -t wav - piped-out.wav", dir.path());
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  expectSameAudio(SoundFiles::read(dir.file("piped-out.wav")), reference, "to a pipe");
  run("$FX apply -q - - -t wav Delay < in.wav > redirected.wav");
  expectSameAudio(SoundFiles::read(dir.file("redirected.wav")), reference, "redirected");
  // A float WAV through a redirection still gets a complete fmt chunk.
  run("$FX apply -q --encoding float in.wav - -t wav Delay > float-out.wav && sox --i "
      "float-out.wav");

  // Raw floats, by type from standard input and by a .raw name, match the float WAV.
  const Sound signal = SoundFiles::testSignal(2, 44100, 0.3);
  SoundFiles::write(dir.file("float.wav"), signal);
  std::ofstream(dir.file("in.raw"), std::ios::binary)
      .write(reinterpret_cast<const char*>(signal.samples.data()),
             static_cast<std::streamsize>(signal.samples.size() * sizeof(float)));
  run("$FX apply -q float.wav float-ref.wav Delay");
  run("$FX apply -q --input-type raw --rate 44100 --channels 2 --input-encoding float - "
      "raw-stdin.wav Delay < in.raw");
  run("$FX apply -q --rate 44100 --channels 2 --input-encoding float in.raw raw-file.wav Delay");
  const Sound floatReference = SoundFiles::read(dir.file("float-ref.wav"));
  expectSameAudio(SoundFiles::read(dir.file("raw-stdin.wav")), floatReference, "raw stdin");
  expectSameAudio(SoundFiles::read(dir.file("raw-file.wav")), floatReference, "raw file");
  // And raw out is those floats without a header.
  run("$FX apply -q float.wav - --type raw Delay > out.raw");
  const std::string rawOut = slurp(dir.file("out.raw"));
  ASSERT_EQ(rawOut.size(), floatReference.samples.size() * sizeof(float));
  EXPECT_EQ(std::memcmp(rawOut.data(), floatReference.samples.data(), rawOut.size()), 0);
}

TEST(Streams, LinksFifosAndModesAreKept) {
  ScratchDir dir;
  SoundFiles::write(dir.file("in.wav"), SoundFiles::testSignal(2, 44100, 0.3));
  ASSERT_EQ(
      FxRunner::run({"apply", "-q", dir.file("in.wav"), dir.file("ref.wav"), "Delay"}).exitCode, 0);
  const Sound reference = SoundFiles::read(dir.file("ref.wav"));

  // Two relative links to a 0640 file in another folder: the file is
  // replaced, keeps its mode, and both links stay links.
  std::filesystem::create_directory(dir.file("real"));
  std::filesystem::copy_file(dir.file("in.wav"), dir.file("real/target.wav"));
  ASSERT_EQ(chmod(dir.file("real/target.wav").c_str(), 0640), 0);
  std::filesystem::create_symlink("real/target.wav", dir.file("first.wav"));
  std::filesystem::create_symlink("first.wav", dir.file("second.wav"));
  FxRunner::Outcome outcome =
      FxRunner::run({"apply", "-q", dir.file("in.wav"), dir.file("second.wav"), "Delay"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("first.wav")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("second.wav")));
  expectSameAudio(SoundFiles::read(dir.file("real/target.wav")), reference, "link target");
  struct stat status {};
  ASSERT_EQ(stat(dir.file("real/target.wav").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("real")), {}), 1);

  // A dangling link gets its target created, as cp does.
  std::filesystem::create_symlink("made.wav", dir.file("dangling.wav"));
  outcome = FxRunner::run({"apply", "-q", dir.file("in.wav"), dir.file("dangling.wav"), "Delay"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling.wav")));
  expectSameAudio(SoundFiles::read(dir.file("made.wav")), reference, "dangling link");

  // A FIFO is written directly: its reader gets the whole file, and no
  // temporary appears beside it.
  ASSERT_EQ(mkfifo(dir.file("fifo.wav").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = slurp(dir.file("fifo.wav")); });
  outcome = FxRunner::run({"apply", "-q", dir.file("in.wav"), dir.file("fifo.wav"), "Delay"});
  reader.join();
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  std::ofstream(dir.file("received.wav"), std::ios::binary) << received;
  expectSameAudio(SoundFiles::read(dir.file("received.wav")), reference, "FIFO");
  EXPECT_EQ(strayFiles(dir, {"in.wav", "ref.wav", "real", "first.wav", "second.wav", "dangling.wav",
                             "made.wav", "fifo.wav", "received.wav"}),
            std::vector<std::string>{});
}

TEST(Streams, StreamOptionsAreCheckedBeforeAnythingIsRead) {
  ScratchDir dir;
  SoundFiles::write(dir.file("in.wav"), SoundFiles::testSignal(1, 44100, 0.1));
  const std::string in = dir.file("in.wav");
  const std::string raw = dir.file("in.raw");
  std::ofstream(raw, std::ios::binary) << std::string(4000, '\0');
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{raw, dir.file("o.wav")}, "raw input needs --rate, --channels and --input-encoding"},
      {{"--rate", "44100", "--channels", "1", raw, dir.file("o.wav")},
       "--input-encoding is missing"},
      {{"--input-type", "raw", "--input-encoding", "float", "-", dir.file("o.wav")},
       "--rate and --channels are missing"},
      {{"--rate", "44100", in, dir.file("o.wav")},
       "--rate is only for raw input; a WAV file states its own"},
      {{in, "-"}, "cannot tell the output type of '-'; give it with --type (e.g. --type wav)"},
      {{"--type", "mp3", in, dir.file("o.wav")}, "--type mp3: must be wav, flac"},
      {{"--encoding", "ulaw", in, dir.file("o.wav")}, "for AU and raw only"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"apply", "-q"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    arguments.push_back("Delay");
    const FxRunner::Outcome outcome = FxRunner::run(arguments);
    EXPECT_EQ(outcome.exitCode, kExitUsage) << c.message << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
  }
  // A pipe that cannot carry the container is refused, not written empty.
  const FxRunner::Outcome aiff =
      FxRunner::shell("$FX apply -q in.wav - --type aiff Delay | cat > out.aiff", dir.path());
  EXPECT_NE(aiff.err.find("AIFF cannot be written to a pipe"), std::string::npos) << aiff.err;
  // Appending a container to a file would write its header twice; raw samples append.
  const FxRunner::Outcome appended =
      FxRunner::shell("$FX apply -q in.wav - --type wav Delay >> out.wav", dir.path());
  EXPECT_EQ(appended.exitCode, kExitUsage) << appended.err;
  EXPECT_NE(appended.err.find("opened for appending (>>)"), std::string::npos) << appended.err;
  EXPECT_EQ(std::filesystem::file_size(dir.file("out.wav")), 0u);
  const FxRunner::Outcome twice = FxRunner::shell(
      "$FX apply -q in.wav - --type raw Delay >> out.raw && "
      "$FX apply -q in.wav - --type raw Delay >> out.raw && "
      "$FX apply -q in.wav - --type raw Delay > once.raw",
      dir.path());
  ASSERT_EQ(twice.exitCode, 0) << twice.err;
  EXPECT_EQ(std::filesystem::file_size(dir.file("out.raw")),
            2 * std::filesystem::file_size(dir.file("once.raw")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("o.wav")));
}
