import com.omnifral.quorvelaudioeffects.AudioEffectsExtension;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;

/**
 * Run by run_consumer_test.sh on the installed jar: its class must give the project's version and
 * load the installed effects library, which must bring the installed host library from beside it.
 *
 * <p>Arguments: the installed library directory and the project version.
 */
public final class InstalledJarCheck {
  private InstalledJarCheck() {}

  public static void main(String[] args) throws IOException {
    Path libDir = Paths.get(args[0]).toRealPath();
    String version = args[1];
    List<String> failures = new ArrayList<>();

    String jarVersion = AudioEffectsExtension.class.getPackage().getImplementationVersion();
    if (!version.equals(jarVersion)) {
      failures.add("the jar's manifest gives the version " + jarVersion + ", not " + version);
    }
    try {
      AudioEffectsExtension.load();
    } catch (UnsatisfiedLinkError e) {
      failures.add("load(): " + e.getMessage());
    }

    // The files this process has mapped, as the kernel names them (links resolved).
    TreeSet<Path> mapped = new TreeSet<>();
    for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
      int slash = line.indexOf('/');
      if (slash < 0) continue;
      Path file = Paths.get(line.substring(slash));
      if (file.getFileName().toString().startsWith("libQuorvel")) mapped.add(file);
    }
    for (String name : List.of("libQuorvelAudioEffects.so", "libQuorvelSDK.so")) {
      if (mapped.stream().noneMatch(file -> file.getFileName().toString().startsWith(name))) {
        failures.add(name + " is not loaded");
      }
    }
    for (Path file : mapped) {
      if (!libDir.equals(file.getParent())) failures.add(file + " is loaded, not from " + libDir);
    }

    for (String failure : failures) System.err.println("FAIL: " + failure);
    if (!failures.isEmpty()) System.exit(1);
    System.out.println("OK: loaded " + mapped);
  }
}
