// `quorvel-fx apply`: one input into one output, or many inputs into a
// folder on worker threads; each file read, run through its own chain,
// levelled and written, then reported as a line or as JSON.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <thread>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "ChainFile.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "EffectCatalog.hpp"
#include "Levels.hpp"
#include "TerminalOutput.hpp"
#include "quorvel/rules/Inputs.hpp"

namespace quorvelfx {
namespace {

constexpr unsigned int kMaximumBlock = 65536;
constexpr double kMaximumTail = 3600.0;
constexpr double kGainRangeDb = 120.0;
constexpr double kDefaultNormDb = -1.0;
constexpr unsigned int kMaximumJobs = 32;  // well under the temporaries tracked at once

template <typename Parse>
auto parsed(const std::string& option, const std::string& text, Parse parse) {
  try {
    return parse(text);
  } catch (const std::invalid_argument& bad) {
    throw CliError(kExitUsage, option + " " + text + ": " + bad.what());
  }
}

// Everything about a run that is the same for every file.
struct Settings {
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
  std::string chain;
  std::uint64_t frames = 0;
  unsigned int sampleRate = 0;
  double wallSeconds = 0.0;
  float peak = 0.0f;
  float gain = 1.0f;
  std::uint64_t clipped = 0;
  std::uint64_t aboveFullScale = 0;
  bool pcm = false;

  double seconds() const { return sampleRate ? static_cast<double>(frames) / sampleRate : 0.0; }
  double speed() const { return wallSeconds > 0.0 ? seconds() / wallSeconds : 0.0; }
};

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string chainText(const EffectChain& chain) {
  std::string text;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) text += " > ";
    text += chain.type(i).shortName();
  }
  return text;
}

// The rendered output on its way to the writer: a fixed gain, or, to
// normalise, the whole output kept as floats in an anonymous temporary file
// until its peak is known.
class LevelStage {
 public:
  LevelStage(const Settings& settings, unsigned int channels)
      : level_(settings.gain), normDb_(settings.normDb), channels_(channels) {
    if (normDb_) {
      spool_.reset(std::tmpfile());
      if (!spool_) throw CliError(kExitIo, "cannot create a temporary file to normalise into");
    }
  }

  // True when the output is held back until finish().
  bool holdsBack() const noexcept { return spool_ != nullptr; }

  // Takes rendered frames: levels them in place to go on to the writer, or
  // keeps them to normalise.
  void take(float* interleaved, std::uint64_t frames) {
    const std::size_t count = static_cast<std::size_t>(frames) * channels_;
    if (spool_) {
      for (std::size_t i = 0; i < count; ++i)
        spoolPeak_ = std::max(spoolPeak_, std::fabs(interleaved[i]));
      if (std::fwrite(interleaved, sizeof(float), count, spool_.get()) != count) {
        throw CliError(kExitIo, "cannot write the temporary file to normalise into");
      }
      return;
    }
    level_.apply(interleaved, count);
  }

  // Sends what was held back, scaled to the target peak.
  template <typename Write>
  void finish(Write write) {
    if (!spool_) return;
    level_ = OutputLevel(OutputLevel::normalising(spoolPeak_, *normDb_));
    std::rewind(spool_.get());
    constexpr std::size_t kFrames = ChainRenderer::kChunkFrames;
    block_.resize(kFrames * channels_);
    for (;;) {
      const std::size_t got =
          std::fread(block_.data(), sizeof(float) * channels_, kFrames, spool_.get());
      if (got == 0) break;
      level_.apply(block_.data(), got * channels_);
      write(block_.data(), got);
    }
    if (std::ferror(spool_.get())) {
      throw CliError(kExitIo, "cannot read back the temporary file to normalise from");
    }
  }

  const OutputLevel& level() const noexcept { return level_; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
  };
  OutputLevel level_;
  std::optional<double> normDb_;
  unsigned int channels_;
  std::unique_ptr<std::FILE, Closer> spool_;
  float spoolPeak_ = 0.0f;
  std::vector<float> block_;
};

// Chains are built one at a time: node creation goes through the shared
// factory, which is not promised to be thread-safe.
std::mutex chainCreation;

