#include "CfgFile.h"

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OpenDescriptors.h"
#include "RaisedMessage.h"
#include "RecordingLogAppender.h"
#include "TempDir.h"

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

// The recognised sections, and names that the parser must never store.
const SectionId dumpedSections[] = {
    SectionName::Application,       SectionName::JavaOptions,
    SectionName::AppCDSJavaOptions, SectionName::AppCDSGenerateCacheJavaOptions,
    SectionName::ArgOptions,        SectionId(""),
    SectionId("application"),       SectionId("Other"),
    SectionId("$APPDIR"),
};

// One line per present section: "[name] key=<v1>|<v2> key2=<v>". The
// brackets show trailing blanks and CRs.
std::string dump(const CfgFile& cfg) {
  std::string out;
  for (const SectionId& section : dumpedSections) {
    const CfgFile::Properties& props = cfg.getProperties(section);
    if (props.empty()) {
      continue;
    }
    out += std::string("[") + section.name() + "]";
    for (const auto& prop : props) {
      out += std::string(" ") + prop.first.name() + "=";
      for (std::size_t i = 0; i < prop.second.size(); ++i) {
        out += (i == 0 ? "<" : "|<") + prop.second[i] + ">";
      }
    }
    out += "\n";
  }
  return out;
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

TEST(CfgFileTest, LoadFollowsTheLineRules) {
  const struct {
    const char* label;
    std::string content;
    std::string expected;  // dump() of the result
  } cases[] = {
      {"empty file", "", ""},
      {"only comments and empty lines", ";x\n\n;[Application]\n\n", ""},
      {"lines before the first header are dropped",
       "app.mainjar=a\n[Application]\napp.mainclass=C\n",
       "[Application] app.mainclass=<C>\n"},
      {"comment only in the first column",
       "[Application]\n;app.mainjar=a\n ;x=1\n#app.mainclass=b\napp.splash=s\n",
       "[Application] app.splash=<s>\n"},
      {"repeated key appends in file order",
       "[Application]\napp.mainjar=a.jar\napp.mainjar=\napp.mainjar=b.jar\n",
       "[Application] app.mainjar=<a.jar>|<>|<b.jar>\n"},
      {"separator is the first \"=\"",
       "[JavaOptions]\njava-options=-Dkey=value\n",
       "[JavaOptions] java-options=<-Dkey=value>\n"},
      {"key without separator gets an empty value",
       "[ArgOptions]\narguments\narguments=\n",
       "[ArgOptions] arguments=<>|<>\n"},
      {"escaped \"=\" stays in the key, so the key is unknown",
       "[ArgOptions]\narguments\\=a=b\narguments\\=x\narguments=a\\=b\n",
       "[ArgOptions] arguments=<a\\=b>\n"},
      {"empty key, and blanks are never trimmed",
       "[Application]\n=x\napp.mainjar = x.jar\n app.mainjar=y.jar\n"
       "app.mainclass= C \n",
       "[Application] app.mainclass=< C >\n"},
      {"text after the last \"]\" is ignored",
       "[Application] ; note\napp.mainjar=a\n",
       "[Application] app.mainjar=<a>\n"},
      {"a \"]\" in the trailing text lengthens the name",
       "[Application] ;x]\napp.mainjar=a\n", ""},
      {"blank before \"[\" is a property line",
       "[JavaOptions]\n [Application]\njava-options=-X\n",
       "[JavaOptions] java-options=<-X>\n"},
      {"unknown and wrongly cased sections are dropped",
       "[Other]\narguments=1\n[application]\narguments=2\n[ ArgOptions ]\n"
       "arguments=3\n[]\narguments=4\n[ArgOptions]\narguments=5\n",
       "[ArgOptions] arguments=<5>\n"},
      {"known key in another section is stored there",
       "[JavaOptions]\napp.mainjar=x.jar\n",
       "[JavaOptions] app.mainjar=<x.jar>\n"},
      {"repeated section replaces the earlier one",
       "[Application]\napp.mainjar=a.jar\n[JavaOptions]\njava-options=-X\n"
       "[Application]\napp.mainclass=C\n",
       "[Application] app.mainclass=<C>\n[JavaOptions] java-options=<-X>\n"},
      {"repeated section without stored values keeps the earlier one",
       "[Application]\napp.mainjar=a.jar\n[JavaOptions]\njava-options=-X\n"
       "[Application]\nunknown=1\n",
       "[Application] app.mainjar=<a.jar>\n[JavaOptions] java-options=<-X>\n"},
      {"CR LF: the CR ends the line, also the last; a CR elsewhere stays",
       "[ArgOptions]\r\narguments=a\r\narguments\r\n\r\narguments=\rb\r\r\n"
       "arguments=c\r",
       "[ArgOptions] arguments=<a>|<>|<\rb\r>|<c>\n"},
      {"byte-order mark at the start is skipped, elsewhere kept",
       "\xEF\xBB\xBF[Application]\napp.mainjar=a\n\xEF\xBB\xBF[JavaOptions]\n"
       "java-options=-X",
       "[Application] app.mainjar=<a> java-options=<-X>\n"},
      {"last line without a line-feed", "[Application]\napp.mainjar=a",
       "[Application] app.mainjar=<a>\n"},
      {"whole vocabulary",
       "[Application]\napp.version=1\napp.mainjar=2\napp.mainmodule=3\n"
       "app.mainclass=4\napp.classpath=5\napp.modulepath=6\napp.runtime=7\n"
       "app.splash=8\napp.memory=9\narguments=10\njava-options=11\n"
       "app.cds=12\napp.user-options=13\n"
       "[JavaOptions]\njava-options=a\n[AppCDSJavaOptions]\njava-options=b\n"
       "[AppCDSGenerateCacheJavaOptions]\njava-options=c\n[ArgOptions]\n"
       "arguments=d\n",
       "[Application] app.cds=<12> app.classpath=<5> app.mainclass=<4> app.mainjar=<2>"
       " app.mainmodule=<3> app.memory=<9> app.modulepath=<6> app.runtime=<7>"
       " app.splash=<8> app.user-options=<13> app.version=<1> arguments=<10>"
       " java-options=<11>\n"
       "[JavaOptions] java-options=<a>\n[AppCDSJavaOptions] java-options=<b>\n"
       "[AppCDSGenerateCacheJavaOptions] java-options=<c>\n"
       "[ArgOptions] arguments=<d>\n"},
  };
  const TempDir dir;
  const std::string path = (dir.path() / "app.cfg").string();
  for (const auto& c : cases) {
    writeFile(path, c.content);
    EXPECT_EQ(c.expected, dump(CfgFile::load(path))) << c.label;
  }
}

// Values longer than the read buffer and the blocks that collect them, empty
// values at a block's end, and sections whose blocks a later occurrence
// reuses must all come back whole and in order.
TEST(CfgFileTest, LoadKeepsLongValuesWhole) {
  std::vector<std::string> first;
  for (std::size_t size : {40000, 30000, 0, 70000, 1, 65536, 0, 3}) {
    first.push_back(std::string(size, static_cast<char>('a' + first.size())));
  }
  std::vector<std::string> later;
  for (std::size_t size : {65535, 2, 0, 200000, 10}) {
    later.push_back(std::string(size, static_cast<char>('A' + later.size())));
  }
  const auto lines = [](const char* key, const std::vector<std::string>& vs) {
    std::string text;
    for (const std::string& v : vs) {
      text += std::string(key) + "=" + v + "\n";
    }
    return text;
  };
  const TempDir dir;
  const std::string path = (dir.path() / "long.cfg").string();
  writeFile(path, "[Application]\n" + lines("app.classpath", first) +
                      "[JavaOptions]\n" + lines("java-options", first) +
                      "[Application]\n" + lines("app.modulepath", later) +
                      lines("app.classpath", later));

  const CfgFile cfg = CfgFile::load(path);
  const CfgFile::Properties& app = cfg.getProperties(SectionName::Application);
  ASSERT_EQ(2u, app.size());
  EXPECT_TRUE(later == app.find(PropertyName::classpath)->second);
  EXPECT_TRUE(later == app.find(PropertyName::modulepath)->second);
  EXPECT_TRUE(first == cfg.getProperties(SectionName::JavaOptions)
                           .find(PropertyName::javaOptions)
                           ->second);
}

// Each line the launcher drops for a name it does not know, once, when
// asked; what is stored is the same either way.
TEST(CfgFileTest, LoadNamesWhatItDoesNotKnowWhenAsked) {
  const TempDir dir;
  const std::string path = (dir.path() / "typos.cfg").string();
  writeFile(path,
            "app.mainclass=a.B\n"
            "[Application]\n"
            "app.mainclas=a.B\n"
            "app.mainjar =x.jar\n"
            "app.mainclass=a.B\n"
            "[Aplication]\n"
            "app.mainclass=a.C\n"
            "[JavaOptions]\n"
            "java-options=-Xmx1g\n");
  const std::string file = " of \"" + path + "\" file ";

  for (const auto unknownNames :
       {CfgFile::DropUnknownNames, CfgFile::WarnAboutUnknownNames}) {
    RecordingLogAppender recorder;
    std::string loaded;
    {
      const DefaultAppenderScope recording(recorder);
      loaded = dump(CfgFile::load(path, unknownNames));
    }
    EXPECT_EQ(
        "[Application] app.mainclass=<a.B>\n"
        "[JavaOptions] java-options=<-Xmx1g>\n",
        loaded);
    std::vector<std::string> messages;
    for (const std::string& event : recorder.events) {
      messages.push_back(event.substr(0, event.find(' ')) +
                         event.substr(event.find(": ") + 1));
    }
    const std::vector<std::string> expected{
        "WARNING Line 1" + file + "ignored: it comes before the first section",
        "WARNING Unknown key \"app.mainclas\" in \"Application\" section at "
        "line 3" +
            file + "ignored",
        "WARNING Unknown key \"app.mainjar \" in \"Application\" section at "
        "line 4" +
            file + "ignored",
        "WARNING Unknown section \"Aplication\" at line 6" + file +
            "ignored with its lines",
    };
    EXPECT_EQ(unknownNames == CfgFile::DropUnknownNames
                  ? std::vector<std::string>()
                  : expected,
              messages);
  }
}

TEST(CfgFileTest, LoadFailsWithTheThreeMessages) {
  const TempDir dir;
  const std::string missing = (dir.path() / "missing.cfg").string();
  const std::string badHeader = (dir.path() / "bad.cfg").string();
  writeFile(badHeader, ";c\n\n[Application]\napp.mainjar=a\n\n;c\n[Java\n");
  const std::string directory = dir.path().string();
  const std::string fifo = (dir.path() / "fifo.cfg").string();
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));

  const struct {
    const char* label;
    std::string path;
    std::string expected;
  } cases[] = {
      {"missing file", missing,
       "Error opening \"" + missing + "\" file: No such file or directory"},
      {"header without \"]\" on line 7", badHeader,
       "Error parsing [" + badHeader + "] file at 7: Missing ']' character"},
      {"a directory", directory,
       "Failed to read \"" + directory +
           "\" file up to the end: " + "Is a directory"},
      // Opening it must not wait for a writer, nor reading a device go on
      // for ever.
      {"a FIFO without a writer", fifo,
       "Error opening \"" + fifo + "\" file: Not a regular file"},
      {"an endless device", "/dev/zero",
       "Error opening \"/dev/zero\" file: Not a regular file"},
  };
  for (const auto& c : cases) {
    const std::set<int> before = openDescriptors();
    EXPECT_EQ(c.expected, raisedMessage([&] { CfgFile::load(c.path); }))
        << c.label;
    EXPECT_EQ(before, openDescriptors()) << c.label;
  }
}

