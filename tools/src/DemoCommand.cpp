// `quorvel-fx demo`: a built-in test signal through every registered effect,
// written as WAV files and drawn with sox and gnuplot when they are installed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "EffectCatalog.hpp"
#include "TerminalOutput.hpp"

extern char** environ;

namespace quorvelfx {
namespace {

// Runs a helper program (sox, gnuplot) directly, without a shell, with its
// output discarded.
class ExternalCommand {
 public:
  // True when `program` is an executable file in a directory of $PATH.
  static bool available(const std::string& program);
  // Runs argv[0] with the given arguments and waits; true when it exited with status 0.
  static bool run(const std::vector<std::string>& argv);
};

bool ExternalCommand::available(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  const std::string directories = path;
  std::size_t from = 0;
  while (from <= directories.size()) {
    std::size_t colon = directories.find(':', from);
    if (colon == std::string::npos) colon = directories.size();
    const std::string directory = directories.substr(from, colon - from);
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    from = colon + 1;
  }
  return false;
}

bool ExternalCommand::run(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Draws the demo's pictures with well-known tools: spectrograms with SoX,
// side-by-side comparisons and impulse-response plots with gnuplot. Each
// method returns false (and draws nothing) when its tool is missing or fails.
class PictureMaker {
 public:
  // Looks for sox and gnuplot on $PATH.
  PictureMaker();

  // True when sox is installed.
  bool hasSox() const noexcept { return sox_; }
  // True when gnuplot is installed.
  bool hasGnuplot() const noexcept { return gnuplot_; }

  // Writes a spectrogram of `wavPath` (one panel per channel) to `pngPath`.
  bool spectrogram(const std::string& wavPath, const std::string& pngPath,
                   const std::string& title) const;
  // Places two PNG pictures side by side in `pngPath`.
  bool sideBySide(const std::string& leftPng, const std::string& rightPng,
                  const std::string& pngPath) const;
  // Plots both channels of interleaved stereo `samples` at `sampleRate` Hz
  // against time in milliseconds.
  bool impulseResponse(const std::vector<float>& samples, unsigned int sampleRate,
                       const std::string& pngPath, const std::string& title) const;

 private:
  bool sox_;
  bool gnuplot_;
};

// Width and height from a PNG's IHDR chunk, which always comes first.
bool pngSize(const std::string& path, unsigned int& width, unsigned int& height) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[24];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  auto word = [&](int at) {
    return (static_cast<unsigned int>(header[at]) << 24) | (header[at + 1] << 16) |
           (header[at + 2] << 8) | header[at + 3];
  };
  width = word(16);
  height = word(20);
  return width > 0 && height > 0;
}

// gnuplot string literals are single-quoted; a quote inside is doubled.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

bool runGnuplot(const std::string& scriptPath, const std::string& script) {
  {
    std::ofstream out(scriptPath);
    out << script;
    if (!out) return false;
  }
  const bool ok = ExternalCommand::run({"gnuplot", scriptPath});
  std::remove(scriptPath.c_str());
  return ok;
}

PictureMaker::PictureMaker()
    : sox_(ExternalCommand::available("sox")), gnuplot_(ExternalCommand::available("gnuplot")) {}

bool PictureMaker::spectrogram(const std::string& wavPath, const std::string& pngPath,
                               const std::string& title) const {
  if (!sox_) return false;
  return ExternalCommand::run({"sox", wavPath, "-n", "spectrogram", "-x", "720", "-y", "241", "-z",
                               "100", "-t", title, "-c", "quorvel-fx demo", "-o", pngPath});
}

bool PictureMaker::sideBySide(const std::string& leftPng, const std::string& rightPng,
                              const std::string& pngPath) const {
  unsigned int width = 0;
  unsigned int height = 0;
  if (!gnuplot_ || !pngSize(leftPng, width, height)) return false;
  std::string script;
  script +=
      "set terminal png size " + std::to_string(2 * width) + "," + std::to_string(height) + "\n";
  script += "set output " + quoted(pngPath) + "\n";
  script += "set multiplot layout 1,2\n";
  script += "unset border; unset tics; unset key; set size ratio -1\n";
  script += "set lmargin 0; set rmargin 0; set tmargin 0; set bmargin 0\n";
  script += "plot " + quoted(leftPng) + " binary filetype=png with rgbimage\n";
  script += "plot " + quoted(rightPng) + " binary filetype=png with rgbimage\n";
  script += "unset multiplot\n";
  return runGnuplot(pngPath + ".gp", script);
}

bool PictureMaker::impulseResponse(const std::vector<float>& samples, unsigned int sampleRate,
                                   const std::string& pngPath, const std::string& title) const {
  if (!gnuplot_ || sampleRate == 0) return false;
  const std::size_t frames = samples.size() / 2;
  const double lengthMs = 1000.0 * static_cast<double>(frames) / sampleRate;
  // Levels in dB show an echo train's decay far better than linear
  // amplitude. gnuplot draws impulses up from y = 0, so the data is lifted
  // by the floor and the tick labels give the real level. Samples below the
  // floor are left out, which keeps the data file small.
  const double floorDb = -90.0;
  const std::string dataPath = pngPath + ".dat";
  {
    std::FILE* data = std::fopen(dataPath.c_str(), "w");
    if (data == nullptr) return false;
    for (std::size_t frame = 0; frame < frames; ++frame) {
      const double left = std::fabs(samples[2 * frame]);
      const double right = std::fabs(samples[2 * frame + 1]);
      const double floorGain = std::pow(10.0, floorDb / 20.0);
      if (left < floorGain && right < floorGain) continue;
      const auto lifted = [&](double gain) {
        return gain < floorGain ? 0.0 : 20.0 * std::log10(gain) - floorDb;
      };
      std::fprintf(data, "%.4f %.3f %.3f\n", 1000.0 * frame / sampleRate, lifted(left),
                   lifted(right));
    }
    std::fclose(data);
  }
  char ranges[160];
  std::snprintf(ranges, sizeof ranges, "set xrange [%.3f:%.3f]; set yrange [0:%.0f]\n",
                -0.02 * lengthMs, lengthMs, -floorDb + 3.0);
  std::string script;
  script += "set terminal png size 1000,560\n";
  script += "set output " + quoted(pngPath) + "\n";
  script += "set multiplot layout 2,1 title " + quoted(title) + "\n";
  script += "unset key; set grid\n";
  script += ranges;
  script += "set ytics ('0 dB' 90, '-30' 60, '-60' 30, '-90' 0)\n";
  script += "set ylabel 'left'\n";
  script += "plot " + quoted(dataPath) + " using 1:2 with impulses lw 2 lc rgb '#1f77b4'\n";
  script += "set ylabel 'right'; set xlabel 'time (ms)'\n";
  script += "plot " + quoted(dataPath) + " using 1:3 with impulses lw 2 lc rgb '#d62728'\n";
  script += "unset multiplot\n";
  const bool ok = runGnuplot(pngPath + ".gp", script);
  std::remove(dataPath.c_str());
  return ok;
}

// The built-in stereo test signal of `quorvel-fx demo`, six seconds: four
// plucked notes panned left and right, four clicks (both channels, left only,
// right only, both), an exponential sine sweep from 40 Hz to 16 kHz, and
// 0.8 s of silence.
class DemoSignal {
 public:
  // Interleaved stereo samples at `sampleRate` Hz (at least 33 kHz), peak below 0.9.
  static std::vector<float> synthesize(unsigned int sampleRate);
  // A single full-scale click at frame 0 of the left channel, then
  // `frames` - 1 frames of silence; interleaved stereo.
  static std::vector<float> impulse(unsigned int frames);
  // Length of synthesize()'s signal in seconds.
  static double durationSeconds();
};

constexpr double kPi = 3.14159265358979323846;
constexpr double kDuration = 6.0;

struct Note {
  double start;      // seconds
  double frequency;  // Hz
  double pan;        // 0 = left, 1 = right
};

// A plucked string: harmonics whose amplitude falls as 1/k and which decay
// faster the higher they are, after a 2 ms attack.
void addPluck(std::vector<float>& out, unsigned int rate, const Note& note) {
  const std::size_t first = static_cast<std::size_t>(note.start * rate);
  const std::size_t length = static_cast<std::size_t>(1.2 * rate);
  const double attack = 0.002 * rate;
  const double left = std::cos(note.pan * kPi / 2);
  const double right = std::sin(note.pan * kPi / 2);
  for (std::size_t i = 0; i < length && 2 * (first + i) + 1 < out.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    double sample = 0.0;
    for (int k = 1; k <= 8; ++k) {
      if (note.frequency * k > 0.45 * rate) break;
      sample += std::sin(2 * kPi * note.frequency * k * t) * std::exp(-t * (2.5 + 1.5 * k)) / k;
    }
    sample *= 0.32 * (i < attack ? i / attack : 1.0);
    out[2 * (first + i)] += static_cast<float>(sample * left);
    out[2 * (first + i) + 1] += static_cast<float>(sample * right);
  }
}

void addClick(std::vector<float>& out, unsigned int rate, double when, float left, float right) {
  const std::size_t frame = static_cast<std::size_t>(when * rate);
  out[2 * frame] += left;
  out[2 * frame + 1] += right;
}

// An exponential sweep with 10 ms raised-cosine fades at both ends.
void addSweep(std::vector<float>& out, unsigned int rate, double start, double seconds) {
  const double f0 = 40.0;
  const double f1 = 16000.0;
  const double k = std::log(f1 / f0);
  const std::size_t first = static_cast<std::size_t>(start * rate);
  const std::size_t length = static_cast<std::size_t>(seconds * rate);
  const double fade = 0.01 * rate;
  for (std::size_t i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2 * kPi * f0 * seconds / k * (std::exp(t / seconds * k) - 1.0);
    double gain = 0.3;
    if (i < fade) gain *= 0.5 - 0.5 * std::cos(kPi * i / fade);
    if (length - i < fade) gain *= 0.5 - 0.5 * std::cos(kPi * (length - i) / fade);
    const float sample = static_cast<float>(gain * std::sin(phase));
    out[2 * (first + i)] += sample;
    out[2 * (first + i) + 1] += sample;
  }
}

double DemoSignal::durationSeconds() { return kDuration; }

std::vector<float> DemoSignal::synthesize(unsigned int sampleRate) {
  const std::size_t frames = static_cast<std::size_t>(kDuration * sampleRate);
  std::vector<float> out(2 * frames, 0.0f);
  // Notes until 2.6 s, clicks until 3.5 s, the sweep until 5.2 s, then
  // silence for echoes to ring into, so outputs need no extra tail.
  const Note notes[] = {
      {0.0, 220.0, 0.2}, {0.45, 277.18, 0.8}, {0.9, 329.63, 0.35}, {1.35, 440.0, 0.65}};
  for (const Note& note : notes) addPluck(out, sampleRate, note);
  addClick(out, sampleRate, 2.7, 0.8f, 0.8f);
  addClick(out, sampleRate, 2.95, 0.8f, 0.0f);
  addClick(out, sampleRate, 3.2, 0.0f, 0.8f);
  addClick(out, sampleRate, 3.45, 0.8f, 0.8f);
  addSweep(out, sampleRate, 3.7, 1.5);
  return out;
}

std::vector<float> DemoSignal::impulse(unsigned int frames) {
  std::vector<float> out(2 * static_cast<std::size_t>(frames), 0.0f);
  if (frames > 0) out[0] = 1.0f;
  return out;
}

// The demo's own output format: stereo at 48 kHz, in the tool's default block size.
constexpr unsigned int kSampleRate = 48000;
constexpr unsigned int kChannels = 2;
constexpr unsigned int kBlock = 256;

std::string decibelText(double level) {
  if (level <= 0.0) return "-inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", RenderStats::decibels(level));
  return text;
}

std::string speedText(double speed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0fx", speed);
  return text;
}

void writeWav(const std::string& path, const std::vector<float>& interleaved) {
  const OutputFormat format = OutputFormat::resolve(path, "float");
  AudioFileWriter writer(path, format, kSampleRate, kChannels);
  writer.write(interleaved.data(), interleaved.size() / kChannels);
  writer.commit();
}

// Runs `signal` through a fresh one-effect chain of `type` with its defaults.
std::vector<float> render(const EffectCatalog& catalog, const EffectType& type,
                          const std::vector<float>& signal, RenderStats& stats) {
  EffectChain chain(catalog, {EffectRequest{type.fqName(), {}}});
  chain.prepare(kSampleRate, kChannels, kBlock);
  std::vector<float> output;
  output.reserve(signal.size());
  std::size_t position = 0;
  ChainRenderer renderer(chain, kChannels, kBlock);
  ProgressBar silent(false, 0);
  stats = renderer.run(
      [&](float* interleaved, std::uint64_t frames) {
        const std::size_t count =
            std::min<std::size_t>(frames * kChannels, signal.size() - position);
        std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(position), count, interleaved);
        position += count;
        return static_cast<std::uint64_t>(count / kChannels);
      },
      signal.size() / kChannels, 0,
      [&](const float* interleaved, std::uint64_t frames) {
        output.insert(output.end(), interleaved, interleaved + frames * kChannels);
      },
      silent);
  return output;
}

