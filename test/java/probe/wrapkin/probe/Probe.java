package wrapkin.probe;

import java.lang.management.ManagementFactory;
import java.util.Map;
import java.util.TreeMap;

/**
 * Reports what the launcher started, one "key=value" line each, in this order:
 *   main=<module name, or "unnamed">/<this class>
 *   jvm-option=<option>     every JVM option, in order (-D, -X, --module-path...)
 *   property.<name>=<value> java.home, java.class.path, java.library.path,
 *                           jdk.module.path, jdk.module.main, java.vm.info
 *                           (with "sharing" when class data is mapped), and
 *                           every wrapkin.* and test.* property, sorted by
 *                           name
 *   env.<name>=<value>      DYLD_LIBRARY_PATH and LD_LIBRARY_PATH, when set
 *   arg=<argument>          every application argument, in order
 *   max-memory=<bytes>      Runtime.maxMemory(): the heap the JVM may use
 *   end
 * The JVM reports "--module-path DIR" as "--module-path=DIR" and adds
 * "-Djdk.module.main=<module>" for "-m"; the other options come as given.
 * Arguments that steer it: "--exit=N" ends the JVM with System.exit(N) after
 * the report; "--throw" lets an exception escape main instead.
 */
public final class Probe {
  private Probe() {}

  public static void main(String[] args) {
    String module = Probe.class.getModule().getName();
    System.out.println("main=" + (module == null ? "unnamed" : module) + "/" + Probe.class.getName());
    for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
      System.out.println("jvm-option=" + option);
    }
    Map<String, String> properties = new TreeMap<>();
    for (String name : System.getProperties().stringPropertyNames()) {
      if (name.startsWith("wrapkin.") || name.startsWith("test.")) {
        properties.put(name, System.getProperty(name));
      }
    }
    for (String name : new String[] {
        "java.home", "java.class.path", "java.library.path", "jdk.module.path", "jdk.module.main",
        "java.vm.info"}) {
      properties.put(name, System.getProperty(name, ""));
    }
    properties.forEach((name, value) -> System.out.println("property." + name + "=" + value));
    for (String name : new String[] {"DYLD_LIBRARY_PATH", "LD_LIBRARY_PATH"}) {
      String value = System.getenv(name);
      if (value != null) {
        System.out.println("env." + name + "=" + value);
      }
    }
    for (String arg : args) {
      System.out.println("arg=" + arg);
    }
    System.out.println("max-memory=" + Runtime.getRuntime().maxMemory());
    System.out.println("end");
    System.out.flush();

    for (String arg : args) {
      if (arg.startsWith("--exit=")) {
        System.exit(Integer.parseInt(arg.substring("--exit=".length())));
      }
      if (arg.equals("--throw")) {
        throw new IllegalStateException("thrown on request");
      }
    }
  }
}
