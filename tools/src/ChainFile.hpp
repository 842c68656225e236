#pragma once

#include <string>
#include <vector>

#include "Chain.hpp"

namespace quorvelfx {

// Chain files (JSON, read and written by the rules every front end shares):
//   {"effects": [{"name": "Delay", "parameters": {"delayMs": 350, "enabled": true}},
//                {"name": "AudioEffects.Chorus", "parameters": {"sweepWidth": "25ms"}}]}
namespace ChainFile {

// The effects in the file at `path`; throws CliError(kExitIo) when it cannot
// be read and CliError(kExitUsage) naming the file and place of a mistake.
std::vector<EffectRequest> read(const std::string& path);

}  // namespace ChainFile

}  // namespace quorvelfx
