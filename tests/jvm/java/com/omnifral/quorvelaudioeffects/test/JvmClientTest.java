package com.omnifral.quorvelaudioeffects.test;

import com.omnifral.quorvelaudioeffects.AudioEffectsExtension;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;

/**
 * Uses the effects library from a JVM the way a Java application does: through the jar's
 * AudioEffectsExtension, which loads the library itself, calls its native entry point and checks
 * what it registered. Exits with status 1 on any failure.
 *
 * <p>System properties: quorvel.probe.library, the absolute path of the registry probe library;
 * quorvel.expected.version, the version the jar's manifest must give; and whatever tells
 * AudioEffectsExtension where the effects library is (quorvel.audioeffects.library or
 * java.library.path).
 */
public final class JvmClientTest {
  private static final String EXTENSION_NAME = "AudioEffects";
  private static final String EXTENSION_DESCRIPTION =
      "Basic audio effects such as delay, chorus, flanger, and vibrato.";

  /** Every node type the factory may register, in the order it registers them. */
  private static final List<String> NODE_TYPE_ORDER =
      List.of(
          "AudioEffects.Delay",
          "AudioEffects.PingPongDelay",
          "AudioEffects.Vibrato",
          "AudioEffects.Flanger",
          "AudioEffects.Chorus");

  /**
   * The node types that must be registered. With all of NODE_TYPE_ORDER required, the factory must
   * list exactly NODE_TYPE_ORDER; a shorter list here accepts a factory that lacks the others.
   */
  private static final List<String> REQUIRED_NODE_TYPES = NODE_TYPE_ORDER;

  private static int failures = 0;

  private JvmClientTest() {}

  public static void main(String[] args) {
    String version = null;
    try {
      System.load(requiredProperty("quorvel.probe.library"));
      version = requiredProperty("quorvel.expected.version");
    } catch (UnsatisfiedLinkError | IllegalArgumentException e) {
      System.err.println("FAIL: cannot load the probe library: " + e.getMessage());
      System.exit(1);
    }

    // Neither of these initialises AudioEffectsExtension: the effects library is not loaded yet.
    checkEquals(
        version,
        AudioEffectsExtension.class.getPackage().getImplementationVersion(),
        "the version in the manifest of the jar the class comes from");
    check(RegistryProbe.extensionNames().length == 0, "the registry is empty before load()");

    // Loads the effects library and binds to its exported entry point; a library that is not
    // found, or a wrong exported name, throws UnsatisfiedLinkError here.
    try {
      AudioEffectsExtension.load();
    } catch (UnsatisfiedLinkError e) {
      System.err.println("FAIL: load(): " + e.getMessage());
      System.exit(1);
    }
    checkEquals(List.of(EXTENSION_NAME), names(), "extensions after one load()");
    checkEquals(EXTENSION_DESCRIPTION, RegistryProbe.description(EXTENSION_NAME), "description");
    check(RegistryProbe.description("NoSuchExtension") == null, "an unknown name finds nothing");
    List<String> first = nodeTypes(0);
    checkNodeTypes(first);

    // Each call registers another extension; the first stays where it was.
    AudioEffectsExtension.load();
    checkEquals(List.of(EXTENSION_NAME, EXTENSION_NAME), names(), "extensions after two load()s");
    checkEquals(first, nodeTypes(1), "node types from the second extension's factory");
    check(RegistryProbe.nodeTypes(2) == null, "no third extension");

    if (failures != 0) {
      System.err.println(failures + " check(s) failed");
      System.exit(1);
    }
    System.out.println("OK: " + EXTENSION_NAME + " registered twice; node types " + first);
  }

  /**
   * The listed types must appear in NODE_TYPE_ORDER, each once and in that order, and include
   * every required type.
   */
  private static void checkNodeTypes(List<String> listed) {
    List<String> known = new ArrayList<>(NODE_TYPE_ORDER);
    known.retainAll(new HashSet<>(listed));
    checkEquals(known, listed, "node types, in registration order, without unknown names");
    for (String required : REQUIRED_NODE_TYPES) {
      check(listed.contains(required), "node type " + required + " is registered");
    }
  }

  private static List<String> names() {
    return Arrays.asList(RegistryProbe.extensionNames());
  }

  private static List<String> nodeTypes(int index) {
    String[] types = RegistryProbe.nodeTypes(index);
    check(types != null, "extension " + index + " gives a factory");
    return types == null ? List.of() : Arrays.asList(types);
  }

  private static String requiredProperty(String name) {
    String value = System.getProperty(name);
    if (value == null || value.isEmpty()) {
      throw new IllegalArgumentException("system property " + name + " is not set");
    }
    return value;
  }

  private static void checkEquals(Object expected, Object actual, String what) {
    check(expected.equals(actual), what + ": expected " + expected + ", got " + actual);
  }

  private static void check(boolean condition, String what) {
    if (!condition) {
      ++failures;
      System.err.println("FAIL: " + what);
    }
  }
}
