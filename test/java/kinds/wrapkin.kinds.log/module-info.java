// The tests jar it as this module, and as a plain jar that names it
// (Automatic-Module-Name), as many libraries are.
module wrapkin.kinds.log {
  requires java.sql;
  exports wrapkin.kinds.log;
}
