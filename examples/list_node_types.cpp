// Loads the effects library through its entry point, as an application
// would, and prints every node type its factory registers.
#include <iostream>

#include <quorvel/AudioEffects.hpp>

namespace {

void printProperty(const std::string& name, const quorvel::QVAnyMap& descriptor) {
  std::cout << "    " << name << ":";
  for (const auto& [key, value] : descriptor) {
    std::cout << ' ' << key << '=';
    switch (value.type()) {
      case quorvel::QVAny::Type::Bool:
        std::cout << (quorvel::QVAny::convert<bool>(value) ? "true" : "false");
        break;
      case quorvel::QVAny::Type::Int: std::cout << quorvel::QVAny::convert<int>(value); break;
      case quorvel::QVAny::Type::UInt:
        std::cout << quorvel::QVAny::convert<unsigned int>(value);
        break;
      case quorvel::QVAny::Type::Float: std::cout << quorvel::QVAny::convert<float>(value); break;
      case quorvel::QVAny::Type::String:
        std::cout << '"' << quorvel::QVAny::convert<std::string>(value) << '"';
        break;
      default: std::cout << '<' << quorvel::QVAny::typeName(value.type()) << '>'; break;
    }
  }
  std::cout << '\n';
}

}  // namespace

int main() {
  quorvel::extensions::audioeffects::AudioEffectsExtension::load();
  auto extension = quorvel::ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) {
    std::cerr << "the AudioEffects extension did not register\n";
    return 1;
  }
  std::cout << extension->getName() << ": " << extension->getDescription() << '\n';
  auto factory = extension->getNodeFactory();
  for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
    std::cout << "\n" << info.getFQTypeName() << " (" << info.displayName << ")\n";
    std::cout << "  " << info.description << '\n';
    std::cout << "  categories:";
    for (const std::string& category : info.categories) std::cout << " [" << category << ']';
    std::cout << '\n';
    if (!info.properties.empty()) std::cout << "  properties:\n";
    for (const std::string& name : info.properties.keys()) {
      printProperty(name, info.getProperty(name));
    }
  }
  return 0;
}
