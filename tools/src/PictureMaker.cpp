#include "PictureMaker.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "ExternalCommand.hpp"

namespace quorvelfx {
namespace {

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

}  // namespace

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

}  // namespace quorvelfx
