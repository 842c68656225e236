#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "quorvel/audio/Effect.hpp"
#include "quorvel/rules/Values.hpp"

// Chains of effects as users describe them (command-line words, chain
// files, Python lists and dicts) and as they are resolved against the
// effects' parameter tables. A chain file is JSON:
//
//   {"effects": [{"name": "Delay", "parameters": {"delayMs": 350, "enabled": true}},
//                {"name": "AudioEffects.Chorus", "parameters": {"sweepWidth": "25ms"}}]}
//
// or just the array. A value is a number, a boolean or a string of the value
// grammar (Values.hpp); names are matched as everywhere else.
namespace quorvel::rules {

// One setting as given: a parameter name and a value, either text of the
// value grammar or a number handed over by a binding.
struct Setting {
  std::string name;
  std::variant<std::string, double> value;
};

// One effect of a chain as given, still unchecked.
struct EffectRequest {
  // The type name as written: "Delay", "delay", "AudioEffects.Delay".
  std::string type;
  std::vector<Setting> settings;
  // Where it was written, for messages: "preset.json: effects[1]"; empty
  // for words typed on a command line.
  std::string origin;
};

// One effect of a chain once checked: its type and what each setting stores.
struct EffectSettings {
  const audio::EffectInfo* type = nullptr;
  // In the order given; each parameter at most once.
  std::vector<std::pair<const audio::Parameter*, double>> values;
};

// The effect type called `name`: its name or "AudioEffects." and its name,
// in any letter case; throws RuleError listing the known names.
const audio::EffectInfo& findType(std::string_view name);

// The known type names, comma-separated, in registration order.
std::string typeNames();

// `request` checked against its type's table: throws RuleError naming the
// place, the effect and the setting, e.g. "preset.json: effects[0]: Delay:
// delayMs=3kg: not a time; give milliseconds, e.g. 350, 350ms or 0.35s".
EffectSettings resolve(const EffectRequest& request);

// Every request resolved, in order.
std::vector<EffectSettings> resolve(const std::vector<EffectRequest>& requests);

// The effects of a chain file's text. Every message starts with `origin`
// (e.g. the file's name) and names the place of the mistake:
// "preset.json: effects[1].parameters.delayMs: given twice".
std::vector<EffectRequest> readChain(std::string_view json, std::string_view origin);

// `chain` as a chain file that readChain() reads back to the same settings:
// whole numbers and switches as JSON numbers and booleans, floats as the
// shortest decimal of the stored float.
std::string writeChain(const std::vector<EffectSettings>& chain);

// `effect`'s settings as a resolved description: every parameter of its
// table with its current value.
EffectSettings describe(const audio::EffectControls& effect);

// Stores every value of `settings` on `effect`, which must be of its type.
void apply(const EffectSettings& settings, audio::EffectControls& effect) noexcept;

}  // namespace quorvel::rules
