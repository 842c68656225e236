#pragma once

#include <string>
#include <vector>

#include "Chain.hpp"

namespace quorvelfx {

// The effects of a chain file (JSON), as the command line would give them:
//   {"effects": [{"name": "Delay", "parameters": {"delayMs": 350, "enabled": true}},
//                {"name": "AudioEffects.Chorus", "parameters": {"sweepWidth": "25ms"}}]}
// or just the array. Values stay text and are parsed later like typed ones.
class ChainFile {
 public:
  // The effects in the file at `path`; throws CliError(kExitIo) when it cannot
  // be read and CliError(kExitUsage) naming the file and place of a mistake.
  static std::vector<EffectRequest> read(const std::string& path);
  // The effects in `jsonText`; errors start with `origin`, e.g. the file name.
  static std::vector<EffectRequest> parse(const std::string& jsonText, const std::string& origin);
  // `effects` as a chain file that parse() reads back to the same requests.
  static std::string write(const std::vector<EffectRequest>& effects);
};

}  // namespace quorvelfx
