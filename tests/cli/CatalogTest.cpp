// `list`, `describe`, `--help` and `--version`.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Effect.hpp>
#include <set>
#include <string>

#include "FxRunner.hpp"

namespace {

using nlohmann::json;

TEST(CatalogTest, ListJsonNamesEveryEffect) {
  const auto outcome = FxRunner::run({"list", "--json"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const json types = json::parse(outcome.out);
  ASSERT_TRUE(types.is_array());
  std::set<std::string> names;
  for (const json& type : types) {
    names.insert(type.at("name").get<std::string>());
    EXPECT_EQ(type.at("name"),
              type.at("type").get<std::string>() + "." + type.at("subtype").get<std::string>());
    EXPECT_FALSE(type.at("description").get<std::string>().empty());
    EXPECT_TRUE(type.at("categories").is_array());
  }
  EXPECT_EQ(names, (std::set<std::string>{"AudioEffects.Delay", "AudioEffects.PingPongDelay",
                                          "AudioEffects.Chorus", "AudioEffects.Flanger",
                                          "AudioEffects.Vibrato"}));
}

TEST(CatalogTest, ListTableShowsNamesAndDisplayNames) {
  const auto outcome = FxRunner::run({"list"});
  ASSERT_EQ(outcome.exitCode, 0);
  EXPECT_NE(outcome.out.find("AudioEffects.PingPongDelay"), std::string::npos);
  EXPECT_NE(outcome.out.find("Ping Pong Delay"), std::string::npos);
}

json parameter(const json& detail, const std::string& name) {
  for (const json& entry : detail.at("parameters")) {
    if (entry.at("name") == name) return entry;
  }
  ADD_FAILURE() << "no parameter " << name;
  return json::object();
}

TEST(CatalogTest, DescribeJsonGivesDefaultsAndRanges) {
  const auto pingPong = FxRunner::run({"describe", "audioeffects.PINGPONGDELAY", "--json"});
  ASSERT_EQ(pingPong.exitCode, 0) << pingPong.err;
  const json detail = json::parse(pingPong.out);
  EXPECT_EQ(detail.at("name"), "AudioEffects.PingPongDelay");
  EXPECT_EQ(parameter(detail, "delayMs").at("default"), 200);
  EXPECT_EQ(parameter(detail, "feedbackLevel").at("max"), 0.99);
  EXPECT_EQ(parameter(detail, "wetMix").at("setThrough"), "property");
  EXPECT_EQ(detail.at("properties").size(), 5u);

  const auto chorus = FxRunner::run({"describe", "Chorus", "--json"});
  ASSERT_EQ(chorus.exitCode, 0) << chorus.err;
  const json chorusDetail = json::parse(chorus.out);
  EXPECT_EQ(parameter(chorusDetail, "sweepWidth").at("default"), 0.025);
  EXPECT_EQ(parameter(chorusDetail, "frequency").at("default"), 0.2);
  EXPECT_EQ(parameter(chorusDetail, "enabled").at("default"), true);
  EXPECT_EQ(parameter(chorusDetail, "frequency").at("setThrough"), "setter");
}

// The tool keeps no parameter facts of its own: `describe` shows each
// effect's table, in table order, as the library publishes it.
TEST(CatalogTest, DescribeShowsTheLibrarysParameterTables) {
  using quorvel::audio::ParameterType;
  for (const quorvel::audio::EffectInfo* info : quorvel::audio::effectTypes()) {
    const std::string name(info->name);
    SCOPED_TRACE(name);
    const auto outcome = FxRunner::run({"describe", name, "--json"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const json detail = json::parse(outcome.out);
    EXPECT_EQ(detail.at("displayName"), std::string(info->displayName));
    const json& shown = detail.at("parameters");
    const auto table = quorvel::audio::makeEffect(name, 2)->parameters();
    ASSERT_EQ(shown.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      const quorvel::audio::Parameter& parameter = table[i];
      const json& entry = shown[i];
      SCOPED_TRACE(std::string(parameter.key));
      EXPECT_EQ(entry.at("name"), std::string(parameter.key));
      EXPECT_EQ(entry.at("description"), std::string(parameter.description));
      EXPECT_EQ(entry.value("unit", ""), std::string(parameter.unit));
      EXPECT_EQ(entry.at("type"), parameter.type == ParameterType::Boolean   ? "boolean"
                                  : parameter.type == ParameterType::Integer ? "int"
                                                                             : "float");
      if (parameter.type == ParameterType::Boolean) {
        EXPECT_EQ(entry.at("default"), parameter.defaultValue != 0.0);
        EXPECT_FALSE(entry.contains("min"));
        continue;
      }
      // Floats are shown as the shortest decimal of the float the effect stores.
      const auto asStored = [&](double value) {
        return parameter.type == ParameterType::Float
                   ? static_cast<double>(static_cast<float>(value))
                   : value;
      };
      for (const auto& [field, value] :
           {std::pair<const char*, double>{"default", parameter.defaultValue},
            {"min", parameter.minimum},
            {"max", parameter.maximum}}) {
        EXPECT_EQ(asStored(entry.at(field).get<double>()), asStored(value)) << field;
      }
    }
  }
}

TEST(CatalogTest, HelpAndVersion) {
  const auto help = FxRunner::run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* expected : {"apply", "list", "describe", "demo", "Exit status", "Examples"}) {
    EXPECT_NE(help.out.find(expected), std::string::npos) << expected;
  }
  for (const char* command : {"apply", "list", "describe", "demo"}) {
    const auto commandHelp = FxRunner::run({command, "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0) << command;
    EXPECT_NE(commandHelp.out.find("Examples"), std::string::npos) << command;
  }
  const auto version = FxRunner::run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("quorvel-fx ", 0), 0u) << version.out;
}

}  // namespace