// With `overlap`, the file is read and written on threads of their own while
// this one renders: worth it while there are cores to spare.
void processFile(const Settings& settings, const EffectCatalog& catalog, bool showProgress,
                 bool overlap, FileResult& result) {
  std::unique_ptr<EffectChain> chain;
  {
    std::lock_guard<std::mutex> lock(chainCreation);
    chain = std::make_unique<EffectChain>(catalog, settings.requests);
  }
  result.chain = chainText(*chain);

  InputSource origin = settings.input;
  origin.path = result.job.input;
  AudioFileReader reader(origin);
  if (!reader.warning().empty()) result.warnings.push_back(reader.warning());
  const unsigned int channels = reader.channels();
  const unsigned int sampleRate = reader.sampleRate();
  result.sampleRate = sampleRate;
  try {
    chain->prepare(sampleRate, channels, settings.block);
  } catch (const CliError& refused) {
    throw CliError(refused.code(), result.job.input + ": " + refused.what());
  }
  const std::uint64_t tailFrames =
      settings.tailSeconds
          ? static_cast<std::uint64_t>(std::llround(*settings.tailSeconds * sampleRate))
          : chain->tailFrames(sampleRate);

  std::optional<OutputFormat> format;
  std::unique_ptr<AudioFileWriter> writer;
  if (!settings.discard) {
    format =
        OutputFormat::resolve(result.job.output, settings.encoding, reader.format(), settings.type);
    result.pcm = format->isPcm();
    writer = std::make_unique<AudioFileWriter>(result.job.output, *format, sampleRate, channels,
                                               reader.tags(), settings.quantisation);
  }
  const auto write = [&](const float* interleaved, std::uint64_t frames) {
    if (writer) writer->write(interleaved, frames);
  };

  // A stream of unknown length is read to its end; its progress cannot be told.
  const std::uint64_t inputFrames = reader.lengthKnown() ? reader.frames() : UINT64_MAX;
  const std::uint64_t total = reader.frames() + tailFrames;
  ProgressBar progress(showProgress && reader.lengthKnown() &&
                           ProgressBar::wanted(false, static_cast<double>(total) / sampleRate),
                       total);
  LevelStage level(settings, channels);
  ChainRenderer renderer(
      *chain, channels, settings.block,
      reader.lengthKnown() ? ChainRenderer::kChunkFrames : ChainRenderer::kStreamChunkFrames);
  const auto start = std::chrono::steady_clock::now();
  const RenderStats stats = renderer.stream(
      [&](float* interleaved, std::uint64_t frames) { return reader.read(interleaved, frames); },
      inputFrames, tailFrames,
      [&](float* interleaved, std::uint64_t frames) { level.take(interleaved, frames); },
      [&](const float* interleaved, std::uint64_t frames) {
        if (!level.holdsBack()) write(interleaved, frames);
      },
      progress, overlap);
  level.finish(write);
  if (writer) writer->commit();
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.frames = stats.frames;
  result.peak = level.level().peak();
  result.gain = level.level().gain();
  result.aboveFullScale = level.level().aboveFullScale();
  result.clipped = writer ? writer->clippedSamples() : 0;
  if (result.aboveFullScale > 0) {
    result.warnings.push_back(OutputLevel::overloadWarning(result.aboveFullScale, result.peak,
                                                           format ? format->sndfileFormat() : 0));
  }
}

void runGuarded(const Settings& settings, const EffectCatalog& catalog, bool showProgress,
                bool overlap, FileResult& result) {
  try {
    processFile(settings, catalog, showProgress, overlap, result);
  } catch (const CliError& error) {
    result.code = error.code();
    result.error = error.what();
  } catch (const std::exception& error) {
    result.code = kExitInternal;
    result.error = error.what();
  }
}

