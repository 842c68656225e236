// `quorvel-fx demo`: a built-in test signal through every registered effect,
// written as WAV files and drawn with sox and gnuplot when they are installed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
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

constexpr double kPi = 3.14159265358979323846;

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

// A stereo signal's short-time spectrum on a logarithmic frequency axis: the
// notes (a few hundred Hz) get as much room as the octaves above them, where a
// linear axis up to Nyquist squeezes them into the bottom few pixels.
struct LogSpectrum {
  static constexpr double kLowHz = 30.0;
  static constexpr double kHighHz = 20000.0;

  std::size_t columns = 0;       // analysis frames, one per hop
  std::size_t rows = 0;          // frequency bands, equally wide in log(frequency)
  double hopSeconds = 0.0;       // time from one column to the next
  std::vector<float> levels[2];  // dBFS per channel, row by row from kLowHz up

  // Analyses the first `frames` frames of interleaved stereo `samples` at
  // `sampleRate` Hz (silence past their end) into about `columns` x `rows` cells.
  static LogSpectrum analyse(const std::vector<float>& samples, unsigned int sampleRate,
                             std::size_t frames, std::size_t columns, std::size_t rows);
};

// Draws the demo's pictures with well-known tools: spectrograms with SoX,
// side-by-side comparisons, log-frequency spectrograms and impulse-response
// plots with gnuplot. Each method returns false (and draws nothing) when its
// tool is missing or fails.
class PictureMaker {
 public:
  // Looks for sox and gnuplot on $PATH.
  PictureMaker();

  // True when sox is installed.
  bool hasSox() const noexcept { return sox_; }
  // True when gnuplot is installed.
  bool hasGnuplot() const noexcept { return gnuplot_; }

  // Writes a spectrogram of stereo `wavPath` followed by `padSeconds` of
  // silence (left channel on top) to `pngPath`.
  bool spectrogram(const std::string& wavPath, const std::string& pngPath, const std::string& title,
                   double padSeconds = 0.0) const;
  // Places spectrogram() pictures side by side in `pngPath`, each panel
  // labelled with its channel.
  bool sideBySide(const std::vector<std::string>& pngs, const std::string& pngPath) const;
  // Draws `dry` beside `wet` (both channels of each) on a logarithmic
  // frequency axis in Hz, over the length of `wet`.
  bool logSpectrograms(const std::vector<float>& dry, const std::vector<float>& wet,
                       unsigned int sampleRate, const std::string& pngPath,
                       const std::string& wetTitle) const;
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

// SoX 14.4.2's spectrogram layout for two channels at -y kSpectrogramRows:
// the panels start kSoxLeft pixels from the left edge and kSoxBelow above the
// bottom one, stacked with a 1-pixel rule between them, channel 1 on top.
constexpr int kSpectrogramRows = 241;
constexpr int kSoxLeft = 58;
constexpr int kSoxBelow = 48;

bool PictureMaker::spectrogram(const std::string& wavPath, const std::string& pngPath,
                               const std::string& title, double padSeconds) const {
  if (!sox_) return false;
  char pad[32];
  std::snprintf(pad, sizeof pad, "%.4f", padSeconds);
  // SoX cannot write per-panel labels; the comment says which is which for
  // pictures that are not composed by sideBySide().
  return ExternalCommand::run({"sox", wavPath, "-n", "pad", "0", pad, "spectrogram", "-x", "720",
                               "-y", std::to_string(kSpectrogramRows), "-z", "100", "-t", title,
                               "-c", "top: left channel, bottom: right channel", "-o", pngPath});
}

bool PictureMaker::sideBySide(const std::vector<std::string>& pngs,
                              const std::string& pngPath) const {
  if (!gnuplot_ || pngs.empty()) return false;
  unsigned int width = 0;
  unsigned int height = 0;
  if (!pngSize(pngs.front(), width, height)) return false;
  const int count = static_cast<int>(pngs.size());
  std::string script;
  script += "set terminal png size " + std::to_string(count * width) + "," +
            std::to_string(height) + "\n";
  script += "set output " + quoted(pngPath) + "\n";
  script += "set multiplot layout 1," + std::to_string(count) + "\n";
  script += "unset border; unset tics; unset key; set size ratio -1\n";
  script += "set lmargin 0; set rmargin 0; set tmargin 0; set bmargin 0\n";
  script += "set style textbox opaque fillcolor rgb 'black' noborder\n";
  // gnuplot puts the image's bottom row at y = 0, one unit per pixel.
  const int labelX = kSoxLeft + 8;
  const int rightTop = kSoxBelow + kSpectrogramRows - 14;
  const int leftTop = rightTop + kSpectrogramRows + 1;
  script += "set label 1 'left' at " + std::to_string(labelX) + "," + std::to_string(leftTop) +
            " front boxed tc rgb 'white' font ',13'\n";
  script += "set label 2 'right' at " + std::to_string(labelX) + "," + std::to_string(rightTop) +
            " front boxed tc rgb 'white' font ',13'\n";
  for (const std::string& png : pngs) {
    script += "plot " + quoted(png) + " binary filetype=png with rgbimage\n";
  }
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

// In-place radix-2 FFT; data.size() is a power of two.
void fft(std::vector<std::complex<double>>& data) {
  const std::size_t n = data.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2.0 * kPi / static_cast<double>(length));
    for (std::size_t start = 0; start < n; start += length) {
      std::complex<double> twiddle = 1.0;
      for (std::size_t k = 0; k < length / 2; ++k) {
        const std::complex<double> even = data[start + k];
        const std::complex<double> odd = data[start + k + length / 2] * twiddle;
        data[start + k] = even + odd;
        data[start + k + length / 2] = even - odd;
        twiddle *= step;
      }
    }
  }
}

