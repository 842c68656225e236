// The WebAssembly module's interface for JavaScript: chains of effect
// processors built from chain-file JSON (the rules every front end reads),
// run in place on planar float buffers. Plain C functions over numbers and
// strings, so the JavaScript side needs no binding library.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <quorvel/audio/Effect.hpp>
#include <quorvel/rules/Chain.hpp>
#include <quorvel/rules/Inputs.hpp>
#include <quorvel/rules/Values.hpp>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

namespace audio = quorvel::audio;
namespace rules = quorvel::rules;

// The text of the last refusal, for qv_last_error().
std::string lastError;

struct Chain {
  std::vector<std::unique_ptr<audio::Effect>> effects;
  std::vector<const audio::EffectInfo*> types;
  // The channel pointers of the block being processed, sized once so that
  // processing allocates nothing in the audio thread.
  std::vector<float*> io;
  unsigned int channels = 0;
  unsigned int rate = 0;
};

const char* kept(std::string text) {
  static std::string held;
  held = std::move(text);
  return held.c_str();
}

// Effect `index` of `chain`; throws when there is none.
audio::Effect& effectAt(const Chain& chain, unsigned int index) {
  if (index >= chain.effects.size()) {
    throw std::out_of_range("no effect " + std::to_string(index) + " (the chain has " +
                            std::to_string(chain.effects.size()) + ")");
  }
  return *chain.effects[index];
}

// Stores one setting on effect `index` as the rules read it, with the names
// and messages of the other front ends ("Delay: delayMs=3kg: not a time;
// ..."); a setting that no longer fits the line at the chain's rate is
// taken back, so that a refusal leaves the running effect as it was.
int store(Chain* chain, unsigned int index, rules::Setting setting) {
  try {
    audio::Effect& effect = effectAt(*chain, index);
    const rules::EffectSettings settings = rules::resolve(
        rules::EffectRequest{std::string(chain->types[index]->name), {std::move(setting)}, ""});
    const audio::Parameter& parameter = *settings.values.front().first;
    const double previous = parameter.get(effect);
    rules::apply(settings, effect);
    try {
      rules::checkFits(effect, chain->rate);
    } catch (const rules::RuleError&) {
      parameter.set(effect, previous);
      throw;
    }
    return 0;
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return -1;
  }
}

}  // namespace

extern "C" {

// Every effect type with its parameter table, as JSON: names, units, types,
// ranges, defaults. A maximum is the largest value the rules take at `rate`
// Hz: the range's own, or less where the delay line holds less at that
// rate. Null, with the reason in qv_last_error(), for a rate the rules refuse.
EMSCRIPTEN_KEEPALIVE const char* qv_effects_json(double rate) {
  try {
    const unsigned int checkedRate = rules::checkedRate(rate);
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
                              {"maximum", *probe->maximumAt(p.key, checkedRate)},
                              {"default", p.defaultValue}});
      }
      types.push_back({{"name", std::string(info->name)},
                       {"minimumChannels", info->minimumChannels},
                       {"maximumChannels", info->maximumChannels},
                       {"parameters", parameters}});
    }
    return kept(types.dump());
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return nullptr;
  }
}

// A chain from chain-file JSON (`length` bytes, NUL bytes included) for
// `channels` channels at `rate` Hz, or null with the reason in
// qv_last_error(): the same checks and messages as the other front ends
// (names, values, channel counts, rates, the delay line).
EMSCRIPTEN_KEEPALIVE Chain* qv_chain_create(const char* json, std::size_t length, double rate,
                                            double channels) {
  try {
    const unsigned int checkedRate = rules::checkedRate(rate);
    const std::vector<rules::EffectSettings> resolved =
        rules::resolve(rules::readChain(std::string_view(json, length), "chain.json"));
    // A channel count arrives as a JavaScript number: only a whole one in
    // the unsigned range is a count (the effects then say which they take).
    if (!(channels >= 0 && channels <= 4294967295.0 && std::trunc(channels) == channels)) {
      throw rules::RuleError(rules::formatNumber(channels) +
                             " channels: takes a whole number of channels");
    }
    auto chain = std::make_unique<Chain>();
    chain->channels = static_cast<unsigned int>(channels);
    chain->rate = checkedRate;
    for (const rules::EffectSettings& settings : resolved) {
      rules::checkChannels(*settings.type, chain->channels);
      std::unique_ptr<audio::Effect> effect =
          audio::makeEffect(settings.type->name, chain->channels);
      rules::apply(settings, *effect);
      rules::checkFits(*effect, checkedRate);
      effect->prepare(checkedRate, chain->channels);
      chain->effects.push_back(std::move(effect));
      chain->types.push_back(settings.type);
    }
    chain->io.resize(chain->channels);
    return chain.release();
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return nullptr;
  }
}

