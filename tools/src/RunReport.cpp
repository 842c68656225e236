#include "RunReport.hpp"

#include <fmt/format.h>

#include <iostream>

namespace quorvelfx {

std::string summaryLine(const FileResult& result) {
  const std::string where =
      result.job.output.empty() ? result.job.input + " (discarded)" : result.job.output;
  std::string line =
      fmt::format("quorvel-fx: {}: {:.2f} s of {}, {:.1f}x real time, peak ", where,
                  result.seconds(), result.chain, result.speed()) +
      (result.peak > 0.0f ? fmt::format("{:.1f} dBFS", RenderStats::decibels(result.peak))
                          : std::string("silent"));
  if (result.gain != 1.0f) {
    line += fmt::format(" after {:+.2f} dB", RenderStats::decibels(result.gain));
  }
  if (result.pcm) line += fmt::format(", {} clipped samples", result.clipped);
  return line;
}

nlohmann::ordered_json jsonOf(const FileResult& result) {
  nlohmann::ordered_json entry = {{"input", result.job.input}};
  entry["output"] = result.job.output.empty() ? nlohmann::ordered_json()
                                              : nlohmann::ordered_json(result.job.output);
  if (result.code != kExitSuccess) {
    entry["status"] = "error";
    entry["exitCode"] = static_cast<int>(result.code);
    entry["error"] = result.error;
    return entry;
  }
  entry["status"] = "ok";
  entry["chain"] = result.chain;
  entry["sampleRate"] = result.sampleRate;
  entry["frames"] = result.frames;
  entry["seconds"] = result.seconds();
  entry["wallSeconds"] = result.wallSeconds;
  entry["speed"] = result.speed();
  entry["peak"] = result.peak;
  entry["peakDbfs"] = result.peak > 0.0f
                          ? nlohmann::ordered_json(RenderStats::decibels(result.peak))
                          : nlohmann::ordered_json();
  entry["gainDb"] = RenderStats::decibels(result.gain);
  entry["clippedSamples"] = result.clipped;
  entry["aboveFullScale"] = result.aboveFullScale;
  entry["warnings"] = result.warnings;
  return entry;
}

void report(const FileResult& result, bool quiet, bool json) {
  const std::string& name = result.job.output.empty() ? result.job.input : result.job.output;
  for (const std::string& warning : result.warnings) {
    std::cerr << "quorvel-fx: warning: " << name << ": " << warning << std::endl;
  }
  if (result.code != kExitSuccess) {
    std::cerr << "quorvel-fx: error: " << result.error << std::endl;
    return;
  }
  if (quiet || json) return;
  (result.job.output == "-" ? std::cerr : std::cout) << summaryLine(result) << std::endl;
}

}  // namespace quorvelfx
