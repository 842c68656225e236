#pragma once

#include <string>
#include <string_view>

// Decimal text to and from binary numbers in the "C" locale whatever the
// process's locale is: a host application that sets LC_NUMERIC must not
// change how "0.5" reads.
namespace quorvel::rules::detail {

// `text`, a decimal of the grammar's shape ("-35e-2"), rounded once to the
// nearest double; infinity beyond the double range.
double readDecimal(const std::string& text);

// The shortest decimal that reads back to `number`: "0.3", "1e+21", "inf".
std::string shortestDouble(double number);

// The shortest decimal that reads back, rounded to float, to `number`: "0.7".
std::string shortestFloat(float number);

// The same texts as shortestDouble and shortestFloat, from printf alone:
// what they use where the C++ library has no floating-point to_chars
// (emscripten's), tested against to_chars where it has.
std::string shortestByPrintf(double number);
std::string shortestByPrintf(float number);

}  // namespace quorvel::rules::detail
