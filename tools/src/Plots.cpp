// gnuplot scripts for the demo's pictures. Spectrograms go to gnuplot as raw
// float matrices drawn `with image`, so every panel's placement, axes and
// labels are set here rather than read back from another program's output.
#include "Plots.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ExternalCommand.hpp"

namespace quorvelfx {
namespace {

// gnuplot string literals are single-quoted; a quote inside is doubled.
std::string gnuplotText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

bool writeFloats(const std::string& path, const std::vector<float>& values) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(float)));
  out.close();
  return static_cast<bool>(out);
}

// Ticks at 1, 2 and 5 times each power of ten within [lowHz, highHz], placed
// at log10(Hz) (gnuplot draws images on linear axes only) and labelled in Hz.
std::string logFrequencyTics(double lowHz, double highHz) {
  std::string tics;
  for (double decade = std::pow(10.0, std::floor(std::log10(lowHz))); decade <= highHz;
       decade *= 10.0) {
    for (double step : {1.0, 2.0, 5.0}) {
      const double hz = decade * step;
      if (hz < lowHz || hz > highHz) continue;
      fmt::format_to(std::back_inserter(tics), "{}'{:.0f}' {:.6f}", tics.empty() ? "" : ", ", hz,
                     std::log10(hz));
    }
  }
  return "set ytics (" + tics + ")\n";
}

// Panel sizes and gaps in pixels: room on the left for the frequency labels,
// between columns for the next column's tick labels, on the right for the
// colour bar.
constexpr int kPanelWidth = 576;
constexpr int kPanelHeight = 315;
constexpr int kLeftPad = 94;
constexpr int kColumnGap = 70;
constexpr int kRightPad = 130;
constexpr int kTopPad = 67;
constexpr int kRowGap = 50;
constexpr int kBottomPad = 92;

const char* channelName(std::size_t channel, std::size_t count) {
  if (count == 2) return channel == 0 ? "left" : "right";
  return count == 1 ? "mono" : "";
}

}  // namespace

bool Plotter::draw(const std::string& script, const std::string& partPath,
                   const std::string& pngPath) {
  const std::string scriptPath = pngPath + ".gp";
  bool ok = false;
  {
    std::ofstream out(scriptPath);
    out << script;
    out.close();
    ok = static_cast<bool>(out);
  }
  if (ok) {
    const ExternalOutcome outcome = runExternal({"gnuplot", scriptPath});
    if (outcome == ExternalOutcome::kNotInstalled) installed_ = false;
    ok = outcome == ExternalOutcome::kSucceeded;
  }
  std::error_code ignored;
  std::filesystem::remove(scriptPath, ignored);
  if (ok) {
    std::error_code renamed;
    std::filesystem::rename(partPath, pngPath, renamed);
    ok = !renamed;
  }
  if (!ok) std::filesystem::remove(partPath, ignored);
  return ok;
}

