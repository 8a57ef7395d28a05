package wrapkin.kinds.app;

/**
 * An application in the shape of a JavaFX one: its controls need java.logging,
 * their base java.desktop and a plain library, which needs java.sql. Prints
 * "kinds " and what each gave; a module missing from the runtime ends it
 * with a NoClassDefFoundError.
 */
public final class Main {
  private Main() {}

  public static void main(String[] args) {
    System.out.println("kinds " + new wrapkin.kinds.controls.Control().report());
  }
}
