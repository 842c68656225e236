#include "CatalogCommands.hpp"

#include <iostream>

#include "DescriptorJson.hpp"
#include "EffectCatalog.hpp"
#include "ExitCode.hpp"
#include "TextTable.hpp"

namespace quorvelfx {
namespace {

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

}  // namespace

int CatalogCommands::list(bool json) {
  const EffectCatalog catalog = EffectCatalog::load();
  if (json) {
    DescriptorJson::Json types = DescriptorJson::Json::array();
    for (const EffectType& type : catalog.types()) types.push_back(DescriptorJson::summary(type));
    std::cout << types.dump(2) << std::endl;
    return kExitSuccess;
  }
  TextTable table({"NAME", "DISPLAY NAME", "CATEGORIES", "DESCRIPTION"});
  for (const EffectType& type : catalog.types()) {
    table.add({type.fqName(), type.info().displayName, joined(type.info().categories),
               type.info().description});
  }
  table.print(std::cout);
  return kExitSuccess;
}

int CatalogCommands::describe(const std::string& typeName, bool json) {
  const EffectCatalog catalog = EffectCatalog::load();
  const EffectType& type = catalog.find(typeName);
  const DescriptorJson::Json detail = DescriptorJson::detail(type);
  if (json) {
    std::cout << detail.dump(2) << std::endl;
    return kExitSuccess;
  }
  std::cout << type.fqName() << " (" << type.info().displayName << ")\n"
            << "  " << type.info().description << "\n"
            << "  categories: " << joined(type.info().categories) << "\n\n";
  if (type.parameters().empty()) {
    std::cout << "  no parameters\n";
    return kExitSuccess;
  }
  TextTable table({"PARAMETER", "TYPE", "DEFAULT", "RANGE", "UNIT", "SET THROUGH", "DESCRIPTION"});
  for (const DescriptorJson::Json& parameter : detail["parameters"]) {
    const bool numeric = parameter.contains("min");
    table.add({parameter["name"].get<std::string>(), parameter["type"].get<std::string>(),
               parameter["default"].dump(),
               numeric ? parameter["min"].dump() + " .. " + parameter["max"].dump() : "",
               parameter.value("unit", ""), parameter["setThrough"].get<std::string>(),
               parameter["description"].get<std::string>()});
  }
  table.print(std::cout, 2);
  std::cout << "\nexample: quorvel-fx apply in.wav out.wav " << type.shortName();
  for (std::size_t i = 0; i < type.parameters().size(); ++i) {
    std::cout << ' ' << type.parameters()[i].name() << '='
              << EffectParameter::format(type.defaults()[i]);
  }
  std::cout << std::endl;
  return kExitSuccess;
}

}  // namespace quorvelfx
