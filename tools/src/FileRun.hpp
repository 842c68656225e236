#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "CommandLine.hpp"
#include "EffectCatalog.hpp"

// One file of an `apply` run: read, run through its own chain, levelled,
// written, and what happened to it.
namespace quorvelfx {

// Everything about a run that is the same for every file.
struct RunSettings {
  std::vector<EffectRequest> requests;
  unsigned int block = 256;
  std::optional<double> tailSeconds;
  Quantisation quantisation;
  float gain = 1.0f;
  std::optional<double> normDb;
  std::string encoding;
  std::string type;
  InputSource input;      // path left empty: type, rate, channels, encoding of raw input
  std::string chainFile;  // where the effects came from, when not the command line
  bool discard = false;
};

// One input and where its output goes.
struct Job {
  std::string input;
  std::string output;  // empty with --null
};

// What happened to one file, for its summary line and the JSON report.
struct FileResult {
  Job job;
  ExitCode code = kExitSuccess;
  std::string error;
  std::vector<std::string> warnings;
  std::string chain;  // the effects' short names, "Delay > Chorus"
  std::uint64_t frames = 0;
  unsigned int sampleRate = 0;
  double wallSeconds = 0.0;
  float peak = 0.0f;
  float gain = 1.0f;
  std::uint64_t clipped = 0;
  std::uint64_t aboveFullScale = 0;
  bool pcm = false;

  // Seconds of audio written.
  double seconds() const { return sampleRate ? static_cast<double>(frames) / sampleRate : 0.0; }
  // Audio seconds per wall-clock second.
  double speed() const { return wallSeconds > 0.0 ? seconds() / wallSeconds : 0.0; }
};

// Processes `result.job` and fills in `result`; throws CliError for what it
// reports as an error. With `overlap`, the file is read and written on
// threads of their own while this one renders: worth it while there are
// cores to spare. Safe to call from several threads at once.
void processFile(const RunSettings& settings, const EffectCatalog& catalog, bool showProgress,
                 bool overlap, FileResult& result);

// processFile() with any failure stored in `result` instead of thrown.
void runGuarded(const RunSettings& settings, const EffectCatalog& catalog, bool showProgress,
                bool overlap, FileResult& result);

}  // namespace quorvelfx
