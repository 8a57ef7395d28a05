#include "BundleOptions.h"

const char* const kBundleToolVersion = WRAPKIN_VERSION;

const char* const kBundleUsage = R"(Usage: wrapkin-bundle --name NAME [options]
       wrapkin-bundle --version      prints this tool's version

Assembles OUT/NAME.app (and OUT/NAME.dmg, --dmg) and prints their paths:
  Contents/MacOS/NAME              a copy of the launcher executable
  Contents/app/NAME.cfg            the launcher configuration
  Contents/app/...                 copies of the jars, folders and files
  Contents/runtime/Contents/Home   the Java runtime
  Contents/Resources/ICON.icns     the icon (--icon)
  Contents/Info.plist              the bundle description
It builds the bundle in a hidden folder beside it and puts it in place only
when it is complete, replacing an earlier one. On failure it prints one line
on standard error (after the issues of a notarization that failed), exits
with 1 and leaves OUT as it was; interrupted by SIGINT, SIGTERM or SIGHUP, it
leaves OUT as it was and ends by that signal. Killed outright, it leaves the
hidden folder, which the next run of NAME removes; the programs it runs end
with it.

Bundle:
  --name NAME            bundle and launcher name; not empty, no "/", "\"
                         or ":", none of the launcher's macros (below)
  --launcher EXE         launcher executable to copy (default: the one
                         installed with this tool, in ../libexec/wrapkin
                         from its folder, or else beside it)
  -o, --out DIR          folder that receives NAME.app (default: .)
  --identifier ID        CFBundleIdentifier: ASCII letters, digits, "-" and
                         "." (default: "wrapkin." and NAME, with any other
                         character made "-")
  --bundle-version V     CFBundleShortVersionString, CFBundleVersion and
                         app.version
  --icon FILE.icns       copied into Contents/Resources, named by
                         CFBundleIconFile

Documents and links from the Finder (Info.plist):
  --document-type EXTENSIONS:DESCRIPTION[:ICON.icns]
                         files the application opens (repeatable), their
                         extensions without the dot, separated by ",":
                         CFBundleDocumentTypes, with the content type that
                         macOS declares for a known extension (txt, pdf,
                         png, ...), else one of the bundle's own,
                         ID.<extension>, exported for the type's others
                         (UTExportedTypeDeclarations). The icon is copied
                         into Contents/Resources.
  --url-scheme SCHEME    links SCHEME:... that the application opens
                         (repeatable): CFBundleURLTypes. A letter, then
                         letters, digits, "+", "-" and "."
  --plist-string KEY=VALUE
                         one more string of Info.plist (repeatable), such
                         as NSHumanReadableCopyright, a privacy usage
                         description, or LSApplicationCategoryType
                         (public.app-category.WORD); not a key that other
                         options set
  The application receives the files and links through java.awt.Desktop
  (see docs/BUNDLE-TOOL.md).

Runtime:
  --java-home DIR        Java runtime to bundle (default: the runtime of the
                         `java` on the PATH). By default the bundle gets a
                         copy of it: links that lead inside DIR stay links,
                         links that lead out of it are copied as what they
                         point to, and links that lead nowhere are left out.
  --jlink [MODULE,...]   instead, a runtime made by DIR's jlink with
                         --strip-debug --no-header-files --no-man-pages, from
                         DIR's jmods or from DIR itself when its jlink can
                         link from its own run-time image. Without MODULEs:
                         the modules that DIR's `jdeps --print-module-deps`
                         finds the application's jars and folders need;
                         where it stops at what it cannot find, the tool
                         asks again with --ignore-missing-deps and says so.
  --link-runtime         instead, links to DIR's entries: quick, for tests,
                         and the bundle breaks when DIR goes
  On Linux the runtime gets lib/libjli.dylib, a link to lib/libjli.so: the
  launcher looks for the macOS name.

Application (each a line of the configuration):
  --main-jar JAR         app.mainjar: the runtime starts the Main-Class of
                         JAR's manifest. With --class-path or --main-class,
                         JAR goes first on app.classpath instead, and
                         app.mainclass is CLASS or that Main-Class.
  --class-path ENTRY     app.classpath (repeatable)
  --main-class CLASS     app.mainclass
  --module-path ENTRY    app.modulepath (repeatable)
  --main-module MODULE   app.mainmodule (MODULE or MODULE/CLASS)
  --app-runtime DIR      app.runtime
  --splash FILE          app.splash, the image shown while the JVM starts
  --user-options         app.user-options=$CONFIGDIR/NAME.cfg: a file in
                         which a user can add JVM options
  --cds                  class-data sharing for a faster start, on runtimes
                         from 13 on: app.cds=$CACHEDIR/NAME.jsa and the
                         options of AppCDSJavaOptions and
                         AppCDSGenerateCacheJavaOptions for the runtime's
                         version (see docs/CLASS-DATA.md)
  --java-option OPTION   one java-options line (repeatable)
  --argument ARG         one arguments line, a default argument (repeatable)
  --app-file PATH        copy PATH into Contents/app without naming it
                         in the configuration (repeatable)

  The entry point is a main jar, a main class or a main module; a main
  module goes alone.
  A JAR, ENTRY or FILE is copied into Contents/app, following links, and
  written as "$APPDIR/<its name>". A value that starts with a macro of the
  launcher ($APPDIR, $BINDIR, $ROOTDIR, $CONFIGDIR, $CACHEDIR) is written
  as given, so "$APPDIR/lib/x.jar" or "$ROOTDIR/..." pass through; any
  other value must name a file or folder. Its name holds no ":", which Java
  takes for a path separator, and no such macro, which the launcher would
  replace.
  Options take their value as the next argument or after "=".

Signing and shipping (codesign, hdiutil and xcrun of macOS, on the PATH):
  --entitlements         write NAME.entitlements beside the bundle, with what
                         a JVM needs under the hardened runtime: JIT,
                         unsigned executable memory, and library validation
                         off for JNI libraries
  --sign IDENTITY        sign with codesign --force --timestamp --options
                         runtime and those entitlements, inside out: every
                         Mach-O entry of the jars and zip files in the
                         bundle and of the archives in them, written back
                         into them, every Mach-O file (both found by their
                         first bytes whatever their names), then the
                         launcher, then the bundle (implies --entitlements)
  --dmg                  then make OUT/NAME.dmg with hdiutil: a compressed
                         disk image that holds NAME.app and a link to
                         /Applications, signed with --sign
  --notarize PROFILE     then have Apple's notary service check the disk
                         image (xcrun notarytool submit --wait, with the
                         credentials that notarytool store-credentials saved
                         as PROFILE) and staple its ticket to the image and
                         the bundle; needs --sign and --dmg

Broken bundles, for tests:
  --cfg FILE             use FILE ("-" for stdin) as the configuration,
                         instead of the application options above
  --omit PART            leave out a part (repeatable): launcher, cfg,
                         runtime, or jli (the runtime without its libjli)
)";
