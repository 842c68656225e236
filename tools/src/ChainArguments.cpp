#include "ChainArguments.hpp"

#include "CliError.hpp"

namespace quorvelfx {

std::vector<EffectRequest> ChainArguments::parse(const std::vector<std::string>& words) {
  std::vector<EffectRequest> chain;
  for (const std::string& word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) {
      if (word.empty()) throw CliError(kExitUsage, "empty effect name");
      chain.push_back(EffectRequest{word, {}});
      continue;
    }
    const std::string name = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (chain.empty()) {
      throw CliError(kExitUsage, "'" + word + "': a setting must follow an effect name");
    }
    EffectRequest& effect = chain.back();
    if (name.empty()) throw CliError(kExitUsage, effect.typeName + ": '" + word + "' has no name");
    if (value.empty()) {
      throw CliError(kExitUsage, effect.typeName + ": " + name + " has no value");
    }
    for (const auto& setting : effect.settings) {
      if (setting.first == name) {
        throw CliError(kExitUsage, effect.typeName + ": " + name + " is given twice");
      }
    }
    effect.settings.emplace_back(name, value);
  }
  if (chain.empty()) throw CliError(kExitUsage, "no effect given");
  return chain;
}

}  // namespace quorvelfx