// Impulse-response length: the effect's own tail plus 50 ms, between 0.1 and 2 s.
unsigned int impulseFrames(const EffectCatalog& catalog, const EffectType& type) {
  const EffectChain chain(catalog, {EffectRequest{type.fqName(), {}}});
  const double seconds = static_cast<double>(chain.tailFrames(kSampleRate)) / kSampleRate + 0.05;
  return static_cast<unsigned int>(std::clamp(seconds, 0.1, 2.0) * kSampleRate);
}

// Renders, writes and draws one effect's demo output; returns the number of pictures drawn.
std::size_t renderOne(const EffectCatalog& catalog, const EffectType& type,
                      const PictureMaker& pictures, const std::filesystem::path& directory,
                      const std::vector<float>& dry, const std::string& drySpectrogram,
                      TextTable& table) {
  std::size_t drawn = 0;
  std::error_code failure;
  const std::string name = ValueParser::lowercase(type.shortName());
  RenderStats stats;
  const std::vector<float> wet = render(catalog, type, dry, stats);
  const std::string wetWav = (directory / (name + ".wav")).string();
  writeWav(wetWav, wet);
  table.add({type.shortName(), name + ".wav", decibelText(stats.peak), decibelText(stats.rms()),
             speedText(stats.speed(kSampleRate))});

  // The effect's spectrogram goes to the right of the dry one; without
  // gnuplot it stands alone.
  const std::string spectrogram = (directory / ("sonogram-" + name + ".png")).string();
  const std::string single = spectrogram + ".part.png";
  if (pictures.spectrogram(wetWav, single, type.shortName() + " (default settings)")) {
    if (!pictures.sideBySide(drySpectrogram, single, spectrogram)) {
      std::filesystem::rename(single, spectrogram, failure);
    }
    std::filesystem::remove(single, failure);
    ++drawn;
  }
  RenderStats impulseStats;
  const std::vector<float> response =
      render(catalog, type, DemoSignal::impulse(impulseFrames(catalog, type)), impulseStats);
  const std::string plot = (directory / ("impulse-" + name + ".png")).string();
  if (pictures.impulseResponse(
          response, kSampleRate, plot,
          type.shortName() + ": impulse response to a click in the left channel")) {
    ++drawn;
  }
  return drawn;
}

}  // namespace