LogSpectrum LogSpectrum::analyse(const std::vector<float>& samples, unsigned int sampleRate,
                                 std::size_t frames, std::size_t columns, std::size_t rows) {
  // 4096 points at 48 kHz: 12 Hz bins separate the notes' harmonics, and
  // 85 ms windows still keep 200 ms echoes apart.
  constexpr std::size_t kSize = 4096;
  const std::size_t hop =
      std::max<std::size_t>(1, (frames + columns - 1) / std::max<std::size_t>(columns, 1));
  LogSpectrum out;
  out.columns = frames / hop + 1;
  out.rows = rows;
  out.hopSeconds = static_cast<double>(hop) / sampleRate;
  for (std::vector<float>& channel : out.levels) channel.resize(out.columns * rows);

  // A Blackman-Harris window: its sidelobes stay below -92 dB, so a loud
  // low note does not smear over the quiet octaves around it.
  std::vector<double> window(kSize);
  for (std::size_t i = 0; i < kSize; ++i) {
    const double x = 2.0 * kPi * static_cast<double>(i) / kSize;
    window[i] =
        0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
  }
  // Through this window a full-scale sine peaks at 0.35875 * kSize / 2.
  const double toFullScale = 2.0 / (0.35875 * kSize);
  const double binHz = static_cast<double>(sampleRate) / kSize;
  const std::size_t lastBin = kSize / 2;
  // A band narrower than a bin reads between its two nearest bins; a wider
  // one takes its strongest bin, so that a sine in it is not missed.
  struct Band {
    double firstBin, lastBin;
  };
  std::vector<Band> bands(rows);
  const double ratio = std::log(kHighHz / kLowHz) / static_cast<double>(rows);
  for (std::size_t row = 0; row < rows; ++row) {
    bands[row].firstBin = kLowHz * std::exp(ratio * row) / binHz;
    bands[row].lastBin =
        std::min(kLowHz * std::exp(ratio * (row + 1)) / binHz, static_cast<double>(lastBin));
  }

  const std::size_t end = std::min(frames, samples.size() / 2);
  std::vector<std::complex<double>> spectrum(kSize);
  std::vector<double> magnitude[2] = {std::vector<double>(lastBin + 1),
                                      std::vector<double>(lastBin + 1)};
  for (std::size_t column = 0; column < out.columns; ++column) {
    // Both channels in one transform: left as the real part, right as the imaginary.
    const std::ptrdiff_t first =
        static_cast<std::ptrdiff_t>(column * hop) - static_cast<std::ptrdiff_t>(kSize / 2);
    for (std::size_t i = 0; i < kSize; ++i) {
      const std::ptrdiff_t at = first + static_cast<std::ptrdiff_t>(i);
      const std::size_t frame = static_cast<std::size_t>(at);
      spectrum[i] = at >= 0 && frame < end
                        ? std::complex<double>(samples[2 * frame] * window[i],
                                               samples[2 * frame + 1] * window[i])
                        : 0.0;
    }
    fft(spectrum);
    for (std::size_t k = 0; k <= lastBin; ++k) {
      const std::complex<double> z = spectrum[k];
      const std::complex<double> mirror = std::conj(spectrum[(kSize - k) % kSize]);
      magnitude[0][k] = std::abs(z + mirror) * 0.5 * toFullScale;
      magnitude[1][k] = std::abs(z - mirror) * 0.5 * toFullScale;
    }
    for (int channel = 0; channel < 2; ++channel) {
      const std::vector<double>& bins = magnitude[channel];
      for (std::size_t row = 0; row < rows; ++row) {
        const Band band = bands[row];
        const std::size_t from = static_cast<std::size_t>(std::ceil(band.firstBin));
        const std::size_t to = static_cast<std::size_t>(std::floor(band.lastBin));
        double level = 0.0;
        if (from <= to) {
          for (std::size_t k = from; k <= to; ++k) level = std::max(level, bins[k]);
        } else {
          const double at = 0.5 * (band.firstBin + band.lastBin);
          const std::size_t below = std::min(static_cast<std::size_t>(at), lastBin - 1);
          const double fraction = at - static_cast<double>(below);
          level = bins[below] * (1.0 - fraction) + bins[below + 1] * fraction;
        }
        out.levels[channel][row * out.columns + column] =
            static_cast<float>(20.0 * std::log10(std::max(level, 1e-6)));
      }
    }
  }
  return out;
}

