#include "RulesFuzzHarness.hpp"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Values.hpp>
#include <string_view>
#include <vector>

namespace quorvel::fuzz {

namespace {

namespace rules = quorvel::rules;
using audio::Parameter;
using audio::ParameterType;

// A message for users is a line or two, however long the text it is about.
constexpr std::size_t kLongestMessage = 999;
constexpr std::string_view kOrigin = "fuzz.json";

// `text` as a failure report shows it: printable ASCII as is, every other
// byte escaped, at most 200 bytes of it.
std::string quoted(std::string_view text) {
  std::string out = "'";
  for (std::size_t i = 0; i < text.size() && i < 200; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += static_cast<char>(byte);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  out += text.size() > 200 ? "'... (" + std::to_string(text.size()) + " bytes)" : "'";
  return out;
}

std::string shown(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string named(const Parameter& parameter) { return std::string(parameter.key); }

// What is wrong with a refusal's message, or "".
std::string messageProblem(const rules::RuleError& refused, std::string_view prefix) {
  const std::string_view message = refused.what();
  if (message.empty()) return "empty message";
  if (message.size() > kLongestMessage) {
    return "message of " + std::to_string(message.size()) + " bytes: " + quoted(message);
  }
  if (message.substr(0, prefix.size()) != prefix) {
    return "message does not start with " + quoted(prefix) + ": " + quoted(message);
  }
  return "";
}

// What is wrong with `stored` as what `parameter` holds after accepting a
// value, or "": it must be a value of the parameter's type, lie in the range
// as the effect stores its bounds (a float parameter compares floats), read
// back from its formatted text, and pass checkValue() unchanged.
std::string storedProblem(const Parameter& parameter, double stored) {
  const std::string where = named(parameter) + " stored " + shown(stored);
  if (!(audio::storedValue(parameter.type, stored) == stored)) {
    return where + ": not a value of the parameter's type";
  }
  const double lowest = audio::storedValue(parameter.type, parameter.minimum);
  const double highest = audio::storedValue(parameter.type, parameter.maximum);
  if (!(stored >= lowest && stored <= highest)) {
    return where + ": outside [" + shown(lowest) + ", " + shown(highest) + "]";
  }
  const std::string text = rules::formatValue(parameter, stored);
  try {
    const double again = rules::parseValue(parameter, text);
    if (!(again == stored)) return where + ": formatted as '" + text + "', reads " + shown(again);
  } catch (const rules::RuleError& refused) {
    return where + ": formatted as '" + text + "', refused: " + refused.what();
  }
  try {
    const double again = rules::checkValue(parameter, stored);
    if (!(again == stored)) return where + ": checkValue gives " + shown(again);
  } catch (const rules::RuleError& refused) {
    return where + ": checkValue refuses it: " + refused.what();
  }
  return "";
}

// ---- The value grammar, read on its own to judge parseValue() by.

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

// A number at the start of a text: its mantissa as written (sign, digits,
// point), the exponent written after it, and the power of ten of its lowest
// nonzero digit before the exponent.
struct Written {
  std::string_view mantissa;
  long long exponent = 0;  // saturated beyond any text's length of digits
  bool zero = true;        // no nonzero digit
  long long lowestPower = 0;
  std::size_t length = 0;
};

std::optional<Written> writtenNumber(std::string_view text) {
  Written number;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t whole = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  const std::size_t wholeDigits = i - whole;
  std::size_t fractionDigits = 0;
  if (i < text.size() && text[i] == '.') {
    std::size_t j = i + 1;
    while (j < text.size() && isDigit(text[j])) ++j;
    fractionDigits = j - i - 1;
    if (wholeDigits + fractionDigits > 0) i = j;
  }
  if (wholeDigits + fractionDigits == 0) return std::nullopt;
  for (std::size_t k = 0; k < wholeDigits; ++k) {
    if (text[whole + k] != '0') {
      number.zero = false;
      number.lowestPower = static_cast<long long>(wholeDigits - 1 - k);
    }
  }
  for (std::size_t k = 0; k < fractionDigits; ++k) {
    if (text[whole + wholeDigits + 1 + k] != '0') {
      number.zero = false;
      number.lowestPower = -static_cast<long long>(k + 1);
    }
  }
  number.mantissa = text.substr(0, i);
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    if (j < text.size() && isDigit(text[j])) {
      long long exponent = 0;
      for (; j < text.size() && isDigit(text[j]); ++j) {
        if (exponent < 1000000000000LL) exponent = exponent * 10 + (text[j] - '0');
      }
      number.exponent = negative ? -exponent : exponent;
      i = j;
    }
  }
  number.length = i;
  return number;
}

// Powers of ten `unit` lies above the parameter's own unit; nothing for a
// word that is not one of its units. "µs" is the micro sign or the Greek mu.
std::optional<long long> unitPower(std::string_view own, std::string_view unit) {
  const bool micro = unit.size() == 3 &&
                     (unit.substr(0, 2) == "\xC2\xB5" || unit.substr(0, 2) == "\xCE\xBC") &&
                     unit[2] == 's';
  const long long base = own == "ms" ? -3 : 0;
  if (own == "ms" || own == "s") {
    if (sameLetters(unit, "s")) return -base;
    if (sameLetters(unit, "ms")) return -3 - base;
    if (sameLetters(unit, "us") || micro) return -6 - base;
  } else if (own == "Hz") {
    if (sameLetters(unit, "Hz")) return 0;
    if (sameLetters(unit, "kHz")) return 3;
  }
  return std::nullopt;
}

// "µS": the letter after the micro sign in capitals. Whether the grammar's
// "any letter case" covers it is not clear, so either answer passes.
bool undecided(std::string_view unit) {
  return unit.size() == 3 && (unit.substr(0, 2) == "\xC2\xB5" || unit.substr(0, 2) == "\xCE\xBC") &&
         unit[2] == 'S';
}

struct Verdict {
  bool decided = true;
  std::optional<double> stored;  // nothing: refused
};

// What `parameter` stores for `text` by the grammar, or that it is refused.
Verdict grammarVerdict(const Parameter& parameter, std::string_view text) {
  text = trimmed(text);
  if (parameter.type == ParameterType::Boolean) {
    for (const std::string_view word : {"true", "yes", "on"}) {
      if (sameLetters(text, word)) return {true, 1.0};
    }
    for (const std::string_view word : {"false", "no", "off"}) {
      if (sameLetters(text, word)) return {true, 0.0};
    }
  }
  const std::optional<Written> number = writtenNumber(text);
  if (!number) return {};
  const std::string_view unit = trimmed(text.substr(number->length));
  long long power = 0;
  if (!unit.empty()) {
    if (undecided(unit)) return {false, {}};
    if (parameter.type == ParameterType::Boolean || parameter.unit.empty()) return {};
    const std::optional<long long> above = unitPower(parameter.unit, unit);
    if (!above) return {};
    power = *above;
  }
  const std::string decimal =
      std::string(number->mantissa) + "e" + std::to_string(number->exponent + power);
  const double exact = std::strtod(decimal.c_str(), nullptr);
  switch (parameter.type) {
    case ParameterType::Boolean:
      if (exact == 0.0 || exact == 1.0) return {true, exact};
      return {};
    case ParameterType::Integer:
      if (!number->zero && number->lowestPower + number->exponent + power < 0) return {};
      if (!(exact >= parameter.minimum && exact <= parameter.maximum)) return {};
      return {true, exact};
    case ParameterType::Float: break;
  }
  if (!(std::fabs(exact) <= static_cast<double>(FLT_MAX))) return {};
  const float stored = static_cast<float>(exact);
  if (stored < static_cast<float>(parameter.minimum) ||
      stored > static_cast<float>(parameter.maximum)) {
    return {};
  }
  return {true, static_cast<double>(stored)};
}

// ---- The checks.

std::optional<double> parsed(const Parameter& parameter, std::string_view text,
                             std::string& problem) {
  try {
    return rules::parseValue(parameter, text);
  } catch (const rules::RuleError& refused) {
    problem = messageProblem(refused, "");
    return std::nullopt;
  }
}

std::string checkValueText(const Parameter& parameter, std::string_view text) {
  std::string problem;
  const std::optional<double> stored = parsed(parameter, text, problem);
  if (!problem.empty()) return named(parameter) + " refused, " + problem;
  const Verdict verdict = grammarVerdict(parameter, text);
  if (verdict.decided && stored.has_value() != verdict.stored.has_value()) {
    return named(parameter) +
           (stored ? " accepted (stored " + shown(*stored) + ")" : std::string(" refused")) +
           " what the grammar " +
           (verdict.stored ? "reads as " + shown(*verdict.stored) : std::string("refuses"));
  }
  if (!stored) return "";
  if (verdict.decided && !(*stored == *verdict.stored)) {
    return named(parameter) + " stored " + shown(*stored) + ", the grammar reads " +
           shown(*verdict.stored);
  }
  return storedProblem(parameter, *stored);
}

// A binding's number decides as its text does.
std::string checkNumber(const Parameter& parameter, double number) {
  std::optional<double> stored;
  try {
    stored = rules::checkValue(parameter, number);
  } catch (const rules::RuleError& refused) {
    const std::string problem = messageProblem(refused, "");
    if (!problem.empty())
      return named(parameter) + " checkValue(" + shown(number) + "), " + problem;
  }
  const std::string text = rules::formatNumber(number);
  std::string problem;
  const std::optional<double> fromText = parsed(parameter, text, problem);
  if (!problem.empty()) return named(parameter) + " refused '" + text + "', " + problem;
  if (stored.has_value() != fromText.has_value() || (stored && !(*stored == *fromText))) {
    return named(parameter) + ": checkValue(" + shown(number) + ") " +
           (stored ? "stores " + shown(*stored) : std::string("refuses")) + ", parseValue('" +
           text + "') " + (fromText ? "stores " + shown(*fromText) : std::string("refuses"));
  }
  return stored ? storedProblem(parameter, *stored) : "";
}

std::string checkChain(std::string_view text) {
  std::vector<rules::EffectSettings> chain;
  try {
    chain = rules::resolve(rules::readChain(text, kOrigin));
  } catch (const rules::RuleError& refused) {
    const std::string problem = messageProblem(refused, std::string(kOrigin) + ": ");
    return problem.empty() ? "" : "chain refused, " + problem;
  }
  for (const rules::EffectSettings& effect : chain) {
    for (const auto& [parameter, stored] : effect.values) {
      const std::string problem = storedProblem(*parameter, stored);
      if (!problem.empty()) return "chain: " + std::string(effect.type->name) + ": " + problem;
    }
  }
  const std::string written = rules::writeChain(chain);
  std::vector<rules::EffectSettings> again;
  try {
    again = rules::resolve(rules::readChain(written, "written.json"));
  } catch (const rules::RuleError& refused) {
    return "the written chain is refused: " + std::string(refused.what()) + "\n" + written;
  }
  bool same = again.size() == chain.size();
  for (std::size_t i = 0; same && i < chain.size(); ++i) {
    same = again[i].type == chain[i].type && again[i].values.size() == chain[i].values.size();
    for (std::size_t k = 0; same && k < chain[i].values.size(); ++k) {
      same = again[i].values[k].first == chain[i].values[k].first &&
             again[i].values[k].second == chain[i].values[k].second;
    }
  }
  if (!same) return "the written chain reads back to other settings:\n" + written;
  const std::string rewritten = rules::writeChain(again);
  if (rewritten != written) return "the chain writes differently the second time:\n" + rewritten;
  return "";
}

}  // namespace

std::string checkRulesInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(size == 0 ? "" : reinterpret_cast<const char*>(data), size);
  double number = 0.0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  for (const audio::EffectInfo* info : audio::effectTypes()) {
    for (const Parameter& parameter : info->parameters()) {
      std::string problem = checkValueText(parameter, text);
      if (problem.empty() && size >= sizeof number) problem = checkNumber(parameter, number);
      if (!problem.empty()) return std::string(info->name) + ": " + problem;
    }
  }
  return checkChain(text);
}

}  // namespace quorvel::fuzz
