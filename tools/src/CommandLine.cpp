#include "CommandLine.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
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

// strtod accepts leading blanks, hex floats, "inf" and "nan"; an option
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

// Levenshtein distance, ignoring letter case.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string CommandNames::closest(const std::string& word, const std::vector<std::string>& known) {
  std::string best;
  std::size_t bestDistance = 0;
  for (const std::string& name : known) {
    const std::size_t distance = editDistance(word, name);
    const std::size_t allowed = std::max<std::size_t>(1, (name.size() + 2) / 3);
    if (distance > allowed) continue;
    if (best.empty() || distance < bestDistance) {
      best = name;
      bestDistance = distance;
    }
  }
  return best;
}

std::string CommandNames::unknown(const std::string& word, const std::vector<std::string>& known) {
  const std::string suggestion = closest(word, known);
  return "unknown command '" + word + "'" +
         (suggestion.empty() ? "" : "; did you mean '" + suggestion + "'?");
}

std::string ValueParser::lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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
    throw std::invalid_argument(fmt::format("out of range [{}, {}]", min, max));
  }
  return static_cast<unsigned int>(value);
}

double ValueParser::parseDouble(const std::string& text, double min, double max) {
  if (!looksDecimal(text)) throw std::invalid_argument("not a number");
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) throw std::invalid_argument("not a number");
  if (errno == ERANGE || !std::isfinite(value)) throw std::invalid_argument("out of range");
  if (value < min || value > max) {
    throw std::invalid_argument(fmt::format("out of range [{:g}, {:g}]", min, max));
  }
  return value;
}

}  // namespace quorvelfx
