// The value grammar, chain files and input rules beyond the shared corpus:
// properties over many values, and hostile text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Delay.hpp>
#include <quorvel/audio/Vibrato.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <random>
#include <string>
#include <vector>

#include "Decimal.hpp"

namespace {

namespace rules = quorvel::rules;
using quorvel::audio::Parameter;
using quorvel::audio::ParameterType;

// Every parameter of every effect type.
std::vector<const Parameter*> allParameters() {
  std::vector<const Parameter*> out;
  for (const quorvel::audio::EffectInfo* info : quorvel::audio::effectTypes()) {
    for (const Parameter& parameter : info->parameters()) out.push_back(&parameter);
  }
  return out;
}

// What formatValue writes reads back to the very value, for whole numbers
// across the range and for random floats: a chain file written by one front
// end is read by another to the same bits.
TEST(RulesTest, FormattedValuesReadBackExactly) {
  std::mt19937 random(7);
  for (const Parameter* parameter : allParameters()) {
    SCOPED_TRACE(std::string(parameter->key));
    for (int i = 0; i < 2000; ++i) {
      std::uniform_real_distribution<double> within(parameter->minimum, parameter->maximum);
      const double stored = quorvel::audio::storedValue(parameter->type, within(random));
      if (stored < parameter->minimum || stored > parameter->maximum) continue;
      const std::string text = rules::formatValue(*parameter, stored);
      EXPECT_EQ(rules::parseValue(*parameter, text), stored) << text;
      EXPECT_EQ(rules::checkValue(*parameter, stored), stored) << text;
    }
  }
}

// A unit moves the decimal point rather than multiplying: "0.xyz s" is
// exactly what "xyz ms" is, whatever the digits.
TEST(RulesTest, UnitsMoveTheDecimalPointExactly) {
  const Parameter& width = *quorvel::audio::Vibrato::parameterTable().find("sweepWidth");
  const Parameter& delay = *quorvel::audio::Delay::parameterTable().find("delayMs");
  std::mt19937 random(11);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int i = 0; i < 5000; ++i) {
    std::string digits;
    for (int d = 0; d < 9; ++d) digits += static_cast<char>('0' + digit(random));
    // 0.0ddddddddd s == 0.ddddddddd ms x 100 ... written three ways.
    const double seconds = rules::parseValue(width, "0.0" + digits);
    EXPECT_EQ(rules::parseValue(width, "0" + digits.substr(0, 2) + "." + digits.substr(2) + "ms"),
              seconds)
        << digits;
    EXPECT_EQ(rules::parseValue(width, digits.substr(0, 5) + "." + digits.substr(5) + "us"),
              seconds)
        << digits;
    const std::string whole = digits.substr(0, 3);
    EXPECT_EQ(rules::parseValue(delay, "0." + whole + "s"), std::stod(whole)) << whole;
  }
}

// Text a program could be handed: long, deep, broken. Each is a clear
// refusal, never a crash or a hang.
TEST(RulesTest, HostileTextIsRefusedCleanly) {
  const Parameter& delay = *quorvel::audio::Delay::parameterTable().find("delayMs");
  const std::string megabyte(1 << 20, '9');
  EXPECT_THROW(rules::parseValue(delay, megabyte), rules::RuleError);
  EXPECT_EQ(rules::parseValue(delay, "0." + std::string(1 << 20, '0') + "e1000003"), 0.0);
  EXPECT_THROW(rules::parseValue(delay, "1e" + megabyte), rules::RuleError);
  EXPECT_THROW(rules::parseValue(delay, std::string("35\0ms", 5)), rules::RuleError);
  EXPECT_THROW(rules::parseValue(delay, "350\xC2"), rules::RuleError);
  for (const std::string& text :
       {std::string(100000, '['), std::string(100000, '{'), std::string("[{\"name\": \"\xFF\"}]"),
        "[{\"name\": \"Delay\", \"parameters\": {\"delayMs\": \"" + megabyte + "\"}}]",
        std::string("[\0]", 3)}) {
    try {
      rules::resolve(rules::readChain(text, "chain.json"));
      ADD_FAILURE() << "accepted " << text.substr(0, 40);
    } catch (const rules::RuleError& refused) {
      const std::string message = refused.what();
      EXPECT_EQ(message.rfind("chain.json: ", 0), 0u) << message;
      EXPECT_LT(message.size(), 400u) << "a message quotes at most a short part of the text";
    }
  }
}