int runDemo(const std::string& outputDirectory) {
  const std::filesystem::path directory(outputDirectory);
  std::error_code failure;
  std::filesystem::create_directories(directory, failure);
  if (failure) {
    throw CliError(kExitIo, outputDirectory + ": cannot create folder: " + failure.message());
  }
  const EffectCatalog catalog = EffectCatalog::load();
  const PictureMaker pictures;
  const std::vector<float> dry = DemoSignal::synthesize(kSampleRate);
  const std::string dryWav = (directory / "dry.wav").string();
  writeWav(dryWav, dry);
  const std::string drySpectrogram = (directory / "sonogram-dry.png").string();
  pictures.spectrogram(dryWav, drySpectrogram, "dry (built-in test signal)");

  TextTable table({"EFFECT", "FILE", "PEAK dBFS", "RMS dBFS", "SPEED (x real time)"});
  RenderStats dryStats;
  for (float sample : dry) {
    dryStats.peak = std::max(dryStats.peak, std::fabs(sample));
    dryStats.sumOfSquares += static_cast<double>(sample) * sample;
  }
  dryStats.samples = dry.size();
  table.add({"(dry)", "dry.wav", decibelText(dryStats.peak), decibelText(dryStats.rms()), ""});

  std::size_t drawn = 0;
  std::string failures;
  for (const EffectType& type : catalog.types()) {
    try {
      drawn += renderOne(catalog, type, pictures, directory, dry, drySpectrogram, table);
    } catch (const CliError& refused) {
      table.add({type.shortName(), "(failed)", "", "", ""});
      failures += std::string("quorvel-fx: error: demo: ") + refused.what() + "\n";
    }
  }

  std::cout << "quorvel-fx demo: " << catalog.types().size() << " effects on a "
            << DemoSignal::durationSeconds() << " s stereo test signal at " << kSampleRate
            << " Hz, written to " << outputDirectory << "/\n\n";
  table.print(std::cout, 2);
  std::cout << '\n';
  if (!pictures.hasSox() || !pictures.hasGnuplot()) {
    std::cout << "pictures skipped:" << (pictures.hasSox() ? "" : " sox not found (spectrograms);")
              << (pictures.hasGnuplot() ? "" : " gnuplot not found (plots, side-by-side views);")
              << " install them with scripts/setup.sh\n";
  }
  std::cout << drawn + (std::filesystem::exists(drySpectrogram) ? 1 : 0) << " pictures written"
            << std::endl;
  if (!failures.empty()) {
    std::cerr << failures;
    return kExitProcessing;
  }
  return kExitSuccess;
}

}  // namespace quorvelfx
