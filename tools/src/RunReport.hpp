#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "FileRun.hpp"

// How `apply` tells what became of each file: a summary line, a JSON entry,
// warnings and errors.
namespace quorvelfx {

// "quorvel-fx: out.wav: 1.30 s of Delay, 52.1x real time, peak -5.5 dBFS, ...".
std::string summaryLine(const FileResult& result);

// The file's entry of the JSON report: status, chain, lengths, levels, warnings.
nlohmann::ordered_json jsonOf(const FileResult& result);

// Reports one finished file: warnings and errors on stderr, the summary line
// on stdout (on stderr when stdout carries the audio); with `quiet` or
// `json` no summary line.
void report(const FileResult& result, bool quiet, bool json);

}  // namespace quorvelfx
