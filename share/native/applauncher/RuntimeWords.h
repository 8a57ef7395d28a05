#pragma once

#include <string>
#include <vector>

// What the Java runtime says when it cannot start the application, as the
// last lines of a start's log show it (StderrLog). In these cases the
// runtime ends the process itself, so its words are all the launcher has to
// go by.
namespace RuntimeWords {

// Whether one of the last three lines is the runtime refusing the
// application's entry point before any of the application's code ran: a
// main class it cannot find or load (ClassNotFoundException,
// UnsupportedClassVersionError), a main jar without Main-Class, a main
// method missing or not static. The runtime then ends the process with
// System.exit(1), as an application may. Known by the runtime's English
// words, and in every language by what it does not translate: the line
// "   public static void main(String[] args)" of its advice, and the
// indented Java error of a class it cannot link.
bool refuseTheEntryPoint(const std::vector<std::string>& lastLines);

// Whether a line tells of a JVM that failed while it initialised
// ("Error occurred during initialization of VM", "... of boot layer"): a
// heap larger than the machine can give, a module that cannot be found.
// The runtime then ends the process at once, without exit handlers.
bool tellOfFailedJvmStart(const std::vector<std::string>& lastLines);

}  // namespace RuntimeWords
