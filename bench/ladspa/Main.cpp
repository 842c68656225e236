// quorvel-ladspa-bench: times LADSPA plugins side by side in one process.
// Every plugin gets the same stereo signal in the same blocks; the rounds
// interleave the plugins so that a change in the machine's load falls on all
// of them alike, and each plugin's fastest round is its figure.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "LadspaHost.hpp"

namespace {

using quorvel::ladspabench::Plugin;

struct Result {
  std::vector<double> seconds;  // one per timed round
  float peak = 0.0f;
  double rms = 0.0;
  std::size_t nonFinite = 0;
};

// One pass over the whole signal, untimed: warms the caches and the
// plugin's lazy set-up, and says what the plugin made of the signal.
void checkOutput(Plugin& plugin, const quorvel::ladspabench::StereoSignal& signal,
                 unsigned long block, Result& result) {
  std::vector<float> left(block), right(block);
  float* const out[2] = {left.data(), right.data()};
  double squares = 0.0;
  const std::size_t frames = signal.left.size();
  for (std::size_t pos = 0; pos < frames; pos += block) {
    const unsigned long n = static_cast<unsigned long>(std::min<std::size_t>(block, frames - pos));
    const float* const in[2] = {signal.left.data() + pos, signal.right.data() + pos};
    plugin.run(in, out, n);
    for (const float* channel : out) {
      for (unsigned long i = 0; i < n; ++i) {
        const float v = channel[i];
        if (!std::isfinite(v)) {
          ++result.nonFinite;
          continue;
        }
        result.peak = std::max(result.peak, std::fabs(v));
        squares += static_cast<double>(v) * v;
      }
    }
  }
  result.rms = std::sqrt(squares / (2.0 * static_cast<double>(frames)));
}

double timeRound(Plugin& plugin, const quorvel::ladspabench::StereoSignal& signal,
                 unsigned long block, std::vector<float>& left, std::vector<float>& right) {
  float* const out[2] = {left.data(), right.data()};
  const std::size_t frames = signal.left.size();
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t pos = 0; pos < frames; pos += block) {
    const unsigned long n = static_cast<unsigned long>(std::min<std::size_t>(block, frames - pos));
    const float* const in[2] = {signal.left.data() + pos, signal.right.data() + pos};
    plugin.run(in, out, n);
  }
  const auto stop = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(stop - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string settingsText(const Plugin& plugin) {
  std::string out;
  for (const auto& [name, value] : plugin.controls()) {
    if (!out.empty()) out += ", ";
    out += fmt::format("{}={:g}", name, value);
  }
  return out;
}

// Markdown cells must not hold a bare '|'.
std::string cell(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Times LADSPA plugins in one process: each plugin runs the same stereo signal "
      "(white noise and a tone) in blocks, the plugins take turns round after round, and "
      "each one's fastest round is reported in ns per channel-sample (a stereo frame counts "
      "two), with its ratio to the reference plugin.",
      "quorvel-ladspa-bench"};
  unsigned long rate = 48000;
  unsigned long block = 1024;
  double seconds = 10.0;
  unsigned int repeats = 5;
  std::string reference;
  std::string format = "text";
  bool showSettings = false;
  std::vector<std::string> words;
  app.add_option("--rate", rate, "Sample rate in Hz")
      ->capture_default_str()
      ->check(CLI::Range(1ul, 1000000ul));
  app.add_option("--block", block, "Frames per run() call")
      ->capture_default_str()
      ->check(CLI::Range(1ul, 1ul << 20));
  app.add_option("--seconds", seconds, "Length of the signal each round processes")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 3600.0));
  app.add_option("--repeats", repeats, "Timed rounds per plugin; the fastest counts")
      ->capture_default_str()
      ->check(CLI::Range(1u, 1000u));
  app.add_option("--reference", reference,
                 "The plugin the ratios are to, by name (@name or label) or position from 1; "
                 "the first by default");
  app.add_option("--format", format, "text, markdown or tsv")
      ->capture_default_str()
      ->check(CLI::IsMember({"text", "markdown", "tsv"}));
  app.add_flag("--show-settings", showSettings,
               "Also print every input control's value (defaults from the port hints where "
               "not given)");
  app.add_option("plugins", words,
                 "LIBRARY LABEL [port=value ...] [@name], once per plugin. LIBRARY is a path or "
                 "a file name looked up in $LADSPA_PATH and /usr/lib/ladspa; a port is named "
                 "by index or by name, '_' for ' ', unit optional")
      ->required();
  app.footer(
      "Example:\n  quorvel-ladspa-bench build/lib/ladspa/quorvel-fx.so quorvel_delay delayMs=250 "
      "@ours \\\n      tap_echo.so tap_stereo_echo L_Delay=250 R/Haas_Delay=250 @tap\n"
      "A plugin with one input and one output runs as two instances, one per channel.");
  CLI11_PARSE(app, argc, argv);

  try {
    const auto requests = quorvel::ladspabench::parseRequests(words);
    const std::size_t frames =
        static_cast<std::size_t>(std::llround(seconds * static_cast<double>(rate)));
    if (frames == 0) throw std::invalid_argument("--seconds gives no frames at this rate");
    const auto signal = quorvel::ladspabench::makeSignal(rate, frames);

    std::vector<std::unique_ptr<Plugin>> plugins;
    for (const auto& request : requests)
      plugins.push_back(std::make_unique<Plugin>(request, rate, block));

    std::size_t ref = 0;
    if (!reference.empty()) {
      ref = plugins.size();
      for (std::size_t i = 0; i < plugins.size() && ref == plugins.size(); ++i) {
        if (requests[i].name == reference || requests[i].label == reference ||
            std::to_string(i + 1) == reference) {
          ref = i;
        }
      }
      if (ref == plugins.size()) throw std::invalid_argument("--reference: no plugin " + reference);
    }

    std::vector<Result> results(plugins.size());
    for (std::size_t i = 0; i < plugins.size(); ++i) {
      checkOutput(*plugins[i], signal, block, results[i]);
    }
    std::vector<float> left(block), right(block);
    for (unsigned int r = 0; r < repeats; ++r) {
      // Each round starts at another plugin, so none always follows the same one.
      for (std::size_t k = 0; k < plugins.size(); ++k) {
        const std::size_t i = (k + r) % plugins.size();
        plugins[i]->restart();
        results[i].seconds.push_back(timeRound(*plugins[i], signal, block, left, right));
      }
    }

    const double channelSamples = 2.0 * static_cast<double>(frames);
    const auto nsPerSample = [&](double s) { return s * 1e9 / channelSamples; };
    const auto best = [&](std::size_t i) {
      return *std::min_element(results[i].seconds.begin(), results[i].seconds.end());
    };
    const double refBest = best(ref);
    const double audioSeconds = static_cast<double>(frames) / static_cast<double>(rate);

    if (format == "tsv") {
      fmt::print(
          "name\tlibrary\tlabel\tlayout\tns_per_channel_sample\tmedian_ns\tx_realtime\t"
          "ratio\tpeak\trms\tnon_finite\tsettings\n");
    } else if (format == "markdown") {
      fmt::print(
          "| Plugin | Label | Layout | ns / channel-sample | Median | × real time | "
          "Ratio to {} | Peak | Non-finite |\n|---|---|---|---:|---:|---:|---:|---:|---:|\n",
          cell(requests[ref].name));
    } else {
      fmt::print(
          "{} Hz, {}-frame blocks, {:g} s of stereo signal, best of {} interleaved rounds; "
          "ns per channel-sample\n",
          rate, block, seconds, repeats);
      fmt::print("{:<28} {:<14} {:>10} {:>10} {:>10} {:>9} {:>7} {}\n", "plugin", "layout", "ns",
                 "median", "× rt", "ratio", "peak", "non-finite");
    }
    for (std::size_t i = 0; i < plugins.size(); ++i) {
      const Result& res = results[i];
      const double ns = nsPerSample(best(i));
      const double med = nsPerSample(median(res.seconds));
      const double realtime = audioSeconds / best(i);
      const double ratio = best(i) / refBest;
      const char* layout = quorvel::ladspabench::layoutName(plugins[i]->layout());
      if (format == "tsv") {
        fmt::print("{}\t{}\t{}\t{}\t{:.4f}\t{:.4f}\t{:.0f}\t{:.4f}\t{:.3f}\t{:.3f}\t{}\t{}\n",
                   requests[i].name, requests[i].library, requests[i].label, layout, ns, med,
                   realtime, ratio, res.peak, res.rms, res.nonFinite, settingsText(*plugins[i]));
      } else if (format == "markdown") {
        fmt::print("| {} | `{}` | {} | {:.2f} | {:.2f} | {:.0f} | {:.2f} | {:.2f} | {} |\n",
                   cell(requests[i].name), requests[i].label, layout, ns, med, realtime, ratio,
                   res.peak, res.nonFinite);
      } else {
        fmt::print("{:<28} {:<14} {:>10.3f} {:>10.3f} {:>10.0f} {:>9.3f} {:>7.2f} {}\n",
                   requests[i].name, layout, ns, med, realtime, ratio, res.peak, res.nonFinite);
      }
    }
    // After the table, so that it stays one block a script can cut out.
    if (showSettings && format != "tsv") {
      fmt::print("\nSettings:\n");
      for (std::size_t i = 0; i < plugins.size(); ++i) {
        fmt::print("{}{} ({}): {}\n", format == "markdown" ? "- " : "  ", requests[i].name,
                   requests[i].label, settingsText(*plugins[i]));
      }
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-ladspa-bench: %s\n", e.what());
    return 1;
  }
}