bool PictureMaker::logSpectrograms(const std::vector<float>& dry, const std::vector<float>& wet,
                                   unsigned int sampleRate, const std::string& pngPath,
                                   const std::string& wetTitle) const {
  if (!gnuplot_ || sampleRate == 0) return false;
  const std::size_t frames = wet.size() / 2;
  const LogSpectrum spectra[2] = {LogSpectrum::analyse(dry, sampleRate, frames, 640, 300),
                                  LogSpectrum::analyse(wet, sampleRate, frames, 640, 300)};
  const std::string dataPath[2][2] = {{pngPath + ".dry-left.bin", pngPath + ".dry-right.bin"},
                                      {pngPath + ".wet-left.bin", pngPath + ".wet-right.bin"}};
  bool written = true;
  for (int side = 0; side < 2; ++side) {
    for (int channel = 0; channel < 2; ++channel) {
      std::FILE* data = std::fopen(dataPath[side][channel].c_str(), "wb");
      if (data == nullptr) {
        written = false;
        continue;
      }
      const std::vector<float>& levels = spectra[side].levels[channel];
      written &= std::fwrite(levels.data(), sizeof(float), levels.size(), data) == levels.size();
      written &= std::fclose(data) == 0;
    }
  }
  // gnuplot draws images on linear axes only, so y is log10(Hz) with the
  // ticks labelled in Hz.
  const double low = std::log10(LogSpectrum::kLowHz);
  const double high = std::log10(LogSpectrum::kHighHz);
  char ranges[200];
  std::snprintf(ranges, sizeof ranges, "set xrange [0:%.4f]; set yrange [%.6f:%.6f]\n",
                static_cast<double>(frames) / sampleRate, low, high);
  std::string script;
  script += "set terminal png size 1440,840\n";
  script += "set output " + quoted(pngPath) + "\n";
  script += "set multiplot\n";
  script += ranges;
  script += "unset key; set cbrange [-100:0]\n";
  // Dark below -80 dBFS like SoX's palette, so the silence stays black.
  script +=
      "set palette defined (0 'black', 0.2 '#1b0c41', 0.4 '#6a176e', 0.6 '#bc3754', "
      "0.8 '#f98e09', 1 '#fcffa4')\n";
  script +=
      "set ytics ('50' log10(50), '100' 2, '200' log10(200), '500' log10(500), "
      "'1000' 3, '2000' log10(2000), '5000' log10(5000), '10000' 4, '20000' log10(20000))\n";
  script += "set grid xtics ytics front lt 0 lw 1 lc rgb '#a0a0a0'\n";
  script += "set style textbox opaque fillcolor rgb 'black' noborder\n";
  script += "set label 99 " +
            quoted("the dry signal beside the processed one, on a logarithmic frequency axis") +
            " at screen 0.5, screen 0.975 center font ',14'\n";
  const char* const names[2] = {"left", "right"};
  char cell[600];
  for (int channel = 0; channel < 2; ++channel) {
    for (int side = 0; side < 2; ++side) {
      const LogSpectrum& spectrum = spectra[side];
      std::snprintf(cell, sizeof cell,
                    "set lmargin at screen %.3f; set rmargin at screen %.3f\n"
                    "set tmargin at screen %.3f; set bmargin at screen %.3f\n",
                    side == 0 ? 0.065 : 0.51, side == 0 ? 0.465 : 0.91, channel == 0 ? 0.92 : 0.485,
                    channel == 0 ? 0.545 : 0.11);
      script += cell;
      script += "set title " +
                quoted(channel == 1 ? ""
                       : side == 0  ? "dry (built-in test signal)"
                                    : wetTitle) +
                "\n";
      script += side == 0 ? "set ylabel 'frequency (Hz)'\n" : "unset ylabel\n";
      script += channel == 1 ? "set xlabel 'time (s)'\n" : "unset xlabel\n";
      script += side == 1 && channel == 0
                    ? "set colorbox user origin screen 0.93, screen 0.11 size screen 0.012, "
                      "screen 0.81; set cblabel 'dBFS'\n"
                    : "unset colorbox\n";
      script += std::string("set label 1 '") + names[channel] +
                "' at graph 0.015, graph 0.92 front boxed tc rgb 'white' font ',13'\n";
      std::snprintf(cell, sizeof cell,
                    "plot %s binary array=(%zu,%zu) format='%%float' origin=(0,%.6f) dx=%.6f "
                    "dy=%.6f with image\n",
                    quoted(dataPath[side][channel]).c_str(), spectrum.columns, spectrum.rows,
                    low + 0.5 * (high - low) / spectrum.rows, spectrum.hopSeconds,
                    (high - low) / spectrum.rows);
      script += cell;
    }
  }
  script += "unset multiplot\n";
  const bool ok = written && runGnuplot(pngPath + ".gp", script);
  for (const auto& side : dataPath) {
    for (const std::string& path : side) std::remove(path.c_str());
  }
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
  // silence; each effect's tail is added after it when rendering.
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

// Runs `signal` through a fresh one-effect chain of `type` with its defaults,
// followed by the chain's own tail, so that the last echo has decayed to
// the rules' tail level when the output ends.
std::vector<float> render(const EffectCatalog& catalog, const EffectType& type,
                          const std::vector<float>& signal, RenderStats& stats) {
  EffectChain chain(catalog, {EffectRequest{type.fqName(), {}, ""}});
  chain.prepare(kSampleRate, kChannels, kBlock);
  const std::uint64_t tail = chain.tailFrames(kSampleRate);
  std::vector<float> output;
  output.reserve(signal.size() + tail * kChannels);
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
      signal.size() / kChannels, tail,
      [&](const float* interleaved, std::uint64_t frames) {
        output.insert(output.end(), interleaved, interleaved + frames * kChannels);
      },
      silent);
  return output;
}