TEST(CfgFileTest, LookupAndReplacement) {
  CfgFile cfg;
  EXPECT_TRUE(cfg.getProperties(SectionName::Application).empty());

  // The same text at another address names the same section.
  const char argOptions[] = "ArgOptions";
  cfg.setPropertyValue(SectionId(argOptions), PropertyName::arguments,
                       {"a", "b"})
      .setPropertyValue(SectionName::ArgOptions, PropertyName::version, {"1"})
      .setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                        {"c"});
  EXPECT_EQ("[ArgOptions] app.version=<1> arguments=<c>\n", dump(cfg));
}

TEST(CfgFileTest, AsStringAndAsPathList) {
  const struct {
    std::vector<std::string> values;
    std::string asString;
    std::string asPathList;
  } cases[] = {
      {{"x", "y"}, "y", "x:y"},
      {{""}, "", ""},
      {{"a"}, "a", "a"},
      {{"a", ""}, "", "a:"},
      {{"a:b", "c"}, "c", "a:b:c"},
  };
  for (const auto& c : cases) {
    const CfgFile::Properties::value_type entry(PropertyName::classpath,
                                                c.values);
    EXPECT_EQ(c.asString, CfgFile::asString(entry)) << c.asPathList;
    EXPECT_EQ(c.asPathList, CfgFile::asPathList(entry)) << c.asPathList;
  }
}

