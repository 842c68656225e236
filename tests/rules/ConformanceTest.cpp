// The conformance corpus held against the rules themselves: every value,
// chain file and input, through the calls each front end makes.
#include <gtest/gtest.h>

#include <quorvel/audio/Effect.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Inputs.hpp>

#include "Corpus.hpp"

namespace {

namespace rules = quorvel::rules;
using conformance::Json;

bool isFloat(const quorvel::audio::Parameter& parameter) {
  return parameter.type == quorvel::audio::ParameterType::Float;
}

// What resolving `request` gives: the stored value of its one setting, or the message.
void expectOutcome(const Json& entry, const rules::EffectRequest& request,
                   const std::string& prefix) {
  SCOPED_TRACE(conformance::describe(entry));
  try {
    const rules::EffectSettings settings = rules::resolve(request);
    ASSERT_TRUE(entry.contains("stores")) << "accepted, storing " << settings.values.at(0).second;
    const auto& [parameter, stored] = settings.values.at(0);
    EXPECT_TRUE(conformance::sameStored(entry.at("stores"), stored, isFloat(*parameter)))
        << "stores " << stored;
  } catch (const rules::RuleError& refused) {
    ASSERT_TRUE(entry.contains("refused")) << "refused: " << refused.what();
    EXPECT_EQ(refused.what(), prefix + entry.at("refused").get<std::string>());
  }
}

TEST(ConformanceTest, Values) {
  for (const Json& entry : conformance::cases("values.json")) {
    const Json& value = entry.at("value");
    rules::Setting setting{entry.at("parameter").get<std::string>(), {}};
    if (value.is_string()) {
      setting.value = value.get<std::string>();
    } else {
      setting.value = value.get<double>();
    }
    expectOutcome(entry, {entry.at("effect").get<std::string>(), {setting}, ""}, "");
    // The same value written in a chain file.
    const std::string file = "[{\"name\": " + entry.at("effect").dump() + ", \"parameters\": {" +
                             entry.at("parameter").dump() + ": " + conformance::chainValue(value) +
                             "}}]";
    try {
      const std::vector<rules::EffectRequest> requests = rules::readChain(file, "chain.json");
      ASSERT_EQ(requests.size(), 1u);
      expectOutcome(entry, requests[0], "chain.json: [0]: ");
    } catch (const rules::RuleError& refused) {
      ADD_FAILURE() << file << ": " << refused.what();
    }
  }
}

TEST(ConformanceTest, ChainFiles) {
  for (const Json& entry : conformance::cases("chains.json")) {
    SCOPED_TRACE(conformance::describe(entry));
    try {
      const std::vector<rules::EffectSettings> chain =
          rules::resolve(rules::readChain(entry.at("text").get<std::string>(), "chain.json"));
      ASSERT_TRUE(entry.contains("accepted")) << "accepted";
      const Json& expected = entry.at("accepted");
      ASSERT_EQ(chain.size(), expected.size());
      for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i].type->name, expected[i].at("name").get<std::string>());
        const Json& stores = expected[i].at("stores");
        ASSERT_EQ(chain[i].values.size(), stores.size()) << i;
        for (const auto& [parameter, stored] : chain[i].values) {
          EXPECT_TRUE(conformance::sameStored(stores.at(std::string(parameter->key)), stored,
                                              isFloat(*parameter)))
              << parameter->key << " stores " << stored;
        }
      }
      // Written out and read again, the chain is the same.
      const std::vector<rules::EffectSettings> again =
          rules::resolve(rules::readChain(rules::writeChain(chain), "written"));
      ASSERT_EQ(again.size(), chain.size());
      for (std::size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(again[i].values, chain[i].values);
    } catch (const rules::RuleError& refused) {
      ASSERT_TRUE(entry.contains("refused")) << "refused: " << refused.what();
      EXPECT_EQ(refused.what(), entry.at("refused").get<std::string>());
    }
  }
}

// The order every front end checks in: rate, channels, settings, fit.
void checkInput(const Json& entry) {
  const unsigned int rate = rules::checkedRate(entry.at("rate").get<double>());
  const quorvel::audio::EffectInfo& type = rules::findType(entry.at("effect").get<std::string>());
  const auto channels = entry.at("channels").get<unsigned int>();
  rules::checkChannels(type, channels);
  rules::EffectRequest request{std::string(type.name), {}, ""};
  const Json settings = entry.value("settings", Json::object());
  for (const auto& [key, value] : settings.items()) {
    request.settings.push_back(rules::Setting{key, conformance::typedValue(value)});
  }
  const std::unique_ptr<quorvel::audio::Effect> effect =
      quorvel::audio::makeEffect(type.name, channels);
  rules::apply(rules::resolve(request), *effect);
  rules::checkFits(*effect, rate);
}

TEST(ConformanceTest, Inputs) {
  for (const Json& entry : conformance::cases("inputs.json")) {
    if (!conformance::appliesTo(entry, "library")) continue;
    SCOPED_TRACE(conformance::describe(entry));
    try {
      checkInput(entry);
      EXPECT_TRUE(entry.contains("accepted")) << "accepted";
    } catch (const rules::RuleError& refused) {
      ASSERT_TRUE(entry.contains("refused")) << "refused: " << refused.what();
      EXPECT_EQ(refused.what(), entry.at("refused").get<std::string>());
    }
  }
}

}  // namespace
