#include "quorvel/QVAny.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "quorvel/QVAnyMap.hpp"

namespace quorvel {

QVAny::QVAny() noexcept = default;
QVAny::QVAny(bool value) noexcept : value_(value) {}
QVAny::QVAny(int value) noexcept : value_(value) {}
QVAny::QVAny(unsigned int value) noexcept : value_(value) {}
QVAny::QVAny(float value) noexcept : value_(value) {}
QVAny::QVAny(std::string value) : value_(std::move(value)) {}
QVAny::QVAny(const char* value) : value_(std::string(value)) {}
QVAny::QVAny(const QVAnyMap& value) : value_(std::make_shared<const QVAnyMap>(value)) {}
QVAny::QVAny(Getter getter) : value_(std::move(getter)) {}
QVAny::QVAny(Setter setter) : value_(std::move(setter)) {}

// The copy goes alternative by alternative into an empty value instead of
// through the variant's own copy constructor: with GCC 12's library a
// variant whose alternative throws while being copied (a string or function
// running out of memory) is later destroyed through an invalid index. Here
// a failed copy leaves the new value valueless and the exception propagates.
QVAny::QVAny(const QVAny& other) {
  std::visit([this](const auto& held) { value_.emplace<std::decay_t<decltype(held)>>(held); },
             other.value_);
}

QVAny& QVAny::operator=(const QVAny& other) {
  if (this != &other) {
    QVAny copy(other);
    value_ = std::move(copy.value_);
  }
  return *this;
}

QVAny::Type QVAny::type() const noexcept { return static_cast<Type>(value_.index()); }

const char* QVAny::typeName(Type type) noexcept {
  switch (type) {
    case Type::Empty: return "empty";
    case Type::Bool: return "bool";
    case Type::Int: return "int";
    case Type::UInt: return "unsigned int";
    case Type::Float: return "float";
    case Type::String: return "string";
    case Type::Map: return "map";
    case Type::Getter: return "getter";
    case Type::Setter: return "setter";
  }
  return "unknown";
}

bool QVAny::operator==(const QVAny& other) const {
  if (type() != other.type()) return false;
  switch (type()) {
    case Type::Empty: return true;
    case Type::Bool: return std::get<bool>(value_) == std::get<bool>(other.value_);
    case Type::Int: return std::get<int>(value_) == std::get<int>(other.value_);
    case Type::UInt: return std::get<unsigned int>(value_) == std::get<unsigned int>(other.value_);
    case Type::Float: return std::get<float>(value_) == std::get<float>(other.value_);
    case Type::String: return std::get<std::string>(value_) == std::get<std::string>(other.value_);
    case Type::Map: return *std::get<MapPtr>(value_) == *std::get<MapPtr>(other.value_);
    case Type::Getter:
    case Type::Setter: return false;
  }
  return false;
}

namespace {

[[noreturn]] void refuse(const QVAny& value, const char* target, const char* why = nullptr) {
  std::string message = "cannot convert a ";
  message += QVAny::typeName(value.type());
  message += " value to ";
  message += target;
  if (why) {
    message += ": ";
    message += why;
  }
  throw std::invalid_argument(message);
}

// Exact conversion of an integral float into [low, high], or refusal.
template <typename Int>
Int integralFloat(const QVAny& value, float f, const char* target) {
  if (!std::isfinite(f)) refuse(value, target, "the value is not finite");
  if (std::trunc(f) != f) refuse(value, target, "the value is not a whole number");
  const double d = f;
  if (d < static_cast<double>(std::numeric_limits<Int>::min()) ||
      d > static_cast<double>(std::numeric_limits<Int>::max())) {
    refuse(value, target, "the value is out of range");
  }
  return static_cast<Int>(d);
}

}  // namespace

template <>
bool QVAny::convert<bool>(const QVAny& value) {
  switch (value.type()) {
    case Type::Bool: return std::get<bool>(value.value_);
    case Type::Int: {
      const int i = std::get<int>(value.value_);
      if (i == 0 || i == 1) return i == 1;
      break;
    }
    case Type::UInt: {
      const unsigned int u = std::get<unsigned int>(value.value_);
      if (u == 0u || u == 1u) return u == 1u;
      break;
    }
    default: break;
  }
  refuse(value, "bool",
         value.type() == Type::Int || value.type() == Type::UInt ? "only 0 and 1 are booleans"
                                                                 : nullptr);
}

template <>
int QVAny::convert<int>(const QVAny& value) {
  switch (value.type()) {
    case Type::Int: return std::get<int>(value.value_);
    case Type::UInt: {
      const unsigned int u = std::get<unsigned int>(value.value_);
      if (u > static_cast<unsigned int>(std::numeric_limits<int>::max())) {
        refuse(value, "int", "the value is out of range");
      }
      return static_cast<int>(u);
    }
    case Type::Float: return integralFloat<int>(value, std::get<float>(value.value_), "int");
    default: refuse(value, "int");
  }
}

template <>
unsigned int QVAny::convert<unsigned int>(const QVAny& value) {
  switch (value.type()) {
    case Type::UInt: return std::get<unsigned int>(value.value_);
    case Type::Int: {
      const int i = std::get<int>(value.value_);
      if (i < 0) refuse(value, "unsigned int", "the value is negative");
      return static_cast<unsigned int>(i);
    }
    case Type::Float:
      return integralFloat<unsigned int>(value, std::get<float>(value.value_), "unsigned int");
    default: refuse(value, "unsigned int");
  }
}

template <>
float QVAny::convert<float>(const QVAny& value) {
  switch (value.type()) {
    case Type::Float: return std::get<float>(value.value_);
    case Type::Int: return static_cast<float>(std::get<int>(value.value_));
    case Type::UInt: return static_cast<float>(std::get<unsigned int>(value.value_));
    default: refuse(value, "float");
  }
}

template <>
std::string QVAny::convert<std::string>(const QVAny& value) {
  if (value.type() != Type::String) refuse(value, "string");
  return std::get<std::string>(value.value_);
}

template <>
QVAnyMap QVAny::convert<QVAnyMap>(const QVAny& value) {
  if (value.type() != Type::Map) refuse(value, "map");
  return *std::get<MapPtr>(value.value_);
}

template <>
QVAny::Getter QVAny::convert<QVAny::Getter>(const QVAny& value) {
  if (value.type() != Type::Getter) refuse(value, "getter");
  return std::get<Getter>(value.value_);
}

template <>
QVAny::Setter QVAny::convert<QVAny::Setter>(const QVAny& value) {
  if (value.type() != Type::Setter) refuse(value, "setter");
  return std::get<Setter>(value.value_);
}

}  // namespace quorvel
