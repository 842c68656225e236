package com.omnifral.quorvelaudioeffects;

import java.io.File;

/**
 * The Java face of the Quorvel audio effects library, {@code libQuorvelAudioEffects}: registers
 * its "AudioEffects" extension, with the node factory for the Delay, Ping Pong Delay, Chorus,
 * Flanger and Vibrato nodes, in the host's extension registry of this process.
 *
 * <p>The class loads the native library when it is initialised, that is before the first call of
 * {@link #load()} runs:
 *
 * <ul>
 *   <li>from the file named by the system property {@value #LIBRARY_PATH_PROPERTY} when it is set
 *       and not empty (a relative path is taken from the working directory), for example {@code
 *       java -Dquorvel.audioeffects.library=/opt/quorvel/lib/libQuorvelAudioEffects.so.1};
 *   <li>otherwise with {@code System.loadLibrary("QuorvelAudioEffects")}, which looks for {@code
 *       libQuorvelAudioEffects.so} in the directories of {@code java.library.path}.
 * </ul>
 *
 * <p>The effects library finds the host library installed beside it by itself, so no {@code
 * LD_LIBRARY_PATH} is needed. When the library cannot be loaded, the first use of the class throws
 * an {@link UnsatisfiedLinkError} that names the file or the search path tried; the JVM then
 * refuses the class in this class loader ({@link NoClassDefFoundError}).
 */
public final class AudioEffectsExtension {
  /** The system property naming the native library's file: {@value}. */
  public static final String LIBRARY_PATH_PROPERTY = "quorvel.audioeffects.library";

  /** The name given to {@code System.loadLibrary} when the property is not set: {@value}. */
  public static final String LIBRARY_NAME = "QuorvelAudioEffects";

  static {
    loadNativeLibrary();
  }

  private AudioEffectsExtension() {}

  /**
   * Registers one more "AudioEffects" extension with the host's extension registry. Every call
   * registers another one after those already there; the host finds the first by name.
   */
  public static native void load();

  private static void loadNativeLibrary() {
    String path = System.getProperty(LIBRARY_PATH_PROPERTY);
    if (path != null && !path.isEmpty()) {
      // System.load accepts absolute paths only.
      String file = new File(path).getAbsolutePath();
      try {
        System.load(file);
      } catch (UnsatisfiedLinkError e) {
        throw linkError("cannot load " + file + " (named by " + LIBRARY_PATH_PROPERTY + ")", e);
      }
      return;
    }
    try {
      System.loadLibrary(LIBRARY_NAME);
    } catch (UnsatisfiedLinkError e) {
      throw linkError(
          "cannot find "
              + System.mapLibraryName(LIBRARY_NAME)
              + " in java.library.path ("
              + System.getProperty("java.library.path")
              + "); add its directory there or name the file with -D"
              + LIBRARY_PATH_PROPERTY
              + "=PATH",
          e);
    }
  }

  private static UnsatisfiedLinkError linkError(String message, UnsatisfiedLinkError cause) {
    UnsatisfiedLinkError error = new UnsatisfiedLinkError(message + ": " + cause.getMessage());
    error.initCause(cause);
    return error;
  }
}
