#include "quorvel/audioeffects/QVAudioEffectsExtension.hpp"

#include "quorvel/audioeffects/AudioEffectsExtension.hpp"

extern "C" void Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load(
    void* environment, void* javaClass) noexcept {
  static_cast<void>(environment);
  static_cast<void>(javaClass);
  // A C++ exception unwinding into the JVM's native frame would abort the
  // whole virtual machine; on failure the registry simply stays without the
  // extension, which the application can see through the host.
  try {
    quorvel::extensions::audioeffects::AudioEffectsExtension::load();
  } catch (...) {
  }
}
