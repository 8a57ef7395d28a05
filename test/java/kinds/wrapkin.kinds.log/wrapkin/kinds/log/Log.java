package wrapkin.kinds.log;

/** Needs java.sql. */
public final class Log {
  private Log() {}

  public static String stamp() {
    return new java.sql.Timestamp(0).toInstant().toString();
  }
}
