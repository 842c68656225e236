#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quorvelfx {

// The process exit statuses of quorvel-fx; documented in --help and the man page.
enum ExitCode : int {
  kExitSuccess = 0,        // everything worked
  kExitInternal = 1,       // an unexpected internal error
  kExitUsage = 2,          // bad command line: unknown command, effect, parameter or value
  kExitIo = 3,             // an input file could not be read or the output could not be written
  kExitProcessing = 4,     // an effect refused the audio format or failed while processing
  kExitInterrupted = 130,  // stopped by SIGINT (128 + 2); no output was left behind
  kExitTerminated = 143,   // stopped by SIGTERM (128 + 15); no output was left behind
};

// A failure to report as one "quorvel-fx: error: ..." line and a distinct exit status.
class CliError : public std::runtime_error {
 public:
  // `message` names the file, effect, parameter or value at fault.
  CliError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}

  // The exit status this failure maps to.
  ExitCode code() const noexcept { return code_; }

 private:
  ExitCode code_;
};

// Strict text-to-number conversions for the tool's own options (effect
// parameters go through the rules layer). Each consumes the whole text or
// throws std::invalid_argument saying what was wrong ("not a number", "out
// of range [1, 64]", ...); nothing silently becomes zero.
namespace ValueParser {

// A decimal whole number without sign, within [min, max].
unsigned int parseUnsigned(const std::string& text, unsigned int min, unsigned int max);
// A finite decimal number such as 0.25, .5, 2e-3 or 12, within [min, max].
double parseDouble(const std::string& text, double min, double max);
// An ASCII lower-case copy of `text`, for matching names in any letter case.
std::string lowercase(std::string text);

}  // namespace ValueParser

// Names of the tool's commands, for the message about a mistyped one.
namespace CommandNames {

// "unknown command 'lst'; did you mean 'list'?"; the suggestion is the
// closest of `known` by edit distance, left out when none is close.
std::string unknown(const std::string& word, const std::vector<std::string>& known);
// The closest of `known` to `word`, or empty when every one needs more
// edits than a third of its length (at least one, rounded up).
std::string closest(const std::string& word, const std::vector<std::string>& known);

}  // namespace CommandNames

}  // namespace quorvelfx
