#pragma once

#include "quorvel/audioeffects/Export.hpp"

extern "C" {

// Native method `load` of the Java class
// com.omnifral.quorvelaudioeffects.AudioEffectsExtension. Ignores both JNI
// arguments (environment, class) and registers the extension exactly as
// AudioEffectsExtension::load() does. Never lets an exception reach the JVM.
QUORVEL_AUDIOEFFECTS_API void Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load(
    void* environment, void* javaClass) noexcept;
}
