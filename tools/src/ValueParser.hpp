#pragma once

#include <string>

namespace quorvelfx {

// Strict text-to-value conversions for effect parameters and options. Each
// function consumes the whole text or throws std::invalid_argument whose
// message says what was wrong ("not a number", "out of range", ...); nothing
// silently becomes zero.
class ValueParser {
 public:
  // true/false, yes/no, on/off, 1/0 in any letter case.
  static bool parseBool(const std::string& text);
  // A decimal whole number without sign, within [min, max].
  static unsigned int parseUnsigned(const std::string& text, unsigned int min, unsigned int max);
  // A decimal whole number with an optional leading '-', within [min, max].
  static int parseInt(const std::string& text, int min, int max);
  // A finite decimal number such as 0.25, .5, 2e-3 or 12, within [min, max].
  static float parseFloat(const std::string& text, float min, float max);
  // Like parseFloat, in double precision (used for durations in seconds).
  static double parseDouble(const std::string& text, double min, double max);
  // An ASCII lower-case copy of `text`, for matching names in any letter case.
  static std::string lowercase(std::string text);
};

}  // namespace quorvelfx
