#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "quorvel/Result.hpp"
#include "quorvel/SDKExport.hpp"

namespace quorvel {

class QVAnyMap;

// A copyable tagged value: a scalar, a string, a map, or a property getter or
// setter function.
//
// Conversions offered by QVAny::convert<T> (anything else throws
// std::invalid_argument naming both types):
//   bool          <- Bool; Int or UInt holding exactly 0 or 1
//   int           <- Int; UInt up to INT_MAX; Float holding an integral value in range
//   unsigned int  <- UInt; Int >= 0; Float holding an integral value in [0, UINT_MAX]
//   float         <- Float; Int; UInt (rounded to the nearest float)
//   std::string   <- String
//   QVAnyMap      <- Map
//   Getter        <- Getter
//   Setter        <- Setter
// A negative number never becomes an unsigned one, and a fractional one never
// becomes an integer.
class QUORVEL_SDK_API QVAny {
 public:
  using Getter = std::function<Result<QVAny>()>;
  using Setter = std::function<Result<void>(const QVAny&)>;

  enum class Type { Empty, Bool, Int, UInt, Float, String, Map, Getter, Setter };

  // An empty value.
  QVAny() noexcept;
  QVAny(bool value) noexcept;
  QVAny(int value) noexcept;
  QVAny(unsigned int value) noexcept;
  QVAny(float value) noexcept;
  QVAny(std::string value);
  // A string value copied from a NUL-terminated character array.
  QVAny(const char* value);
  QVAny(const QVAnyMap& value);
  QVAny(Getter getter);
  QVAny(Setter setter);
  QVAny(const QVAny& other);
  QVAny(QVAny&& other) noexcept = default;
  QVAny& operator=(const QVAny& other);
  QVAny& operator=(QVAny&& other) noexcept = default;
  ~QVAny() = default;

  // Which kind of value is held.
  Type type() const noexcept;
  // The kind's name as used in error messages ("bool", "int", "map", ...).
  static const char* typeName(Type type) noexcept;

  // The held value as T; throws std::invalid_argument when it cannot become T.
  template <typename T>
  static T convert(const QVAny& value);

  // Same kind and equal contents; functions never compare equal.
  bool operator==(const QVAny& other) const;
  bool operator!=(const QVAny& other) const { return !(*this == other); }

 private:
  using MapPtr = std::shared_ptr<const QVAnyMap>;
  std::variant<std::monostate, bool, int, unsigned int, float, std::string, MapPtr, Getter, Setter>
      value_;
};

template <>
QUORVEL_SDK_API bool QVAny::convert<bool>(const QVAny& value);
template <>
QUORVEL_SDK_API int QVAny::convert<int>(const QVAny& value);
template <>
QUORVEL_SDK_API unsigned int QVAny::convert<unsigned int>(const QVAny& value);
template <>
QUORVEL_SDK_API float QVAny::convert<float>(const QVAny& value);
template <>
QUORVEL_SDK_API std::string QVAny::convert<std::string>(const QVAny& value);
template <>
QUORVEL_SDK_API QVAnyMap QVAny::convert<QVAnyMap>(const QVAny& value);
template <>
QUORVEL_SDK_API QVAny::Getter QVAny::convert<QVAny::Getter>(const QVAny& value);
template <>
QUORVEL_SDK_API QVAny::Setter QVAny::convert<QVAny::Setter>(const QVAny& value);

}  // namespace quorvel