bool Plotter::spectrograms(const std::vector<SpectrogramColumn>& columns,
                           const std::string& heading, const std::string& pngPath) {
  if (!installed_ || columns.empty() || columns.front().channels.empty()) return false;
  const Spectrogram& first = columns.front().channels.front();
  const FrequencyAxis& axis = first.axis;
  const std::size_t rows = columns.front().channels.size();
  const int count = static_cast<int>(columns.size());
  const int width = kLeftPad + count * kPanelWidth + (count - 1) * kColumnGap + kRightPad;
  const int height =
      kTopPad + static_cast<int>(rows) * (kPanelHeight + kRowGap) - kRowGap + kBottomPad;
  const auto across = [&](double pixels) { return pixels / width; };
  const auto up = [&](double pixelsFromTop) { return 1.0 - pixelsFromTop / height; };

  // y is log10(Hz) on a logarithmic axis, kHz on a linear one.
  const double low = axis.logarithmic ? std::log10(axis.lowHz) : axis.lowHz / 1000.0;
  const double high = axis.logarithmic ? std::log10(axis.highHz) : axis.highHz / 1000.0;
  const double rowHeight = (high - low) / static_cast<double>(axis.rows);

  const std::string partPath = pngPath + ".part.png";
  std::string script = fmt::format("set terminal png size {},{}\nset output {}\nset multiplot\n",
                                   width, height, gnuplotText(partPath));
  script +=
      fmt::format("set xrange [0:{:.4f}]; set yrange [{:.6f}:{:.6f}]\n", first.seconds, low, high);
  script += "unset key; set cbrange [-100:0]\n";
  // Dark below -80 dBFS, so that silence stays black.
  script +=
      "set palette defined (0 'black', 0.2 '#1b0c41', 0.4 '#6a176e', 0.6 '#bc3754', "
      "0.8 '#f98e09', 1 '#fcffa4')\n";
  script += axis.logarithmic ? logFrequencyTics(axis.lowHz, axis.highHz) : "set ytics autofreq\n";
  script += "set grid xtics ytics front lt 0 lw 1 lc rgb '#a0a0a0'\n";
  script += "set style textbox opaque fillcolor rgb 'black' noborder\n";
  if (!heading.empty()) {
    script += fmt::format("set label 99 {} at screen 0.5, screen {:.4f} center font ',14'\n",
                          gnuplotText(heading), up(22));
  }

  std::vector<std::string> dataPaths;
  bool written = true;
  for (std::size_t channel = 0; channel < rows; ++channel) {
    const double top = kTopPad + static_cast<double>(channel) * (kPanelHeight + kRowGap);
    for (int side = 0; side < count; ++side) {
      const SpectrogramColumn& column = columns[static_cast<std::size_t>(side)];
      if (channel >= column.channels.size()) continue;
      const Spectrogram& spectrogram = column.channels[channel];
      dataPaths.push_back(fmt::format("{}.{}-{}.bin", pngPath, side, channel));
      written = written && writeFloats(dataPaths.back(), spectrogram.levels);

      const double left = kLeftPad + side * (kPanelWidth + kColumnGap);
      script += fmt::format(
          "set lmargin at screen {:.4f}; set rmargin at screen {:.4f}\n"
          "set tmargin at screen {:.4f}; set bmargin at screen {:.4f}\n",
          across(left), across(left + kPanelWidth), up(top), up(top + kPanelHeight));
      script += "set title " + gnuplotText(channel == 0 ? column.title : "") + "\n";
      script += side == 0 ? (axis.logarithmic ? "set ylabel 'frequency (Hz)'\n"
                                              : "set ylabel 'frequency (kHz)'\n")
                          : "unset ylabel\n";
      script += channel + 1 == rows ? "set xlabel 'time (s)'\n" : "unset xlabel\n";
      if (channel == 0 && side == count - 1) {
        const double barTop = kTopPad;
        const double barBottom =
            kTopPad + static_cast<double>(rows) * (kPanelHeight + kRowGap) - kRowGap;
        script += fmt::format(
            "set colorbox user origin screen {:.4f}, screen {:.4f} size screen {:.4f}, "
            "screen {:.4f}; set cblabel 'dBFS'\n",
            across(left + kPanelWidth + 20), up(barBottom), across(17),
            (barBottom - barTop) / height);
      } else {
        script += "unset colorbox\n";
      }
      script += fmt::format(
          "set label 1 {} at graph 0.015, graph 0.92 front boxed tc rgb 'white' font ',13'\n",
          gnuplotText(channelName(channel, rows)));
      script += fmt::format(
          "plot {} binary array=({},{}) format='%float' origin=(0,{:.6f}) dx={:.6f} dy={:.6f} "
          "with image\n",
          gnuplotText(dataPaths.back()), spectrogram.columns, spectrogram.axis.rows,
          low + 0.5 * rowHeight, spectrogram.hopSeconds, rowHeight);
    }
  }
  script += "unset multiplot\n";
  const bool ok = written && draw(script, partPath, pngPath);
  for (const std::string& path : dataPaths) std::remove(path.c_str());
  return ok;
}

bool Plotter::impulseResponse(const std::vector<float>& samples, unsigned int sampleRate,
                              const std::string& title, const std::string& pngPath) {
  if (!installed_ || sampleRate == 0) return false;
  const std::size_t frames = samples.size() / 2;
  const double lengthMs = 1000.0 * static_cast<double>(frames) / sampleRate;
  // Levels in dB show an echo train's decay far better than linear
  // amplitude. gnuplot draws impulses up from y = 0, so the data is lifted
  // by the floor and the tick labels give the real level. Samples below the
  // floor are left out, which keeps the data file small.
  const double floorDb = -90.0;
  const double floorGain = std::pow(10.0, floorDb / 20.0);
  const auto lifted = [&](double gain) {
    return gain < floorGain ? 0.0 : 20.0 * std::log10(gain) - floorDb;
  };
  const std::string dataPath = pngPath + ".dat";
  std::string data;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const double left = std::fabs(samples[2 * frame]);
    const double right = std::fabs(samples[2 * frame + 1]);
    if (left < floorGain && right < floorGain) continue;
    fmt::format_to(std::back_inserter(data), "{:.4f} {:.3f} {:.3f}\n",
                   1000.0 * static_cast<double>(frame) / sampleRate, lifted(left), lifted(right));
  }
  bool written = false;
  {
    std::ofstream out(dataPath);
    out << data;
    out.close();
    written = static_cast<bool>(out);
  }

  const std::string partPath = pngPath + ".part.png";
  std::string script = fmt::format(
      "set terminal png size 1000,560\nset output {}\nset multiplot layout 2,1 title {}\n",
      gnuplotText(partPath), gnuplotText(title));
  script += "unset key; set grid\n";
  script += fmt::format("set xrange [{:.3f}:{:.3f}]; set yrange [0:{:.0f}]\n", -0.02 * lengthMs,
                        lengthMs, -floorDb + 3.0);
  script += "set ytics ('0 dB' 90, '-30' 60, '-60' 30, '-90' 0)\n";
  script += "set ylabel 'left'\n";
  script += "plot " + gnuplotText(dataPath) + " using 1:2 with impulses lw 2 lc rgb '#1f77b4'\n";
  script += "set ylabel 'right'; set xlabel 'time (ms)'\n";
  script += "plot " + gnuplotText(dataPath) + " using 1:3 with impulses lw 2 lc rgb '#d62728'\n";
  script += "unset multiplot\n";
  const bool ok = written && draw(script, partPath, pngPath);
  std::remove(dataPath.c_str());
  return ok;
}

}  // namespace quorvelfx