TEST(CfgFileTest, ExpandMacrosSettlesOrKeepsTheFirstPass) {
  const CfgFile::Macros dirs = {{"$APPDIR", "/A"}, {"$BINDIR", "/B"}};
  std::string hundredAppDirs;
  for (int i = 0; i < 100; ++i) {
    hundredAppDirs += "$APPDIR";
  }
  const struct {
    const char* label;
    CfgFile::Macros macros;
    std::string value;
    std::string expected;
    bool warns;
  } cases[] = {
      {"plain", dirs, "$APPDIR/lib:$BINDIR", "/A/lib:/B", false},
      {"inside words", dirs, "$$APPDIR$APPDIRX", "$/A/AX", false},
      {"case-sensitive", dirs, "$appdir", "$appdir", false},
      {"later macro in a replacement: same pass",
       {{"$APPDIR", "$ROOTDIR/app"}, {"$ROOTDIR", "/R"}},
       "$APPDIR",
       "/R/app",
       false},
      {"earlier macro in a replacement: next pass",
       {{"$APPDIR", "/A"}, {"$BINDIR", "$APPDIR/bin"}},
       "$BINDIR",
       "/A/bin",
       false},
      {"three levels",
       {{"$A", "/a"}, {"$B", "$A/b"}, {"$C", "$B/c"}},
       "$C",
       "/a/b/c",
       false},
      {"empty macro text", {{"", "x"}}, "ab", "ab", false},
      {"macro mapped to its own text",
       {{"$APPDIR", "$APPDIR"}},
       "$APPDIR/x",
       "$APPDIR/x",
       false},
      {"replacements swap back within one pass",
       {{"$APPDIR", "$BINDIR"}, {"$BINDIR", "$APPDIR"}},
       "$APPDIR",
       "$APPDIR",
       false},
      {"no macros", {}, "$APPDIR", "$APPDIR", false},
      {"bundle under a folder named $APPDIR",
       {{"$APPDIR", "/x/$APPDIR/app"}, {"$BINDIR", "/x/$APPDIR/bin"}},
       "$BINDIR:$APPDIR/lib",
       "/x/$APPDIR/bin:/x/$APPDIR/app/lib",
       true},
      {"replacements contain each other",
       {{"$APPDIR", "a$BINDIR"}, {"$BINDIR", "b$APPDIR"}},
       "$APPDIR",
       "ab$APPDIR",
       true},
      // Growing a hundredfold per pass, the last pass would need more than a
      // gigabyte and many seconds.
      {"growth is cut short",
       {{"$APPDIR", hundredAppDirs}, {"$BINDIR", "b"}, {"$ROOTDIR", "r"}},
       "$APPDIR",
       hundredAppDirs,
       true},
  };
  for (const auto& c : cases) {
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::classpath,
                         {c.value});
    RecordingLogAppender recorder;
    CfgFile expanded;
    CfgFile temporaryExpanded;
    {
      const DefaultAppenderScope recording(recorder);
      expanded = cfg.expandMacros(c.macros);
      // A temporary is expanded in place: same result, same warning.
      temporaryExpanded = CfgFile(cfg).expandMacros(c.macros);
    }
    const std::string expected =
        "[Application] app.classpath=<" + c.expected + ">\n";
    EXPECT_EQ(expected, dump(expanded)) << c.label;
    EXPECT_EQ(expected, dump(temporaryExpanded)) << c.label;
    EXPECT_EQ("[Application] app.classpath=<" + c.value + ">\n", dump(cfg))
        << c.label;
    ASSERT_EQ(c.warns ? 2u : 0u, recorder.events.size()) << c.label;
    for (const std::string& event : recorder.events) {
      EXPECT_EQ(0u, event.rfind("WARNING CfgFile.cpp:", 0)) << event;
      EXPECT_NE(std::string::npos, event.find("\"" + c.value + "\""))
          << c.label << ": " << event;
    }
  }
}

