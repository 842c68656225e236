package com.omnifral.quorvelaudioeffects.test;

/**
 * Test-only view of the host's extension registry, implemented by the registry probe library. It
 * reads the same process-wide registry the effects library registers into.
 */
final class RegistryProbe {
  private RegistryProbe() {}

  /** The names of all registered extensions, in registration order. */
  static native String[] extensionNames();

  /** The description of the first extension registered under name, or null when there is none. */
  static native String description(String name);

  /**
   * The fully qualified node type names of a new factory from the extension at position index of
   * the registry, in the factory's order; null when the index is out of range or no factory comes.
   */
  static native String[] nodeTypes(int index);
}
