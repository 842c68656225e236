package com.omnifral.quorvelaudioeffects;

/**
 * The Java face of the effects library, as a JVM application declares it. The native method binds
 * by name to the entry point the library exports, so the library must already be loaded with
 * System.load or System.loadLibrary before the first call.
 */
public final class AudioEffectsExtension {
  private AudioEffectsExtension() {}

  /** Registers one more "AudioEffects" extension with the host's extension registry. */
  public static native void load();
}
