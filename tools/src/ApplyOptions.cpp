#include "ApplyOptions.hpp"

#include <fmt/format.h>

#include <cfloat>
#include <cstring>
#include <stdexcept>

#include "CommandLine.hpp"
#include "TerminalOutput.hpp"
#include "quorvel/rules/Inputs.hpp"

namespace quorvelfx {

OptionValueError::OptionValueError(const std::string& option, const std::string& text,
                                   const std::string& problem)
    : CLI::ParseError("OptionValueError", option + " " + text + ": " + problem,
                      CLI::ExitCodes::ValidationError) {}

namespace {

constexpr unsigned int kMaximumBlock = 65536;
constexpr double kMaximumTail = 3600.0;
constexpr double kGainRangeDb = 120.0;
constexpr double kDefaultNormDb = -1.0;
constexpr unsigned int kMaximumJobs = 32;  // well under the temporaries tracked at once
constexpr unsigned int kMaximumChannels = 64;

// A transform that replaces the text with what `convert` makes of it, and
// reports what it throws as a bad value of `option`.
template <typename Convert>
CLI::Validator checked(const std::string& option, Convert convert) {
  return CLI::Validator(
      [option, convert](std::string& text) {
        try {
          text = convert(text);
        } catch (const std::invalid_argument& bad) {
          throw OptionValueError(option, text, bad.what());
        }
        return std::string();
      },
      std::string());
}

// Shortest text that reads back as the same double.
std::string exact(double value) { return fmt::format("{}", value); }

}  // namespace

CLI::Validator OptionValues::wholeNumber(const std::string& option, unsigned int min,
                                         unsigned int max) {
  return checked(option, [min, max](const std::string& text) {
    return std::to_string(ValueParser::parseUnsigned(text, min, max));
  });
}

CLI::Validator OptionValues::decimal(const std::string& option, double min, double max) {
  return checked(option, [min, max](const std::string& text) {
    return exact(ValueParser::parseDouble(text, min, max));
  });
}

CLI::Validator OptionValues::decimalOrSwitch(const std::string& option, double min, double max,
                                             double whenOn) {
  return checked(option, [min, max, whenOn](const std::string& text) {
    if (text == "true") return exact(whenOn);
    if (text == "false") return std::string();
    return exact(ValueParser::parseDouble(text, min, max));
  });
}

CLI::Validator OptionValues::sampleRate(const std::string& option) {
  return checked(option, [](const std::string& text) {
    return std::to_string(
        quorvel::rules::checkedRate(ValueParser::parseDouble(text, -DBL_MAX, DBL_MAX)));
  });
}

CLI::App* addApplyCommand(CLI::App& app, ApplyOptions& options) {
  using namespace OptionValues;
  CLI::App* apply =
      app.add_subcommand("apply", "Run INPUT through a chain of effects and write OUTPUT");
  apply
      ->add_option("FILES-AND-EFFECTS", options.words,
                   "INPUT OUTPUT EFFECT [name=value ...] [EFFECT ...]; '-' as INPUT or OUTPUT\n"
                   "is standard input or output. With --output-dir: INPUT... -- EFFECT ...")
      ->type_name("WORD");
  apply
      ->add_option("--chain", options.chainFile,
                   "Read the effects from a JSON file instead of the command line")
      ->type_name("FILE.json");
  apply
      ->add_option("--output-dir", options.outputDir,
                   "Process every INPUT into DIR, each output named after its input")
      ->type_name("DIR");
  apply
      ->add_option_function<unsigned int>(
          "-j,--jobs", [&options](const unsigned int& jobs) { options.jobs = jobs; },
          "Files processed at once with --output-dir (default: one per core)")
      ->transform(wholeNumber("--jobs", 1, kMaximumJobs))
      ->type_name("N");
  apply->add_option("--block", options.block, "Frames per processing block, 1 to 65536")
      ->transform(wholeNumber("--block", 1, kMaximumBlock))
      ->type_name("N")
      ->capture_default_str();
  apply
      ->add_option("-t,--type", options.type,
                   "Output type, instead of OUTPUT's extension: wav, flac, aiff, aifc, ogg, au\n"
                   "or raw (needed for OUTPUT '-')")
      ->type_name("TYPE");
  apply
      ->add_option("--encoding", options.encoding,
                   "float, double, pcm8, pcm16, pcm24 or pcm32 (FLAC: pcm8 to pcm24; float\n"
                   "AIFF is AIFF-C). Default: the input's, when OUTPUT has its container;\n"
                   "otherwise float for WAV/AIFF, pcm24 for FLAC")
      ->type_name("ENCODING");
  apply
      ->add_option("--input-type", options.inputType,
                   "Input type, instead of telling it from the data; raw needs --rate,\n"
                   "--channels and --input-encoding")
      ->type_name("TYPE");
  apply->add_option("--rate", options.rate, "Sample rate of raw input, in Hz")
      ->transform(sampleRate("--rate"))
      ->type_name("HZ");
  apply->add_option("--channels", options.channels, "Channels of raw input")
      ->transform(wholeNumber("--channels", 1, kMaximumChannels))
      ->type_name("N");
  apply
      ->add_option("--input-encoding", options.inputEncoding,
                   "Samples of raw input: pcm8 to pcm32 (signed, little-endian), float, double")
      ->type_name("ENCODING");
  apply
      ->add_option_function<double>(
          "--gain", [&options](const double& decibels) { options.gainDb = decibels; },
          "Gain applied after the effects, -120 to 120 dB")
      ->transform(decimal("--gain", -kGainRangeDb, kGainRangeDb))
      ->type_name("DB");
  // A flag that may carry a level: bare, or =true, it normalises to -1 dBFS;
  // =false turns it off again.
  apply
      ->add_flag("--norm",
                 "Scale the output so that its peak is at -1 dBFS, or at DB with --norm=DB")
      ->transform(decimalOrSwitch("--norm", -kGainRangeDb, 0.0, kDefaultNormDb))
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->each([&options](const std::string& level) {
        options.normDb.reset();
        if (!level.empty()) options.normDb = std::stod(level);
      })
      ->type_name("[=DB]");
  apply->add_flag("--no-dither", options.noDither,
                  "Round to PCM without TPDF dither (dither is on for 8 to 24-bit PCM)");
  apply
      ->add_option_function<std::uint32_t>(
          "--seed", [&options](const std::uint32_t& seed) { options.seed = seed; },
          "Seed of the dither's random sequence, 0 to 4294967295 (default: 1)")
      ->transform(wholeNumber("--seed", 0, 4294967295u))
      ->type_name("N");
  apply
      ->add_option_function<double>(
          "--tail", [&options](const double& seconds) { options.tail = seconds; },
          "Seconds of silence appended so echoes ring out (default: until the\n"
          "chain's echoes decay by 60 dB, at most 10 s; 0 keeps the length)")
      ->transform(decimal("--tail", 0.0, kMaximumTail))
      ->type_name("SECONDS");
  apply->add_flag("-n,--null", options.discard,
                  "Process and measure but write nothing (no OUTPUT is given)");
  apply->add_flag("--json", options.json, "Print the results as JSON on standard output");
  apply->add_flag("-q,--quiet", options.quiet, "No progress bar and no summary line");
  apply->footer(HelpText::applyFooter());
  return apply;
}

SplitWords splitAtSeparator(int argc, char** argv, const std::string& command) {
  SplitWords split;
  split.before.assign(argv, argv + argc);
  if (command.empty()) return split;
  for (std::size_t i = 0; i < split.before.size(); ++i) {
    if (std::strcmp(split.before[i], "--") != 0) continue;
    split.after.assign(split.before.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                       split.before.end());
    split.before.resize(i);
    split.separated = true;
    break;
  }
  return split;
}

}  // namespace quorvelfx
