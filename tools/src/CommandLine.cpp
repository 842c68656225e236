#include "CommandLine.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace quorvelfx {
namespace {

bool allDigits(const std::string& text, std::size_t from) {
  if (from >= text.size()) return false;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// strtod accepts leading blanks, hex floats, "inf" and "nan"; a parameter
// value should be a plain decimal, so the characters are checked first.
bool looksDecimal(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' &&
        c != 'e' && c != 'E') {
      return false;
    }
  }
  return std::isdigit(static_cast<unsigned char>(text.back())) || text.back() == '.';
}

template <typename T>
std::string rangeText(T min, T max) {
  return "out of range [" + std::to_string(min) + ", " + std::to_string(max) + "]";
}

std::string shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

std::string ValueParser::lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ValueParser::parseBool(const std::string& text) {
  const std::string word = ValueParser::lowercase(text);
  if (word == "true" || word == "yes" || word == "on" || word == "1") return true;
  if (word == "false" || word == "no" || word == "off" || word == "0") return false;
  throw std::invalid_argument("not a boolean (use true/false, yes/no, on/off or 1/0)");
}

unsigned int ValueParser::parseUnsigned(const std::string& text, unsigned int min,
                                        unsigned int max) {
  if (!text.empty() && text[0] == '-' && allDigits(text, 1)) {
    throw std::invalid_argument("must not be negative");
  }
  if (!allDigits(text, 0)) throw std::invalid_argument("not a whole number");
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < min || value > max) {
    throw std::invalid_argument(rangeText(min, max));
  }
  return static_cast<unsigned int>(value);
}

float ValueParser::parseFloat(const std::string& text, float min, float max) {
  const double value = parseDouble(text, min, max);
  return static_cast<float>(value);
}

double ValueParser::parseDouble(const std::string& text, double min, double max) {
  if (!looksDecimal(text)) throw std::invalid_argument("not a number");
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) throw std::invalid_argument("not a number");
  if (errno == ERANGE || !std::isfinite(value)) throw std::invalid_argument("out of range");
  if (value < min || value > max) {
    throw std::invalid_argument("out of range [" + shortest(min) + ", " + shortest(max) + "]");
  }
  return value;
}

}  // namespace quorvelfx
