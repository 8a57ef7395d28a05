module wrapkin.kinds.controls {
  requires transitive wrapkin.kinds.base;
  requires java.logging;
  exports wrapkin.kinds.controls;
}
