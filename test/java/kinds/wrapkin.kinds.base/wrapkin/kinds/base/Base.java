package wrapkin.kinds.base;

/** Needs java.desktop, and the plain jar of wrapkin.kinds.log. */
public class Base {
  public String where() {
    return new java.awt.geom.Point2D.Double(1, 2) + " " + wrapkin.kinds.log.Log.stamp();
  }
}
