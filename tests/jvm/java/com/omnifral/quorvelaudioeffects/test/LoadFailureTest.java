package com.omnifral.quorvelaudioeffects.test;

import com.omnifral.quorvelaudioeffects.AudioEffectsExtension;

/**
 * Run where the effects library cannot be found: the first load() must throw the class's own
 * UnsatisfiedLinkError, whose message contains the text given as the only argument, and not bind
 * to anything. Exits with status 1 otherwise.
 */
public final class LoadFailureTest {
  private LoadFailureTest() {}

  public static void main(String[] args) {
    String expected = args[0];
    try {
      AudioEffectsExtension.load();
      System.err.println("FAIL: load() returned without the library");
      System.exit(1);
    } catch (UnsatisfiedLinkError e) {
      String message = String.valueOf(e.getMessage());
      if (!message.contains(expected)) {
        System.err.println("FAIL: \"" + message + "\" does not say \"" + expected + "\"");
        System.exit(1);
      }
      // The JVM's own error for the native library, kept as the cause.
      if (!(e.getCause() instanceof UnsatisfiedLinkError)) {
        System.err.println("FAIL: the error carries no cause: " + e.getCause());
        System.exit(1);
      }
      System.out.println("OK: " + message);
    }
  }
}
