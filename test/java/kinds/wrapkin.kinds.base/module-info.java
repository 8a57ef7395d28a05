module wrapkin.kinds.base {
  requires java.desktop;
  requires wrapkin.kinds.log;
  exports wrapkin.kinds.base;
}
