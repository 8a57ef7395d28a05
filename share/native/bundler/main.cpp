// wrapkin-bundle: assembles an application bundle around the launcher.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "BundleError.h"
#include "BundleOptions.h"
#include "Bundler.h"
#include "Interruption.h"

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

int run(const std::vector<std::string>& args) {
  const BundleOptions options = parseBundleOptions(args);
  if (options.help) {
    std::cout << kBundleUsage;
    return 0;
  }
  if (options.showVersion) {
    std::cout << "wrapkin-bundle " << kBundleToolVersion << std::endl;
    return 0;
  }
  const MadeBundle made = makeBundle(options);
  for (const std::string& note : made.notes) {
    std::cerr << "wrapkin-bundle: " << oneLine(note) << std::endl;
  }
  std::cout << made.path.string() << std::endl;
  if (!made.diskImage.empty()) {
    std::cout << made.diskImage.string() << std::endl;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Interruption::catchSignals();
  int exitCode = 1;
  try {
    exitCode = run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Interruption::Interrupted&) {
  } catch (const std::exception& e) {
    // A failure that a signal caused, such as a copy cut short, is no
    // failure to report.
    if (Interruption::signalReceived() == 0) {
      if (const auto* failure = dynamic_cast<const BundleError*>(&e)) {
        for (const std::string& line : failure->linesBefore()) {
          std::cerr << "wrapkin-bundle: " << oneLine(line) << '\n';
        }
      }
      std::cerr << "wrapkin-bundle: " << oneLine(e.what()) << std::endl;
    }
  }
  // Everything the run made is gone by now, its owners destroyed.
  if (Interruption::signalReceived() != 0) {
    Interruption::endBy(Interruption::signalReceived());
  }
  return exitCode;
}
