#include <gtest/gtest.h>

#include <stdexcept>

#include "quorvel/QuorvelObject.hpp"

namespace {

using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::Result;

// An object with one unsigned property, as a node would register it.
class Counter : public quorvel::QuorvelObject {
 public:
  Counter() : QuorvelObject("counter") {
    registerProperty("count", QVAnyMap{{"type", QVAny("int")}},
                     QVAny(QVAny::Getter([this] { return Result<QVAny>::success(QVAny(count)); })),
                     QVAny(QVAny::Setter([this](const QVAny& value) {
                       count = QVAny::convert<unsigned int>(value);
                       return Result<void>::success();
                     })));
  }
  void registerRaw(const QVAny& getter, const QVAny& setter) {
    registerProperty("raw", QVAnyMap{}, getter, setter);
  }
  unsigned int count = 7;
};

TEST(QuorvelObject, ReachesRegisteredPropertiesByName) {
  Counter object;
  EXPECT_EQ(object.getObjectName(), "counter");
  EXPECT_EQ(object.getPropertyNames(), std::vector<std::string>{"count"});
  EXPECT_EQ(object.getPropertyDescriptor("count").at("type"), QVAny("int"));
  ASSERT_TRUE(object.getValue("count").isSuccess());
  EXPECT_EQ(object.getValue("count").value(), QVAny(7u));
  EXPECT_TRUE(object.setValue("count", QVAny(12)).isSuccess());
  EXPECT_EQ(object.count, 12u);
}

TEST(QuorvelObject, ReportsUnknownNamesAndUnconvertibleValues) {
  Counter object;
  const Result<void> unknown = object.setValue("size", QVAny(1));
  EXPECT_FALSE(unknown.isSuccess());
  EXPECT_EQ(unknown.error(), "unknown property 'size'");
  EXPECT_FALSE(object.getValue("size").isSuccess());
  EXPECT_THROW(object.getValue("size").value(), std::logic_error);

  const Result<void> negative = object.setValue("count", QVAny(-3));
  EXPECT_FALSE(negative.isSuccess());
  EXPECT_NE(negative.error().find("property 'count'"), std::string::npos) << negative.error();
  EXPECT_EQ(object.count, 7u);  // the old value stays
  EXPECT_FALSE(object.setValue("count", QVAny("many")).isSuccess());
  EXPECT_EQ(object.count, 7u);
  EXPECT_FALSE(object.callAction("reset", QVAnyMap{}).isSuccess());
}

TEST(QuorvelObject, RegistrationNeedsAGetterAndASetter) {
  Counter object;
  EXPECT_THROW(object.registerRaw(QVAny(1), QVAny(2)), std::invalid_argument);
  EXPECT_FALSE(object.hasProperty("raw"));
}

}  // namespace
