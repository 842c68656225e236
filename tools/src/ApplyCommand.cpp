// `quorvel-fx apply`: one input into one output, or many inputs into a
// folder on worker threads; which words are files and which are effects,
// the settings every file shares, and the order results are reported in.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "AudioFiles.hpp"
#include "Chain.hpp"
#include "ChainFile.hpp"
#include "CommandLine.hpp"
#include "Commands.hpp"
#include "EffectCatalog.hpp"
#include "FileRun.hpp"
#include "Interrupts.hpp"
#include "Levels.hpp"
#include "RunReport.hpp"

namespace quorvelfx {
namespace {

constexpr unsigned int kMaximumJobs = 32;

RunSettings settingsFrom(const ApplyOptions& options, const std::vector<std::string>& effectWords) {
  RunSettings settings;
  settings.block = options.block;
  settings.tailSeconds = options.tail;
  settings.quantisation.dither = !options.noDither;
  if (options.seed) settings.quantisation.seed = *options.seed;
  if (options.gainDb && options.normDb) {
    throw CliError(kExitUsage, "--gain and --norm both set the output level; give one of them");
  }
  if (options.gainDb) settings.gain = OutputLevel::fromDecibels(*options.gainDb);
  settings.normDb = options.normDb;
  settings.encoding = options.encoding;
  settings.type = options.type;
  settings.discard = options.discard;
  settings.input.type = options.inputType;
  settings.input.encoding = options.inputEncoding;
  settings.input.rate = options.rate;
  settings.input.channels = options.channels;
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

// The files and the effect words of the command line. `--` separates them;
// without it a single run takes INPUT OUTPUT and the effects follow. A `--`
// before any file name only ends the options, so that names starting with
// '-' can follow: then a second `--` separates, or, for a single run, the
// words are read as if no `--` had been given.
struct Words {
  std::vector<std::string> files;
  std::vector<std::string> effects;
};

Words wordsOf(const ApplyOptions& options) {
  const bool batch = !options.outputDir.empty();
  const bool effectsFromFile = !options.chainFile.empty();
  const std::size_t fixedFiles = options.discard ? 1 : 2;
  Words words{options.words, options.chain};
  bool separated = options.separated;
  if (separated && words.files.empty()) {
    const auto second = std::find(words.effects.begin(), words.effects.end(), "--");
    if (second != words.effects.end()) {
      words.files.assign(words.effects.begin(), second);
      words.effects.erase(words.effects.begin(), second + 1);
    } else if (!batch) {
      words.files.swap(words.effects);
      separated = false;
    }
  }
  if (!separated) {
    if (batch && !effectsFromFile) {
      throw CliError(kExitUsage,
                     "with --output-dir, end the inputs with -- before the effects "
                     "(quorvel-fx apply --output-dir DIR IN... -- EFFECT ...)");
    }
    if (!batch && words.files.size() > fixedFiles) {
      words.effects.assign(words.files.begin() + static_cast<std::ptrdiff_t>(fixedFiles),
                           words.files.end());
      words.files.resize(fixedFiles);
    }
  }
  if (batch && options.discard) {
    throw CliError(kExitUsage, "--null writes nothing; it does not go with --output-dir");
  }
  if (!batch && words.files.size() != fixedFiles) {
    throw CliError(kExitUsage, options.discard ? "give one INPUT with --null"
                                               : "give INPUT and OUTPUT before the effects");
  }
  if (batch && words.files.empty()) {
    throw CliError(kExitUsage, "--output-dir needs at least one INPUT");
  }
  if (words.effects.empty() && !effectsFromFile) {
    throw CliError(kExitUsage, "no EFFECT given: name at least one ('quorvel-fx list' shows them)");
  }
  if (options.json && !batch && !options.discard && words.files[1] == "-") {
    throw CliError(kExitUsage, "--json prints to standard output, which carries the audio here");
  }
  return words;
}

int runSingle(const ApplyOptions& options, const RunSettings& settings, const Job& job,
              const EffectCatalog& catalog) {
  FileResult result;
  result.job = job;
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

// Workers take the next file as they finish one; each result is reported as
// soon as it is known. Exits with the first failure in the order the inputs
// were given.
int runBatch(const ApplyOptions& options, const RunSettings& settings,
             const std::vector<std::string>& files, const std::vector<Job>& jobs,
             std::vector<FileResult> results, const EffectCatalog& catalog) {
  const std::size_t firstJob = results.size();
  results.resize(firstJob + jobs.size());
  for (const FileResult& refused : results) {
    if (!refused.error.empty()) report(refused, options.quiet, options.json);
  }
  const unsigned int wanted =
      options.jobs ? *options.jobs
                   : std::clamp(std::thread::hardware_concurrency(), 1u, kMaximumJobs);
  const auto workers = static_cast<unsigned int>(std::min<std::size_t>(wanted, jobs.size()));
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
  {
    const Interrupts::HeldForNewThreads signalsGoToThisThread;
    for (unsigned int w = 1; w < workers; ++w) threads.emplace_back(work);
  }
  work();
  for (std::thread& thread : threads) thread.join();

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

}  // namespace

int runApply(const ApplyOptions& options) {
  const Words words = wordsOf(options);
  const RunSettings settings = settingsFrom(options, words.effects);
  if (options.outputDir.empty()) {
    const Job job{words.files[0], options.discard ? std::string() : words.files[1]};
    // Checked before opening anything so a usage error is reported as one.
    if (!settings.discard) OutputFormat::resolve(job.output, settings.encoding, 0, settings.type);
    return runSingle(options, settings, job, EffectCatalog::load());
  }
  std::vector<FileResult> refused;
  const std::vector<Job> jobs = batchJobs(options, words.files, refused);
  return runBatch(options, settings, words.files, jobs, std::move(refused), EffectCatalog::load());
}

}  // namespace quorvelfx
