#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Commands.hpp"

// The `apply` command line as CLI11 reads it: typed options whose values are
// checked with the tool's own messages, and the split of its words at `--`.
namespace quorvelfx {

// A bad value of one of the tool's options, reported as "--block 0: out of
// range [1, 65536]". A parse error of its own rather than CLI11's
// ValidationError, which CLI11 rewrites to "--block: ...".
class OptionValueError : public CLI::ParseError {
 public:
  // `option` as users type it ("--block"), the value given and what is wrong with it.
  OptionValueError(const std::string& option, const std::string& text, const std::string& problem);
};

// CLI11 transforms for typed options: each checks the text as ValueParser
// does, throws OptionValueError naming `option`, and leaves the number as
// text CLI11 converts exactly (plain decimal: "07" is 7, never octal).
namespace OptionValues {

// A whole number in [min, max].
CLI::Validator wholeNumber(const std::string& option, unsigned int min, unsigned int max);
// A decimal number in [min, max].
CLI::Validator decimal(const std::string& option, double min, double max);
// A decimal number in [min, max], or a switch: "true" gives `whenOn`, "false" empty text.
CLI::Validator decimalOrSwitch(const std::string& option, double min, double max, double whenOn);
// A sample rate in Hz as the rules layer takes it: a whole number from 1 to 1000000.
CLI::Validator sampleRate(const std::string& option);

}  // namespace OptionValues

// Adds the `apply` subcommand to `app`, its options stored into `options`.
CLI::App* addApplyCommand(CLI::App& app, ApplyOptions& options);

// The words of a command line split at the first `--` after `command`:
// CLI11 2.1 ends a subcommand's parse at a `--` that follows its filled
// positionals and hands the rest to the parent command, so the effects
// after apply's `--` are taken off before CLI11 sees them.
struct SplitWords {
  std::vector<char*> before;  // the program name, options and words before `--`
  std::vector<std::string> after;
  bool separated = false;  // a `--` was found
};

// Splits `argv` at the first `--` once `command` has been named; nothing is
// split for another command or an empty `command`.
SplitWords splitAtSeparator(int argc, char** argv, const std::string& command);

}  // namespace quorvelfx
