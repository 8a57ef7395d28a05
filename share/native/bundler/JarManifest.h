#pragma once

#include <filesystem>
#include <string>

// A jar's manifest as the Java runtime reads it. Two readers take part when
// a jar runs with `java -jar`: the launcher reads the main section of the
// first entry named exactly META-INF/MANIFEST.MF and refuses the jar when
// there is none or it cannot parse that section; java.util.jar then reads
// the whole of the last entry of that name in any case of its letters, and
// takes the main class from it.
struct JarManifest {
  // The Main-Class attribute that java.util.jar reads, trimmed as the
  // launcher trims it; "" when the manifest names none.
  std::string mainClass;
  // Why the launcher refuses the jar with `java -jar` before the main class
  // counts; "" when it takes the jar.
  std::string jarLaunchRefusal;
};

// Reads the manifest of `jar`: no more of it than its first 64 MiB, and no
// more than a MiB of its main section. Raises BundleError with the reason,
// not naming the jar, when `jar` is no jar whose manifest java.util.jar
// could read.
JarManifest readJarManifest(const std::filesystem::path& jar);
