#include "quorvel/rules/Values.hpp"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "Decimal.hpp"

namespace quorvel::rules {

using audio::Parameter;
using audio::ParameterType;

namespace {

bool isBlank(char c) noexcept { return c == ' ' || c == '\t'; }
bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

char lower(char c) noexcept {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool sameWord(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view text) noexcept {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The number at the start of a value, split into what the checks need.
struct Number {
  bool negative = false;
  std::string digits;      // every digit written, without the point
  long long fraction = 0;  // how many of them follow the point
  long long exponent = 0;  // the written exponent, saturated far beyond any double
  std::size_t length = 0;  // characters taken from the text
};

// Reads the longest prefix of `text` that is a number of the grammar; an
// 'e' is part of it only when digits follow, so "2e-3s" is 2e-3 and "s".
std::optional<Number> leadingNumber(std::string_view text) {
  Number number;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
  std::size_t before = 0;
  while (i < text.size() && isDigit(text[i])) {
    number.digits += text[i++];
    ++before;
  }
  if (i < text.size() && text[i] == '.') {
    const std::size_t point = i++;
    while (i < text.size() && isDigit(text[i])) {
      number.digits += text[i++];
      ++number.fraction;
    }
    // A point needs a digit on one side at least.
    if (before == 0 && number.fraction == 0) i = point;
  }
  if (number.digits.empty()) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    if (j < text.size() && isDigit(text[j])) {
      long long exponent = 0;
      while (j < text.size() && isDigit(text[j])) {
        if (exponent < 1000000) exponent = exponent * 10 + (text[j] - '0');
        ++j;
      }
      number.exponent = negative ? -exponent : exponent;
      i = j;
    }
  }
  number.length = i;
  return number;
}

// `number` times ten to the `shift`, rounded once to the nearest double.
double valueOf(const Number& number, long long shift) {
  const long long exponent = number.exponent + shift - number.fraction;
  std::string text = number.negative ? "-" : "";
  text += number.digits;
  text += 'e';
  text += std::to_string(exponent);
  return detail::readDecimal(text);
}

// True when `number` times ten to the `shift` is a whole number, judged on
// the digits written rather than on a rounded double.
bool isWhole(const Number& number, long long shift) noexcept {
  const long long right = number.fraction - number.exponent - shift;
  if (right <= 0) return true;
  const auto size = static_cast<long long>(number.digits.size());
  for (long long i = right >= size ? 0 : size - right; i < size; ++i) {
    if (number.digits[static_cast<std::size_t>(i)] != '0') return false;
  }
  return true;
}

// How many powers of ten `unit` lies above the parameter's own unit, e.g.
// "s" on a millisecond parameter is 3; nothing when the parameter does not
// take that unit.
std::optional<long long> unitShift(std::string_view own, std::string_view unit) {
  if (own == "ms" || own == "s") {
    const long long base = own == "ms" ? -3 : 0;
    if (sameWord(unit, "s")) return 0 - base;
    if (sameWord(unit, "ms")) return -3 - base;
    if (sameWord(unit, "us") || unit == "\xC2\xB5s" || unit == "\xCE\xBCs") return -6 - base;
  } else if (own == "Hz") {
    if (sameWord(unit, "Hz")) return 0;
    if (sameWord(unit, "kHz")) return 3;
  }
  return std::nullopt;
}

std::string rangeText(const Parameter& parameter) {
  std::string text = "out of range [" + formatValue(parameter, parameter.minimum) + ", " +
                     formatValue(parameter, parameter.maximum) + "]";
  if (!parameter.unit.empty()) text += " " + std::string(parameter.unit);
  return text;
}

[[noreturn]] void refuse(const std::string& problem) { throw RuleError(problem); }

[[noreturn]] void notANumber(const Parameter& parameter) {
  if (parameter.unit.empty()) refuse("not a number");
  refuse((parameter.unit == "Hz" ? "not a frequency; " : "not a time; ") + valueHint(parameter));
}

[[noreturn]] void notASwitch() { refuse("not a boolean (use true/false, yes/no, on/off or 1/0)"); }

// The range and type checks shared by text and numbers: `value` is the
// number rounded to double, `whole` whether it is a whole number.
double checked(const Parameter& parameter, double value, bool whole) {
  switch (parameter.type) {
    case ParameterType::Boolean:
      if (value != 0.0 && value != 1.0) notASwitch();
      return value;
    case ParameterType::Integer:
      if (!std::isfinite(value)) refuse(rangeText(parameter));
      if (!whole) {
        refuse("not a whole number" +
               (parameter.unit.empty() ? std::string() : " of " + std::string(parameter.unit)));
      }
      if (value < parameter.minimum || value > parameter.maximum) refuse(rangeText(parameter));
      return audio::storedValue(ParameterType::Integer, value);
    case ParameterType::Float: break;
  }
  // What the effect stores is the nearest float; the range holds for that.
  if (!(std::fabs(value) <= static_cast<double>(FLT_MAX))) refuse(rangeText(parameter));
  const float stored = static_cast<float>(value);
  if (stored < static_cast<float>(parameter.minimum) ||
      stored > static_cast<float>(parameter.maximum)) {
    refuse(rangeText(parameter));
  }
  return stored == 0.0f ? 0.0 : static_cast<double>(stored);
}

// Letters, the micro sign's bytes among them: what follows a number when a unit is meant.
bool looksLikeUnit(std::string_view text) noexcept {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isalpha(byte) && byte != 0xC2 && byte != 0xB5 && byte != 0xCE && byte != 0xBC) {
      return false;
    }
  }
  return true;
}

bool nameMatches(std::string_view key, std::string_view name) noexcept {
  std::size_t i = 0;
  for (const char c : name) {
    if (c == '_') continue;
    if (i >= key.size() || lower(key[i]) != lower(c)) return false;
    ++i;
  }
  return i == key.size();
}

}  // namespace

