// `list`, `describe`, `--help` and `--version`.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
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
