package hello;

/** The sample application: shows what the launcher handed to the JVM. */
public final class Hello {
  private Hello() {}

  public static void main(String[] args) {
    System.out.println(System.getProperty("sample.greeting", "Hello"));
    System.out.println("Started by:   " + System.getProperty("wrapkin.app-path", "(not the launcher)"));
    System.out.println("Java runtime: " + System.getProperty("java.home")
        + " (" + Runtime.version() + ")");
    System.out.println("Arguments:    " + String.join(" ", args));
  }
}
