#include "RuntimeWords.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The last lines of a start's log, as the runtime leaves them when it ends
// the process, or as an application's own output may look.
TEST(RuntimeWordsTest, TellsTheRuntimesRefusalsFromAnApplicationsWords) {
  const struct {
    const char* label;
    std::vector<std::string> lastLines;
    bool refused;
  } rows[] = {
      {"main class not found",
       {"[warning] earlier", "Error: Could not find or load main class a.B",
        "Caused by: java.lang.ClassNotFoundException: a.B"},
       true},
      {"no Main-Class", {"no main manifest attribute, in /x/a.jar"}, true},
      {"no main method, with the JavaFX line",
       {"Error: Main method not found in class a.B, please define the main "
        "method as:",
        "   public static void main(String[] args)",
        "or a JavaFX application class must extend "
        "javafx.application.Application"},
       true},
      {"a class of a newer Java, in German",
       {"Fehler: Beim Laden der Klasse a.B ist ein LinkageError aufgetreten",
        "\tjava.lang.UnsupportedClassVersionError: a/B has been compiled"},
       true},
      {"no main method, in German: the advice is not translated",
       {"Fehler: Hauptmethode in Klasse a.B nicht gefunden. Definieren Sie "
        "die Hauptmethode als:",
        "   public static void main(String[] args):",
        "oder eine JavaFX-Anwendung muss javafx.application.Application "
        "erweitern"},
       true},
      {"main method not static, in French",
       {"Erreur : la méthode principale n'est pas static dans la classe a.B, "
        "définissez la méthode principale comme suit :",
        "   public static void main(String[] args)"},
       true},
      {"a module without a main class",
       {"module m does not have a ModuleMainClass attribute, use -m "
        "<module>/<main-class>"},
       true},
      {"a refusal followed by more than its own lines",
       {"Error: Could not find or load main class a.B", "Caused by: x",
        "the application's own line", "and another"},
       false},
      {"an application's own error line", {"Error: cannot open the file"},
       false},
      {"an application's stack trace",
       {"Exception in thread \"main\" java.lang.IllegalStateException",
        "Caused by: java.lang.ClassNotFoundException: a.B"},
       false},
      {"nothing", {}, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.refused, RuntimeWords::refuseTheEntryPoint(row.lastLines))
        << row.label;
  }
}

TEST(RuntimeWordsTest, TellsAJvmThatFailedWhileItInitialised) {
  EXPECT_TRUE(RuntimeWords::tellOfFailedJvmStart(
      {"Error occurred during initialization of boot layer",
       "java.lang.module.FindException: Module m not found"}));
  EXPECT_TRUE(RuntimeWords::tellOfFailedJvmStart(
      {"Error occurred during initialization of VM",
       "Could not reserve enough space for object heap"}));
  EXPECT_FALSE(RuntimeWords::tellOfFailedJvmStart(
      {"Error: Could not create the Java Virtual Machine."}));
}

}  // namespace
