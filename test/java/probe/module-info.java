module wrapkin.probe {
  requires java.management;
}
