#include "Decimal.hpp"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace quorvel::rules::detail {

namespace {

// The C library's conversions follow LC_NUMERIC; the point is swapped for
// the locale's own before reading and back after writing. Only used where
// the standard library has no floating-point <charconv>.
char localePoint() {
  const char* point = std::localeconv()->decimal_point;
  return point != nullptr && point[0] != '\0' ? point[0] : '.';
}

std::string written(const char* format, int digits, double number) {
  char text[64];
  std::snprintf(text, sizeof text, format, digits, number);
  std::string out(text);
  const char point = localePoint();
  for (char& c : out) {
    if (c == point) c = '.';
  }
  return out;
}

}  // namespace

double readDecimal(const std::string& text) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large is infinite; too small rounds to zero.
    const std::size_t e = text.find_first_of("eE");
    const bool tiny = e != std::string::npos && text[e + 1] == '-';
    const bool negative = !text.empty() && text[0] == '-';
    if (tiny) return negative ? -0.0 : 0.0;
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  static_cast<void>(end);
  return value;
#else
  std::string local = text;
  const char point = localePoint();
  for (char& c : local) {
    if (c == '.') c = point;
  }
  return std::strtod(local.c_str(), nullptr);
#endif
}

namespace {

// The shortest decimal that reads back, rounded to `Number`, to `number`.
template <typename Number>
std::string shortest(Number number) {
  if (std::isnan(number)) return "nan";
  if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, number).ptr;
  return std::string(text, end);
#else
  return shortestByPrintf(number);
#endif
}

// What to_chars gives, from printf: the fewest significant digits that read
// back, written fixed or with an exponent, whichever is shorter, fixed on a
// tie; `digits` is the most any such number needs.
template <typename Number>
std::string printfShortest(Number number, int digits) {
  if (std::isnan(number)) return "nan";
  if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
  int significant = 1;
  std::string scientific;
  for (; significant <= digits; ++significant) {
    scientific = written("%.*e", significant - 1, static_cast<double>(number));
    if (static_cast<Number>(readDecimal(scientific)) == number) break;
  }
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  const int decimals = significant - 1 - exponent > 0 ? significant - 1 - exponent : 0;
  // A fixed form longer than the buffer is longer than the exponent form too.
  const std::string fixed = decimals < 40 && exponent < 40
                                ? written("%.*f", decimals, static_cast<double>(number))
                                : std::string(100, ' ');
  return fixed.size() <= scientific.size() ? fixed : scientific;
}

}  // namespace

std::string shortestDouble(double number) { return shortest(number); }

std::string shortestFloat(float number) { return shortest(number); }

std::string shortestByPrintf(double number) { return printfShortest(number, 17); }

std::string shortestByPrintf(float number) { return printfShortest(number, 9); }

}  // namespace quorvel::rules::detail
