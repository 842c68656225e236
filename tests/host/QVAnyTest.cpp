#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <stdexcept>

#include "quorvel/QVAny.hpp"
#include "quorvel/QVAnyMap.hpp"

namespace {

using quorvel::QVAny;
using quorvel::QVAnyMap;

TEST(QVAny, HoldsEachKindItIsBuiltFrom) {
  EXPECT_EQ(QVAny().type(), QVAny::Type::Empty);
  EXPECT_EQ(QVAny(true).type(), QVAny::Type::Bool);
  EXPECT_EQ(QVAny(-3).type(), QVAny::Type::Int);
  EXPECT_EQ(QVAny(3u).type(), QVAny::Type::UInt);
  EXPECT_EQ(QVAny(0.5f).type(), QVAny::Type::Float);
  EXPECT_EQ(QVAny("text").type(), QVAny::Type::String);
  EXPECT_EQ(QVAny(std::string("text")).type(), QVAny::Type::String);
  EXPECT_EQ(QVAny(QVAnyMap{}).type(), QVAny::Type::Map);
  EXPECT_EQ(QVAny(QVAny::Getter([] { return quorvel::Result<QVAny>::success(QVAny(1)); })).type(),
            QVAny::Type::Getter);
  EXPECT_EQ(
      QVAny(QVAny::Setter([](const QVAny&) { return quorvel::Result<void>::success(); })).type(),
      QVAny::Type::Setter);
}

TEST(QVAny, ConvertsBetweenNumbersOnlyWhenNothingIsLost) {
  EXPECT_EQ(QVAny::convert<float>(QVAny(1.5f)), 1.5f);
  EXPECT_EQ(QVAny::convert<float>(QVAny(-7)), -7.0f);
  EXPECT_EQ(QVAny::convert<float>(QVAny(16777217u)), 16777216.0f);  // nearest float
  EXPECT_EQ(QVAny::convert<unsigned int>(QVAny(200)), 200u);
  EXPECT_EQ(QVAny::convert<unsigned int>(QVAny(200.0f)), 200u);
  EXPECT_EQ(QVAny::convert<int>(QVAny(5u)), 5);
  EXPECT_EQ(QVAny::convert<int>(QVAny(-5.0f)), -5);
  EXPECT_TRUE(QVAny::convert<bool>(QVAny(1)));
  EXPECT_FALSE(QVAny::convert<bool>(QVAny(0u)));

  EXPECT_THROW(QVAny::convert<unsigned int>(QVAny(-1)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<unsigned int>(QVAny(INT_MIN)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<unsigned int>(QVAny(-1.0f)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<unsigned int>(QVAny(1.5f)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<unsigned int>(QVAny(5e9f)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<int>(QVAny(3000000000u)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<int>(QVAny(std::numeric_limits<float>::quiet_NaN())),
               std::invalid_argument);
  EXPECT_THROW(QVAny::convert<bool>(QVAny(2)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<bool>(QVAny(1.0f)), std::invalid_argument);
}

TEST(QVAny, RefusesUnrelatedKindsWithAClearMessage) {
  try {
    QVAny::convert<float>(QVAny("0.5"));
    FAIL() << "a string became a float";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "cannot convert a string value to float");
  }
  try {
    QVAny::convert<unsigned int>(QVAny(-5));
    FAIL() << "a negative int became unsigned";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "cannot convert a int value to unsigned int: the value is negative");
  }
  EXPECT_THROW(QVAny::convert<QVAnyMap>(QVAny(1)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<std::string>(QVAny(true)), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<bool>(QVAny()), std::invalid_argument);
  EXPECT_THROW(QVAny::convert<QVAny::Getter>(QVAny(1)), std::invalid_argument);
}

TEST(QVAny, CopiesAreIndependentValues) {
  QVAnyMap inner{{"a", QVAny(1)}};
  QVAny held(inner);
  inner.set("a", QVAny(2));
  EXPECT_EQ(QVAny::convert<QVAnyMap>(held).at("a"), QVAny(1));
  QVAny copy = held;
  EXPECT_EQ(copy, held);
  EXPECT_NE(QVAny(1), QVAny(1u));  // same number, different kinds
  EXPECT_NE(QVAny(1.0f), QVAny(1));
}

TEST(QVAnyMap, KeepsInsertionOrderAndReplacesInPlace) {
  QVAnyMap map{{"b", QVAny(1)}, {"a", QVAny(2)}, {"b", QVAny(3)}};
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(map.at("b"), QVAny(3));
  map.set("c", QVAny("x"));
  map.set("a", QVAny(false));
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(map.at("a"), QVAny(false));
  EXPECT_TRUE(map.hasKey("c"));
  EXPECT_FALSE(map.hasKey("d"));
  EXPECT_THROW(map.at("d"), std::out_of_range);
}

TEST(QVAnyMap, EqualityIgnoresOrderButNotValues) {
  QVAnyMap one{{"x", QVAny(1)}, {"y", QVAny(2)}};
  QVAnyMap other{{"y", QVAny(2)}, {"x", QVAny(1)}};
  EXPECT_EQ(one, other);
  other.set("y", QVAny(2u));
  EXPECT_NE(one, other);
  EXPECT_NE(one, (QVAnyMap{{"x", QVAny(1)}}));
}

}  // namespace
