// Writes the LV2 bundle's Turtle (manifest.ttl and one file per plugin) from
// the parameter tables, so that names, ranges and defaults have one source.
// Usage: quorvel-lv2-ttl OUTPUT_DIR BINARY_FILE_NAME
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "PluginAdapter.hpp"

namespace {

using quorvel::audio::Parameter;
using quorvel::audio::ParameterType;
using quorvel::plugins::Variant;

// The shortest plain decimal that reads back as the same float, as a Turtle number.
std::string number(double value) {
  const float target = static_cast<float>(value);
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(target));
  for (int decimals = 1; decimals <= 12; ++decimals) {
    char fixed[64];
    std::snprintf(fixed, sizeof fixed, "%.*f", decimals, static_cast<double>(target));
    if (std::strtof(fixed, nullptr) == target) {
      std::snprintf(text, sizeof text, "%s", fixed);
      break;
    }
  }
  return text;
}

// A Turtle string literal.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The LV2 class beside lv2:Plugin that hosts sort the effect under.
const char* pluginClass(std::string_view name) {
  if (name.find("Delay") != std::string_view::npos) return "lv2:DelayPlugin";
  if (name == "Chorus") return "lv2:ChorusPlugin";
  if (name == "Flanger") return "lv2:FlangerPlugin";
  return "lv2:ModulatorPlugin";
}

const char* unitOf(std::string_view unit) {
  if (unit == "ms") return "units:ms";
  if (unit == "s") return "units:s";
  if (unit == "Hz") return "units:hz";
  return nullptr;
}

void audioPorts(std::ostream& out, const Variant& v, bool input) {
  const char* side[] = {"left", "right"};
  for (unsigned int c = 0; c < v.channels; ++c) {
    std::string symbol = input ? "in" : "out";
    std::string name = input ? "In" : "Out";
    if (v.channels > 1) {
      symbol += std::string("_") + side[c];
      name += std::string(" ") + side[c];
    }
    out << "  lv2:port [\n    a lv2:" << (input ? "InputPort" : "OutputPort")
        << " , lv2:AudioPort ;\n    lv2:index " << (input ? v.audioInput(c) : v.audioOutput(c))
        << " ;\n    lv2:symbol " << quoted(symbol) << " ;\n    lv2:name " << quoted(name)
        << "\n  ] ;\n";
  }
}

void controlPort(std::ostream& out, const Variant& v, std::size_t i) {
  const Parameter& p = v.parameters[i];
  out << "  lv2:port [\n    a lv2:InputPort , lv2:ControlPort ;\n    lv2:index " << v.control(i)
      << " ;\n    lv2:symbol " << quoted(p.key) << " ;\n    lv2:name " << quoted(p.key)
      << " ;\n    rdfs:comment " << quoted(p.description) << " ;\n    lv2:default "
      << number(p.defaultValue) << " ;\n    lv2:minimum " << number(p.minimum)
      << " ;\n    lv2:maximum " << number(p.maximum);
  if (p.type == ParameterType::Boolean) out << " ;\n    lv2:portProperty lv2:toggled";
  if (p.type == ParameterType::Integer) out << " ;\n    lv2:portProperty lv2:integer";
  // The effect's own switch is the host's bypass.
  if (p.key == "enabled") out << " ;\n    lv2:designation lv2:enabled";
  if (const char* unit = unitOf(p.unit)) out << " ;\n    units:unit " << unit;
  out << "\n  ] ;\n";
}

std::string pluginTurtle(const Variant& v) {
  std::ostringstream out;
  out << "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
         "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
         "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n"
      << "<" << v.uri << ">\n  a lv2:Plugin , " << pluginClass(v.info->name) << " ;\n"
      << "  doap:name " << quoted(v.name) << " ;\n"
      << "  rdfs:comment " << quoted(v.info->description) << " ;\n"
      << "  lv2:optionalFeature lv2:hardRTCapable ;\n";
  audioPorts(out, v, true);
  audioPorts(out, v, false);
  for (std::size_t i = 0; i < v.parameters.size(); ++i) controlPort(out, v, i);
  if (v.reportsLatency) {
    out << "  lv2:port [\n    a lv2:OutputPort , lv2:ControlPort ;\n    lv2:index "
        << v.latencyPort()
        << " ;\n    lv2:symbol \"latency\" ;\n    lv2:name \"latency\" ;\n"
           "    lv2:designation lv2:latency ;\n    lv2:portProperty lv2:reportsLatency ;\n"
           "    units:unit units:frame\n  ] ;\n";
  }
  std::string text = out.str();
  // The last statement ends the subject.
  text.replace(text.size() - 2, 2, ".\n");
  return text;
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " OUTPUT_DIR BINARY_FILE_NAME\n";
    return 2;
  }
  const std::string dir = argv[1];
  std::ostringstream manifest;
  manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
              "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  for (const Variant& v : quorvel::plugins::variants()) {
    manifest << "\n<" << v.uri << ">\n  a lv2:Plugin ;\n  lv2:binary <" << argv[2]
             << "> ;\n  rdfs:seeAlso <" << v.slug << ".ttl> .\n";
    if (!writeFile(dir + "/" + v.slug + ".ttl", pluginTurtle(v))) {
      std::cerr << "cannot write " << dir << "/" << v.slug << ".ttl\n";
      return 1;
    }
  }
  if (!writeFile(dir + "/manifest.ttl", manifest.str())) {
    std::cerr << "cannot write " << dir << "/manifest.ttl\n";
    return 1;
  }
  return 0;
}
