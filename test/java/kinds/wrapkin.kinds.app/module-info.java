module wrapkin.kinds.app {
  requires wrapkin.kinds.controls;
}
