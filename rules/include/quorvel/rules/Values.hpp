#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "quorvel/audio/Parameter.hpp"

// The value grammar every front end reads settings with (the tool's words,
// chain files, Python keywords given as text, the browser):
//
//   value   = [blanks] number [blanks] [unit] [blanks]   for a time, a frequency or a gain
//           | [blanks] switch [blanks]                    for an on/off parameter
//   number  = ["+" | "-"] (digits ["." [digits]] | "." digits) [("e" | "E") ["+" | "-"] digits]
//   unit    = "s" | "ms" | "us" | "µs"   on a time      (a bare number is in the parameter's unit)
//           | "Hz" | "kHz"               on a frequency
//   switch  = "true" | "false" | "yes" | "no" | "on" | "off" | a number equal to 1 or 0
//
// Blanks are spaces and tabs. Unit and switch words are read in any letter
// case (none of the units differs from another only in case). Decimal only:
// no hex, no digit separators, no "inf" or "nan". A unit moves the decimal
// exponent instead of multiplying, so "0.35s" is exactly 350 ms. The number
// is then rounded once to the nearest double, and a float parameter stores
// the nearest float to that. A whole-number parameter takes only a whole
// value ("350.0", "0.35s" and "3.5e2" are 350; "0.0125s" is refused). A
// value is in range when what the effect stores lies in [minimum, maximum].
namespace quorvel::rules {

// A setting, chain or input the rules refuse; what() is the message for users.
class RuleError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// What parameter `parameter` stores for `text`; throws RuleError with the
// problem alone, e.g. "out of range [0, 1000] ms" (settingValue() adds the
// effect and the setting).
double parseValue(const audio::Parameter& parameter, std::string_view text);

// What `parameter` stores for `number`, a number handed over by a binding
// (Python, JavaScript): the same checks as parseValue(); NaN and infinities
// are refused.
double checkValue(const audio::Parameter& parameter, double number);

// `stored` as the shortest text that parseValue() reads back to it: "200",
// "0.7", "true".
std::string formatValue(const audio::Parameter& parameter, double stored);

// `number` as messages show it: a whole number in full, anything else as
// the shortest decimal that reads back to the same double.
std::string formatNumber(double number);

// What values of `parameter` look like, for a message about one that is
// not: "give milliseconds, e.g. 350, 350ms or 0.35s".
std::string valueHint(const audio::Parameter& parameter);

// The parameter of `table` called `name`: its key in any letter case, with
// or without underscores ("delayMs", "delayms", "delay_ms"); nullptr when none.
const audio::Parameter* findParameter(audio::ParameterTable table, std::string_view name) noexcept;

// The keys of `table`, comma-separated: "enabled, delayMs, ...".
std::string parameterKeys(audio::ParameterTable table);

// `text` as messages quote it: at most 60 bytes, longer ones cut with "...".
std::string shortened(std::string_view text);

}  // namespace quorvel::rules
