package wrapkin.kinds.controls;

/** Needs java.logging. */
public class Control extends wrapkin.kinds.base.Base {
  public String report() {
    return java.util.logging.Logger.getLogger("wrapkin.kinds").getName() + " " + where();
  }
}