TEST(CfgFileTest, ExpandMacrosCoversEverySectionButNoNames) {
  CfgFile cfg;
  for (const SectionId& section : dumpedSections) {
    cfg.setPropertyValue(section, PropertyName::javaOptions, {"$APPDIR", "-x"})
        .setPropertyValue(section, PropertyId("$APPDIR"), {"$APPDIR/a"});
  }
  const std::string before = dump(cfg);
  std::string expected;
  for (const SectionId& section : dumpedSections) {
    expected += std::string("[") + section.name() +
                "] $APPDIR=</A/a> java-options=</A>|<-x>\n";
  }
  EXPECT_EQ(expected, dump(cfg.expandMacros({{"$APPDIR", "/A"}})));
  EXPECT_EQ(before, dump(cfg));
}

TEST(CfgFileTest, ManyOccurrencesExpandInLinearTime) {
  std::string value;
  for (int i = 0; i < 100000; ++i) {
    value += "$APPDIR:";
  }
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::classpath,
                       {value});
  // Replacing in place would move the tail once per occurrence: gigabytes
  // of copying here, which the test run's time limit stops. The speed
  // itself is measured by the benchmarks.
  cfg = cfg.expandMacros({{"$APPDIR", "/Applications/X"}});
  EXPECT_EQ(
      100000u * 16,
      CfgFile::asString(*cfg.getProperties(SectionName::Application).begin())
          .size());
}

}  // namespace