std::string summaryLine(const FileResult& result) {
  const std::string where =
      result.job.output.empty() ? result.job.input + " (discarded)" : result.job.output;
  std::string line =
      "quorvel-fx: " + where + ": " + formatted("%.2f s", result.seconds()) + " of " +
      result.chain + ", " + formatted("%.1fx real time", result.speed()) + ", peak " +
      (result.peak > 0.0f ? formatted("%.1f dBFS", RenderStats::decibels(result.peak))
                          : std::string("silent"));
  if (result.gain != 1.0f) {
    line += formatted(" after %+.2f dB", RenderStats::decibels(result.gain));
  }
  if (result.pcm) line += ", " + std::to_string(result.clipped) + " clipped samples";
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

// Reports one finished file: warnings and errors on stderr, the summary line
// on stdout, or on stderr when stdout carries the audio.
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

Settings settingsFrom(const ApplyOptions& options, const std::vector<std::string>& effectWords) {
  Settings settings;
  settings.block = parsed("--block", options.block, [](const std::string& text) {
    return ValueParser::parseUnsigned(text, 1, kMaximumBlock);
  });
  if (!options.tail.empty()) {
    settings.tailSeconds = parsed("--tail", options.tail, [](const std::string& text) {
      return ValueParser::parseDouble(text, 0.0, kMaximumTail);
    });
  }
  settings.quantisation.dither = !options.noDither;
  if (!options.seed.empty()) {
    settings.quantisation.seed = parsed("--seed", options.seed, [](const std::string& text) {
      return ValueParser::parseUnsigned(text, 0, 4294967295u);
    });
  }
  if (!options.gain.empty() && !options.norm.empty()) {
    throw CliError(kExitUsage, "--gain and --norm both set the output level; give one of them");
  }
  if (!options.gain.empty()) {
    settings.gain =
        OutputLevel::fromDecibels(parsed("--gain", options.gain, [](const std::string& t) {
          return ValueParser::parseDouble(t, -kGainRangeDb, kGainRangeDb);
        }));
  }
  if (!options.norm.empty()) {
    settings.normDb = options.norm == "true"
                          ? kDefaultNormDb
                          : parsed("--norm", options.norm, [](const std::string& text) {
                              return ValueParser::parseDouble(text, -kGainRangeDb, 0.0);
                            });
  }
  settings.encoding = options.encoding;
  settings.type = options.type;
  settings.discard = options.discard;
  settings.input.type = options.inputType;
  settings.input.encoding = options.inputEncoding;
  if (!options.rate.empty()) {
    settings.input.rate = parsed("--rate", options.rate, [](const std::string& text) {
      return quorvel::rules::checkedRate(ValueParser::parseDouble(text, -DBL_MAX, DBL_MAX));
    });
  }
  if (!options.channels.empty()) {
    settings.input.channels = parsed("--channels", options.channels, [](const std::string& t) {
      return ValueParser::parseUnsigned(t, 1, 64);
    });
  }
  settings.input.validate();

  if (!options.chainFile.empty()) {
    if (!effectWords.empty()) {
      throw CliError(kExitUsage, "--chain " + options.chainFile +
                                     " gives the effects; do not name effects as well");
    }
    settings.requests = ChainFile::read(options.chainFile);
    settings.chainFile = options.chainFile;
  } else {
    settings.requests = ChainArguments::parse(effectWords);
  }
  return settings;
}

// The output a batch writes for `input`: its file name in `directory`, with
// the extension of a --type that was given.
std::string batchOutput(const std::string& directory, const std::string& input,
                        const std::string& type) {
  std::filesystem::path name = std::filesystem::path(input).filename();
  if (!type.empty()) name.replace_extension(type);
  return (std::filesystem::path(directory) / name).string();
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::vector<Job> batchJobs(const ApplyOptions& options, const std::vector<std::string>& inputs,
                           std::vector<FileResult>& refused) {
  std::error_code failure;
  std::filesystem::create_directories(options.outputDir, failure);
  if (failure || !std::filesystem::is_directory(options.outputDir)) {
    throw CliError(kExitIo, "--output-dir " + options.outputDir + ": cannot create the folder (" +
                                failure.message() + ")");
  }
  std::vector<Job> jobs;
  for (const std::string& input : inputs) {
    Job job{input, batchOutput(options.outputDir, input, options.type)};
    std::string problem;
    if (input == "-") {
      problem = "standard input cannot be one of several inputs";
    } else if (sameFile(input, job.output)) {
      problem = input + ": its output would replace it; choose another --output-dir";
    } else {
      for (const Job& earlier : jobs) {
        if (earlier.output == job.output) {
          problem = input + ": " + earlier.input + " is written to " + job.output + " already";
        }
      }
    }
    if (problem.empty()) {
      jobs.push_back(job);
    } else {
      FileResult result;
      result.job = job;
      result.code = kExitUsage;
      result.error = problem;
      refused.push_back(result);
    }
  }
  return jobs;
}

unsigned int jobCount(const std::string& text) {
  if (text.empty()) return std::clamp(std::thread::hardware_concurrency(), 1u, kMaximumJobs);
  return parsed("--jobs", text, [](const std::string& value) {
    return ValueParser::parseUnsigned(value, 1, kMaximumJobs);
  });
}

}  // namespace

int runApply(const ApplyOptions& options) {
  // Which words are files and which are effects: `--` separates them;
  // without it a single run takes INPUT OUTPUT and the effects follow.
  const bool batch = !options.outputDir.empty();
  const bool effectsFromFile = !options.chainFile.empty();
  const std::size_t fixedFiles = options.discard ? 1 : 2;
  std::vector<std::string> files = options.words;
  std::vector<std::string> effects = options.chain;
  if (!options.separated) {
    if (batch && !effectsFromFile) {
      throw CliError(kExitUsage,
                     "with --output-dir, end the inputs with -- before the effects "
                     "(quorvel-fx apply --output-dir DIR IN... -- EFFECT ...)");
    }
    if (!batch && files.size() > fixedFiles) {
      effects.assign(files.begin() + static_cast<std::ptrdiff_t>(fixedFiles), files.end());
      files.resize(fixedFiles);
    }
  }
  if (batch && options.discard) {
    throw CliError(kExitUsage, "--null writes nothing; it does not go with --output-dir");
  }
  if (!batch && files.size() != fixedFiles) {
    throw CliError(kExitUsage, options.discard ? "give one INPUT with --null"
                                               : "give INPUT and OUTPUT before the effects");
  }
  if (batch && files.empty()) throw CliError(kExitUsage, "--output-dir needs at least one INPUT");
  if (effects.empty() && !effectsFromFile) {
    throw CliError(kExitUsage, "no EFFECT given: name at least one ('quorvel-fx list' shows them)");
  }
  if (options.json && !batch && !options.discard && files[1] == "-") {
    throw CliError(kExitUsage, "--json prints to standard output, which carries the audio here");
  }

  const Settings settings = settingsFrom(options, effects);
  std::vector<FileResult> results;
  std::vector<Job> jobs;
  if (batch) {
    jobs = batchJobs(options, files, results);
  } else {
    jobs.push_back(Job{files[0], options.discard ? std::string() : files[1]});
    // Checked before opening anything so a usage error is reported as one.
    if (!settings.discard) {
      OutputFormat::resolve(jobs[0].output, settings.encoding, 0, settings.type);
    }
  }
  const EffectCatalog catalog = EffectCatalog::load();

  if (!batch) {
    FileResult result;
    result.job = jobs[0];
    if (!options.json) {
      processFile(settings, catalog, !options.quiet, true, result);
      report(result, options.quiet, false);
      return kExitSuccess;
    }
    // Scripts get their JSON whether or not the file went through.
    runGuarded(settings, catalog, false, true, result);
    report(result, options.quiet, true);
    const nlohmann::ordered_json summary = {{"files", {jsonOf(result)}},
                                            {"failed", result.code == kExitSuccess ? 0 : 1}};
    std::cout << summary.dump(2) << std::endl;
    return result.code;
  }

  // Workers take the next file as they finish one; each result is reported
  // as soon as it is known.
  const std::size_t firstJob = results.size();
  results.resize(firstJob + jobs.size());
  for (const FileResult& refused : results) {
    if (!refused.error.empty()) report(refused, options.quiet, options.json);
  }
  const unsigned int workers =
      static_cast<unsigned int>(std::min<std::size_t>(jobCount(options.jobs), jobs.size()));
  // Each file's reading and writing threads would only compete with the other workers.
  const bool overlap = 2 * workers <= std::max(1u, std::thread::hardware_concurrency());
  std::atomic<std::size_t> next{0};
  std::mutex reporting;
  const auto work = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      FileResult& result = results[firstJob + i];
      result.job = jobs[i];
      runGuarded(settings, catalog, false, overlap, result);
      std::lock_guard<std::mutex> lock(reporting);
      report(result, options.quiet, options.json);
    }
  };
  std::vector<std::thread> threads;
  for (unsigned int w = 1; w < workers; ++w) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();

  // Exit with the first failure in the order the inputs were given.
  std::size_t failed = 0;
  ExitCode code = kExitSuccess;
  std::vector<const FileResult*> ordered;
  for (const FileResult& result : results) ordered.push_back(&result);
  std::stable_sort(ordered.begin(), ordered.end(), [&](const FileResult* a, const FileResult* b) {
    const auto position = [&](const FileResult* r) {
      return std::find(files.begin(), files.end(), r->job.input) - files.begin();
    };
    return position(a) < position(b);
  });
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const FileResult* result : ordered) {
    list.push_back(jsonOf(*result));
    if (result->code == kExitSuccess) continue;
    ++failed;
    if (code == kExitSuccess) code = result->code;
  }
  if (options.json) {
    std::cout << nlohmann::ordered_json{{"files", list}, {"failed", failed}}.dump(2) << std::endl;
  } else if (failed > 0) {
    std::cerr << "quorvel-fx: " << failed << " of " << ordered.size()
              << (ordered.size() == 1 ? " file" : " files") << " failed; the others were written"
              << std::endl;
  }
  return code;
}

}  // namespace quorvelfx
