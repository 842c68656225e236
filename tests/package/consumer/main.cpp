// A minimal application: loads the effects library through its entry point
// and prints the extension and the node types its factory registers, one per
// line.
#include <iostream>
#include <memory>
#include <quorvel/AudioEffects.hpp>

int main() {
  using quorvel::extensions::audioeffects::AudioEffectsExtension;
  AudioEffectsExtension::load();
  std::shared_ptr<quorvel::Extension> extension =
      quorvel::ExtensionManager::getInstance().getExtension("AudioEffects");
  // The cast needs the extension's type information from the library, as an
  // application that checks what it was given does.
  if (!std::dynamic_pointer_cast<AudioEffectsExtension>(extension)) {
    std::cerr << "no AudioEffects extension registered\n";
    return 1;
  }
  std::cout << "extension " << extension->getName() << '\n';
  for (const quorvel::NodeTypeInfo& info : extension->getNodeFactory()->getNodeTypes()) {
    std::cout << "node type " << info.getFQTypeName() << '\n';
  }
  return 0;
}