// Renders, writes and draws one effect's demo output; returns the number of pictures drawn.
std::size_t renderOne(const EffectCatalog& catalog, const EffectType& type,
                      const PictureMaker& pictures, const std::filesystem::path& directory,
                      const std::vector<float>& dry, const std::string& dryWav, TextTable& table) {
  std::size_t drawn = 0;
  std::error_code failure;
  const std::string name = ValueParser::lowercase(type.shortName());
  const std::string title = type.shortName() + " (default settings)";
  RenderStats stats;
  const std::vector<float> wet = render(catalog, type, dry, stats);
  const std::string wetWav = (directory / (name + ".wav")).string();
  writeWav(wetWav, wet);
  table.add({type.shortName(), name + ".wav", decibelText(stats.peak), decibelText(stats.rms()),
             speedText(stats.speed(kSampleRate))});

  // The effect's spectrogram goes to the right of the dry one, which is
  // padded to the same length so both share a time axis; without gnuplot it
  // stands alone.
  const std::string spectrogram = (directory / ("sonogram-" + name + ".png")).string();
  const std::string single = spectrogram + ".part.png";
  const std::string dryPart = spectrogram + ".dry.png";
  if (pictures.spectrogram(wetWav, single, title)) {
    const double padSeconds = static_cast<double>(wet.size() - std::min(wet.size(), dry.size())) /
                              kChannels / kSampleRate;
    if (!pictures.hasGnuplot() ||
        !pictures.spectrogram(dryWav, dryPart, "dry (built-in test signal)", padSeconds) ||
        !pictures.sideBySide({dryPart, single}, spectrogram)) {
      std::filesystem::rename(single, spectrogram, failure);
    }
    std::filesystem::remove(single, failure);
    std::filesystem::remove(dryPart, failure);
    ++drawn;
  }
  if (pictures.logSpectrograms(dry, wet, kSampleRate,
                               (directory / ("sonogram-log-" + name + ".png")).string(), title)) {
    ++drawn;
  }
  RenderStats impulseStats;
  // 100 ms after the click, then the effect's tail.
  const std::vector<float> response =
      render(catalog, type, DemoSignal::impulse(kSampleRate / 10), impulseStats);
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
  const std::string dryPart = drySpectrogram + ".part.png";
  if (pictures.spectrogram(dryWav, dryPart, "dry (built-in test signal)")) {
    std::error_code ignored;
    if (!pictures.sideBySide({dryPart}, drySpectrogram)) {
      std::filesystem::rename(dryPart, drySpectrogram, ignored);
    }
    std::filesystem::remove(dryPart, ignored);
  }

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
      drawn += renderOne(catalog, type, pictures, directory, dry, dryWav, table);
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
              << (pictures.hasGnuplot()
                      ? ""
                      : " gnuplot not found (plots, side-by-side and log-frequency views);")
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