double parseValue(const Parameter& parameter, std::string_view text) {
  text = trimmed(text);
  if (text.empty()) refuse("has no value");
  if (parameter.type == ParameterType::Boolean) {
    for (const std::string_view word : {"true", "yes", "on"}) {
      if (sameWord(text, word)) return 1.0;
    }
    for (const std::string_view word : {"false", "no", "off"}) {
      if (sameWord(text, word)) return 0.0;
    }
  }
  const std::optional<Number> number = leadingNumber(text);
  if (!number) {
    if (parameter.type == ParameterType::Boolean) notASwitch();
    notANumber(parameter);
  }
  const std::string_view unit = trimmed(text.substr(number->length));
  long long shift = 0;
  if (!unit.empty()) {
    if (parameter.type == ParameterType::Boolean) notASwitch();
    if (!looksLikeUnit(unit)) notANumber(parameter);
    if (parameter.unit.empty()) refuse("takes a plain number, without a unit");
    const std::optional<long long> scale = unitShift(parameter.unit, unit);
    if (!scale) notANumber(parameter);
    shift = *scale;
  }
  return checked(parameter, valueOf(*number, shift), isWhole(*number, shift));
}

double checkValue(const Parameter& parameter, double number) {
  if (std::isnan(number)) refuse("not a number");
  if (std::isinf(number) && parameter.type == ParameterType::Boolean) notASwitch();
  return checked(parameter, number, std::trunc(number) == number);
}

std::string formatValue(const Parameter& parameter, double stored) {
  switch (parameter.type) {
    case ParameterType::Boolean: return stored != 0.0 ? "true" : "false";
    case ParameterType::Integer: {
      char text[400];
      std::snprintf(text, sizeof text, "%.0f", stored);
      return text;
    }
    case ParameterType::Float: break;
  }
  return detail::shortestFloat(static_cast<float>(stored));
}

std::string formatNumber(double number) {
  // Whole numbers as people write them: 2000000, not 2e+06.
  if (std::trunc(number) == number && std::fabs(number) < 1e16) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", number);
    return text;
  }
  return detail::shortestDouble(number);
}

std::string valueHint(const Parameter& parameter) {
  const std::string_view unit = parameter.unit;
  if (unit == "ms") return "give milliseconds, e.g. 350, 350ms or 0.35s";
  if (unit == "s") return "give seconds, e.g. 0.025, 25ms or 0.025s";
  if (unit == "Hz") return "give hertz, e.g. 5, 5Hz or 0.005kHz";
  if (parameter.type == ParameterType::Boolean) return "give true or false";
  return "give a plain number, e.g. 0.5";
}

const Parameter* findParameter(audio::ParameterTable table, std::string_view name) noexcept {
  for (const Parameter& parameter : table) {
    if (nameMatches(parameter.key, name)) return &parameter;
  }
  return nullptr;
}

std::string parameterKeys(audio::ParameterTable table) {
  std::string text;
  for (const Parameter& parameter : table) {
    if (!text.empty()) text += ", ";
    text += parameter.key;
  }
  return text;
}

std::string shortened(std::string_view text) {
  if (text.size() <= 60) return std::string(text);
  return std::string(text.substr(0, 57)) + "...";
}

}  // namespace quorvel::rules