TEST(RulesTest, WrittenChainsUseJsonTypes) {
  const std::vector<rules::EffectSettings> chain = rules::resolve(rules::readChain(
      R"([{"name": "delay", "parameters": {"enabled": "off", "delayMs": "0.35s", "wetMix": "0.7"}}])",
      "chain.json"));
  const nlohmann::json written = nlohmann::json::parse(rules::writeChain(chain));
  const nlohmann::json& parameters = written.at("effects").at(0).at("parameters");
  EXPECT_EQ(written.at("effects").at(0).at("name"), "Delay");
  EXPECT_EQ(parameters.at("enabled"), false);
  EXPECT_TRUE(parameters.at("delayMs").is_number_unsigned());
  EXPECT_EQ(parameters.at("delayMs"), 350);
  EXPECT_EQ(parameters.at("wetMix").dump(), "0.7") << "the float's shortest decimal";
}

TEST(RulesTest, TailIsLatencyPlusDecayAtMostTenSeconds) {
  quorvel::audio::Delay delay(2);
  quorvel::audio::Vibrato vibrato(2);
  const unsigned int rate = 48000;
  const double each = delay.tailSamples(rate, rules::kTailLevel) + vibrato.latencySamples(rate) +
                      vibrato.tailSamples(rate, rules::kTailLevel);
  EXPECT_EQ(rules::tailFrames({&delay, &vibrato}, rate),
            static_cast<std::uint64_t>(std::ceil(each)));
  delay.set("feedbackLevel", 1.0);  // never decays: held to the longest tail
  EXPECT_EQ(rules::tailFrames({&delay}, rate), 10u * rate);
  EXPECT_EQ(rules::tailFrames({}, rate), 0u);
}

TEST(RulesTest, RatesAreWholeHertzInRange) {
  EXPECT_EQ(rules::checkedRate(44100.0), 44100u);
  for (const double bad : {0.0, -1.0, 0.5, double(NAN), double(INFINITY), 1e6 + 1, 4294967296.0}) {
    EXPECT_THROW(rules::checkedRate(bad), rules::RuleError) << bad;
  }
}

}  // namespace

// Where the C++ library has no floating-point to_chars (emscripten's), the
// shortest texts come from printf: the same text as to_chars for every value.
TEST(RulesTest, PrintfShortestFormEqualsToChars) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  std::mt19937_64 rng(7);
  std::vector<double> doubles = {0.0,    -0.0,  20.0,   1e-5,    0.3,     1e21,   1e22,
                                 123456, 1e-7,  2.5e-3, 1e16,    1.5e300, 5e-324, 0.1 + 0.2,
                                 100.0,  0.001, 1e15,   12345.6, 9.5e-7,  1e300};
  for (int i = 0; i < 20000; ++i) {
    double d;
    const std::uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) doubles.push_back(d);
    doubles.push_back(static_cast<double>(rng() % 100000) / std::pow(10.0, rng() % 12));
  }
  for (const double d : doubles) {
    EXPECT_EQ(quorvel::rules::detail::shortestByPrintf(d),
              quorvel::rules::detail::shortestDouble(d))
        << d;
    const float f = static_cast<float>(d);
    if (std::isfinite(f)) {
      EXPECT_EQ(quorvel::rules::detail::shortestByPrintf(f),
                quorvel::rules::detail::shortestFloat(f))
          << f;
    }
  }
#else
  GTEST_SKIP() << "no floating-point to_chars to compare with here";
#endif
}
