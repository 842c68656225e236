// The WebAssembly module's interface for JavaScript: chains of effect
// processors built from chain-file JSON (the rules every front end reads),
// run in place on planar float buffers. Plain C functions over numbers and
// strings, so the JavaScript side needs no binding library.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <quorvel/rules/Values.hpp>
#include <string>
#include <vector>

namespace {

namespace audio = quorvel::audio;
namespace rules = quorvel::rules;

// The text of the last refusal, for qv_last_error().
std::string lastError;

struct Chain {
  std::vector<std::unique_ptr<audio::Effect>> effects;
  std::vector<const audio::EffectInfo*> types;
  unsigned int channels = 0;
  unsigned int rate = 0;
};

const char* kept(std::string text) {
  static std::string held;
  held = std::move(text);
  return held.c_str();
}

}  // namespace

extern "C" {

// Every effect type with its parameter table, as JSON: names, units, types,
// ranges (the maximum at 48 kHz where it depends on the rate), defaults.
EMSCRIPTEN_KEEPALIVE const char* qv_effects_json() {
  nlohmann::json types = nlohmann::json::array();
  for (const audio::EffectInfo* info : audio::effectTypes()) {
    nlohmann::json parameters = nlohmann::json::array();
    const std::unique_ptr<audio::Effect> probe = audio::makeEffect(info->name, 2);
    for (const audio::Parameter& p : probe->parameters()) {
      parameters.push_back({{"key", std::string(p.key)},
                            {"description", std::string(p.description)},
                            {"unit", std::string(p.unit)},
                            {"type", p.type == audio::ParameterType::Boolean   ? "boolean"
                                     : p.type == audio::ParameterType::Integer ? "integer"
                                                                               : "float"},
                            {"minimum", p.minimum},
                            {"maximum", p.maximumAt ? p.maximumAt(48000) : p.maximum},
                            {"default", p.defaultValue}});
    }
    types.push_back({{"name", std::string(info->name)}, {"parameters", parameters}});
  }
  return kept(types.dump());
}

// A chain from chain-file JSON for `channels` channels at `rate` Hz, or null
// with the reason in qv_last_error(): the same checks and messages as the
// other front ends (names, values, channel counts, rates, the delay line).
EMSCRIPTEN_KEEPALIVE Chain* qv_chain_create(const char* json, double rate, unsigned int channels) {
  try {
    const unsigned int checkedRate = rules::checkedRate(rate);
    auto chain = std::make_unique<Chain>();
    chain->channels = channels;
    chain->rate = checkedRate;
    for (const rules::EffectSettings& settings :
         rules::resolve(rules::readChain(json, "chain.json"))) {
      rules::checkChannels(*settings.type, channels);
      std::unique_ptr<audio::Effect> effect = audio::makeEffect(settings.type->name, channels);
      rules::apply(settings, *effect);
      rules::checkFits(*effect, checkedRate);
      effect->prepare(checkedRate, channels);
      chain->effects.push_back(std::move(effect));
      chain->types.push_back(settings.type);
    }
    return chain.release();
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return nullptr;
  }
}

// Sets parameter `key` of effect `index` from text in the value grammar;
// 0 on success, -1 with the reason in qv_last_error().
EMSCRIPTEN_KEEPALIVE int qv_chain_set(Chain* chain, unsigned int index, const char* key,
                                      const char* value) {
  try {
    if (index >= chain->effects.size())
      throw std::out_of_range("no effect " + std::to_string(index));
    audio::Effect& effect = *chain->effects[index];
    const audio::Parameter* parameter = rules::findParameter(effect.parameters(), key);
    if (parameter == nullptr) {
      throw std::invalid_argument(std::string("unknown parameter '") + key + "' (" +
                                  rules::parameterKeys(effect.parameters()) + ")");
    }
    double number = 0.0;
    try {
      number = rules::parseValue(*parameter, value);
    } catch (const rules::RuleError& refused) {
      // Named as the other front ends name a refused setting.
      throw std::invalid_argument(std::string(chain->types[index]->name) + ": " + key + "=" +
                                  value + ": " + refused.what());
    }
    // As when the chain was made, the setting must fit the line at the rate
    // (that message names the effect and setting itself).
    const double previous = parameter->get(effect);
    parameter->set(effect, number);
    try {
      rules::checkFits(effect, chain->rate);
    } catch (const rules::RuleError&) {
      parameter->set(effect, previous);
      throw;
    }
    return 0;
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return -1;
  }
}

// Runs `frames` frames through the chain in place: `planar` holds the
// channels one after the other, `frames` floats each.
EMSCRIPTEN_KEEPALIVE void qv_chain_process(Chain* chain, float* planar, unsigned int frames) {
  std::vector<float*> io(chain->channels);
  for (unsigned int c = 0; c < chain->channels; ++c) io[c] = planar + std::size_t{c} * frames;
  for (const std::unique_ptr<audio::Effect>& effect : chain->effects) {
    effect->process(io.data(), io.data(), chain->channels, frames);
  }
}

EMSCRIPTEN_KEEPALIVE void qv_chain_destroy(Chain* chain) { delete chain; }

// Why the last qv_chain_create or qv_chain_set failed.
EMSCRIPTEN_KEEPALIVE const char* qv_last_error() { return lastError.c_str(); }

}  // extern "C"