// How many effects `chain` runs.
EMSCRIPTEN_KEEPALIVE unsigned int qv_chain_size(const Chain* chain) {
  return static_cast<unsigned int>(chain->effects.size());
}

// Sets parameter `key` of effect `index` from text in the value grammar
// (both `...Length` bytes, NUL bytes included, so that "350\0x" is not read
// as 350); 0 on success, -1 with the reason in qv_last_error() and the
// effect unchanged.
EMSCRIPTEN_KEEPALIVE int qv_chain_set(Chain* chain, unsigned int index, const char* key,
                                      std::size_t keyLength, const char* value,
                                      std::size_t valueLength) {
  return store(chain, index,
               rules::Setting{std::string(key, keyLength), std::string(value, valueLength)});
}

// The same for a number handed over as a number, checked as the other
// bindings check one (NaN and infinities refused).
EMSCRIPTEN_KEEPALIVE int qv_chain_set_number(Chain* chain, unsigned int index, const char* key,
                                             std::size_t keyLength, double value) {
  return store(chain, index, rules::Setting{std::string(key, keyLength), value});
}

// Refuses a value that is neither a number, a boolean nor text (`typeName`
// says what it is): -1 with the message, naming the parameter as the table
// spells it, or the unknown parameter or effect first.
EMSCRIPTEN_KEEPALIVE int qv_chain_refuse_type(Chain* chain, unsigned int index, const char* key,
                                              std::size_t keyLength, const char* typeName) {
  try {
    effectAt(*chain, index);
    const audio::EffectInfo& type = *chain->types[index];
    const std::string name(key, keyLength);
    const audio::Parameter* parameter = rules::findParameter(type.parameters(), name);
    if (parameter == nullptr) {
      throw rules::RuleError(std::string(type.name) + ": unknown parameter '" +
                             rules::shortened(name) +
                             "' (known: " + rules::parameterKeys(type.parameters()) + ")");
    }
    throw rules::RuleError(std::string(type.name) + ": " + std::string(parameter->key) +
                           " must be a number, a boolean or a string such as \"350ms\"; got " +
                           typeName);
  } catch (const std::exception& refused) {
    lastError = refused.what();
    return -1;
  }
}

// What parameter `key` of effect `index` stores now; NaN when there is no
// such effect or parameter.
EMSCRIPTEN_KEEPALIVE double qv_chain_get(const Chain* chain, unsigned int index, const char* key,
                                         std::size_t keyLength) {
  if (index >= chain->effects.size()) return std::nan("");
  const audio::Effect& effect = *chain->effects[index];
  const audio::Parameter* parameter =
      rules::findParameter(effect.parameters(), std::string_view(key, keyLength));
  return parameter == nullptr ? std::nan("") : parameter->get(effect);
}

// Runs `frames` frames through the chain in place: `planar` holds the
// channels one after the other, `frames` floats each.
EMSCRIPTEN_KEEPALIVE void qv_chain_process(Chain* chain, float* planar, unsigned int frames) {
  float** io = chain->io.data();
  for (unsigned int c = 0; c < chain->channels; ++c) io[c] = planar + std::size_t{c} * frames;
  for (const std::unique_ptr<audio::Effect>& effect : chain->effects) {
    effect->process(io, io, chain->channels, frames);
  }
}

EMSCRIPTEN_KEEPALIVE void qv_chain_destroy(Chain* chain) { delete chain; }

// Why the last qv_effects_json, qv_chain_create or qv_chain_set... failed,
// and its length in bytes: a message quotes the value, which may hold NUL bytes.
EMSCRIPTEN_KEEPALIVE const char* qv_last_error() { return lastError.c_str(); }
EMSCRIPTEN_KEEPALIVE std::size_t qv_last_error_length() { return lastError.size(); }

}  // extern "C"
