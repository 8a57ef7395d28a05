// wrapkin-bundle: assembles an application bundle around the launcher.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "BundleOptions.h"
#include "Bundler.h"

namespace {

// The failure as the one line it must be, whatever file names it quotes.
std::string oneLine(const std::string& message) {
  std::string line;
  for (const char c : message) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const BundleOptions options =
        parseBundleOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::cout << kBundleUsage;
      return 0;
    }
    std::cout << makeBundle(options).string() << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "wrapkin-bundle: " << oneLine(e.what()) << std::endl;
    return 1;
  }
}
