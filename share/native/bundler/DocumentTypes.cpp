#include "DocumentTypes.h"

#include <algorithm>

#include "Ascii.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "InfoPlist.h"
#include "Plist.h"

namespace {

// Extensions whose content types macOS declares itself, from macOS 11 on:
// the common document, source code, image, audio, video, archive and font
// formats. A document type must name these types, not types of its own:
// Launch Services identifies a file by the system's declaration first, and
// an application that names another type is not offered for the file. No
// application owns them.
const struct {
  const char* extension;
  const char* contentType;
} kSystemTypes[] = {
    // Text and documents.
    {"txt", "public.plain-text"},
    {"text", "public.plain-text"},
    {"rtf", "public.rtf"},
    {"rtfd", "com.apple.rtfd"},
    {"html", "public.html"},
    {"htm", "public.html"},
    {"xml", "public.xml"},
    {"json", "public.json"},
    {"yaml", "public.yaml"},
    {"yml", "public.yaml"},
    {"csv", "public.comma-separated-values-text"},
    {"tsv", "public.tab-separated-values-text"},
    {"vcf", "public.vcard"},
    {"vcard", "public.vcard"},
    {"log", "com.apple.log"},
    {"plist", "com.apple.property-list"},
    {"pdf", "com.adobe.pdf"},
    {"ps", "com.adobe.postscript"},
    {"eps", "com.adobe.encapsulated-postscript"},
    {"epub", "org.idpf.epub-container"},
    {"webarchive", "com.apple.webarchive"},
    {"doc", "com.microsoft.word.doc"},
    {"docx", "org.openxmlformats.wordprocessingml.document"},
    {"xls", "com.microsoft.excel.xls"},
    {"xlsx", "org.openxmlformats.spreadsheetml.sheet"},
    {"ppt", "com.microsoft.powerpoint.ppt"},
    {"pptx", "org.openxmlformats.presentationml.presentation"},
    {"odt", "org.oasis-open.opendocument.text"},
    {"ods", "org.oasis-open.opendocument.spreadsheet"},
    {"odp", "org.oasis-open.opendocument.presentation"},
    // Source code and scripts.
    {"java", "com.sun.java-source"},
    {"class", "com.sun.java-class"},
    {"jar", "com.sun.java-archive"},
    {"jnlp", "com.sun.java-web-start"},
    {"c", "public.c-source"},
    {"h", "public.c-header"},
    {"cc", "public.c-plus-plus-source"},
    {"cp", "public.c-plus-plus-source"},
    {"cpp", "public.c-plus-plus-source"},
    {"cxx", "public.c-plus-plus-source"},
    {"c++", "public.c-plus-plus-source"},
    {"hh", "public.c-plus-plus-header"},
    {"hp", "public.c-plus-plus-header"},
    {"hpp", "public.c-plus-plus-header"},
    {"hxx", "public.c-plus-plus-header"},
    {"h++", "public.c-plus-plus-header"},
    {"m", "public.objective-c-source"},
    {"mm", "public.objective-c-plus-plus-source"},
    {"swift", "public.swift-source"},
    {"s", "public.assembly-source"},
    {"js", "com.netscape.javascript-source"},
    {"sh", "public.shell-script"},
    {"py", "public.python-script"},
    {"rb", "public.ruby-script"},
    {"pl", "public.perl-script"},
    {"pm", "public.perl-script"},
    {"php", "public.php-script"},
    {"applescript", "com.apple.applescript.text"},
    {"scpt", "com.apple.applescript.script"},
    // Images.
    {"png", "public.png"},
    {"jpg", "public.jpeg"},
    {"jpeg", "public.jpeg"},
    {"jpe", "public.jpeg"},
    {"gif", "com.compuserve.gif"},
    {"tif", "public.tiff"},
    {"tiff", "public.tiff"},
    {"bmp", "com.microsoft.bmp"},
    {"ico", "com.microsoft.ico"},
    {"icns", "com.apple.icns"},
    {"heic", "public.heic"},
    {"heif", "public.heif"},
    {"webp", "org.webmproject.webp"},
    {"svg", "public.svg-image"},
    {"psd", "com.adobe.photoshop-image"},
    {"ai", "com.adobe.illustrator.ai-image"},
    {"tga", "com.truevision.tga-image"},
    {"exr", "com.ilm.openexr-image"},
    {"jp2", "public.jpeg-2000"},
    {"pict", "com.apple.pict"},
    {"pct", "com.apple.pict"},
    {"xbm", "public.xbitmap-image"},
    {"sgi", "com.sgi.sgi-image"},
    {"dng", "com.adobe.raw-image"},
    // Audio.
    {"mp3", "public.mp3"},
    {"wav", "com.microsoft.waveform-audio"},
    {"wave", "com.microsoft.waveform-audio"},
    {"aif", "public.aiff-audio"},
    {"aiff", "public.aiff-audio"},
    {"aifc", "public.aifc-audio"},
    {"m4a", "com.apple.m4a-audio"},
    {"aac", "public.aac-audio"},
    {"mid", "public.midi-audio"},
    {"midi", "public.midi-audio"},
    {"au", "public.ulaw-audio"},
    {"snd", "public.ulaw-audio"},
    {"caf", "com.apple.coreaudio-format"},
    {"flac", "org.xiph.flac"},
    {"ac3", "public.ac3-audio"},
    // Video: .ts is an MPEG-2 transport stream to macOS, not TypeScript.
    {"mp4", "public.mpeg-4"},
    {"m4v", "com.apple.m4v-video"},
    {"mov", "com.apple.quicktime-movie"},
    {"qt", "com.apple.quicktime-movie"},
    {"avi", "public.avi"},
    {"mpg", "public.mpeg"},
    {"mpeg", "public.mpeg"},
    {"m2v", "public.mpeg-2-video"},
    {"ts", "public.mpeg-2-transport-stream"},
    {"mts", "public.mpeg-2-transport-stream"},
    {"m2ts", "public.mpeg-2-transport-stream"},
    {"3gp", "public.3gpp"},
    {"3g2", "public.3gpp2"},
    {"dv", "public.dv-movie"},
    // Archives and disk images.
    {"zip", "public.zip-archive"},
    {"gz", "org.gnu.gnu-zip-archive"},
    {"gzip", "org.gnu.gnu-zip-archive"},
    {"tgz", "org.gnu.gnu-zip-tar-archive"},
    {"tar", "public.tar-archive"},
    {"bz2", "public.bzip2-archive"},
    {"cpio", "public.cpio-archive"},
    {"dmg", "com.apple.disk-image-udif"},
    {"iso", "public.iso-image"},
    // Fonts.
    {"ttf", "public.truetype-ttf-font"},
    {"otf", "public.opentype-font"},
    {"ttc", "public.truetype-collection-font"},
};

// Text formats that macOS does not declare: a type the bundle declares for
// them conforms to text, so that Quick Look and text tools take the files.
const struct {
  const char* extension;
  const char* conformsTo;
} kTextFormats[] = {
    {"md", "public.plain-text"},         {"markdown", "public.plain-text"},
    {"properties", "public.plain-text"}, {"toml", "public.plain-text"},
    {"ini", "public.plain-text"},        {"conf", "public.plain-text"},
    {"cfg", "public.plain-text"},        {"tex", "public.plain-text"},
    {"kt", "public.source-code"},        {"kts", "public.source-code"},
    {"scala", "public.source-code"},     {"groovy", "public.source-code"},
    {"gradle", "public.source-code"},    {"go", "public.source-code"},
    {"rs", "public.source-code"},        {"lua", "public.source-code"},
    {"dart", "public.source-code"},      {"sql", "public.source-code"},
};

// The content type macOS declares for `extension`, or nullptr.
const char* systemType(const std::string& extension) {
  const std::string lower = asciiLowerCase(extension);
  for (const auto& type : kSystemTypes) {
    if (lower == type.extension) {
      return type.contentType;
    }
  }
  return nullptr;
}

// The extensions of `type` whose content type the bundle declares.
std::vector<std::string> declaredExtensions(const DocumentType& type) {
  std::vector<std::string> declared;
  for (const std::string& extension : type.extensions) {
    if (systemType(extension) == nullptr) {
      declared.push_back(extension);
    }
  }
  return declared;
}

// The last part of the content type the bundle declares for `declared`,
// its extensions: the first, made fit for an identifier.
std::string declaredTypeName(const std::vector<std::string>& declared) {
  return identifierPart(asciiLowerCase(declared.at(0)));
}

// What a type that the bundle declares for `declared` conforms to: text
// when all of them are text formats, source code when all are that, else
// data that a user makes, as a document of the application's.
std::vector<std::string> conformance(const std::vector<std::string>& declared) {
  std::string text;
  for (const std::string& extension : declared) {
    const char* conformsTo = nullptr;
    for (const auto& format : kTextFormats) {
      if (asciiLowerCase(extension) == format.extension) {
        conformsTo = format.conformsTo;
      }
    }
    if (conformsTo == nullptr) {
      return {"public.data", "public.content"};
    }
    text =
        text.empty() || text == conformsTo ? conformsTo : "public.plain-text";
  }
  return {text};
}

const char* optionName(const DocumentType& type) {
  return type.owned ? "--own-document-type" : "--document-type";
}

std::string asOption(const DocumentType& type) {
  std::string extensions;
  for (const std::string& extension : type.extensions) {
    extensions += (extensions.empty() ? "" : ",") + extension;
  }
  return std::string(optionName(type)) + " " +
         inQuotes(extensions + ":" + type.description);
}

}  // namespace

DocumentType parseDocumentType(const std::string& value, bool owned) {
  const std::string::size_type colon = value.find(':');
  DocumentType type;
  type.owned = owned;
  const std::string option = std::string(optionName(type)) + " " +
                             inQuotes(value) +
                             " is not EXTENSIONS:DESCRIPTION[:ICON.icns]: ";
  type.description =
      colon == std::string::npos ? std::string() : value.substr(colon + 1);
  const std::string::size_type iconColon = type.description.rfind(':');
  if (iconColon != std::string::npos) {
    const std::string icon = type.description.substr(iconColon + 1);
    if (icon.size() > 5 && icon.compare(icon.size() - 5, 5, ".icns") == 0) {
      type.icon = icon;
      type.description.resize(iconColon);
    }
  }
  const std::string extensions = value.substr(0, colon);
  for (std::string::size_type start = 0;;) {
    const std::string::size_type comma = extensions.find(',', start);
    type.extensions.push_back(extensions.substr(start, comma - start));
    if (type.extensions.back().empty()) {
      throw BundleError(option + "an extension is empty");
    }
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  if (type.description.empty()) {
    throw BundleError(option + "the description is missing");
  }
  return type;
}

void checkDocumentTypes(const std::vector<DocumentType>& types) {
  for (auto type = types.begin(); type != types.end(); ++type) {
    checkInfoPlistText("document type description", type->description);
    checkInfoPlistText("icon file name", iconFileName(type->icon));
    for (const std::string& extension : type->extensions) {
      checkInfoPlistText("extension", extension);
      if (extension.find_first_of("./ \t") != std::string::npos) {
        throw BundleError("the extension " + inQuotes(extension) + " of " +
                          asOption(*type) +
                          " is not the last part of a file name: give it "
                          "without a dot or a blank");
      }
      const char* system = systemType(extension);
      if (type->owned && system != nullptr) {
        throw BundleError("the extension " + inQuotes(extension) + " of " +
                          asOption(*type) +
                          " has a type that macOS declares, " + system +
                          ", which no application owns: give it as "
                          "--document-type");
      }
    }
    const std::vector<std::string> declared = declaredExtensions(*type);
    for (auto earlier = types.begin(); earlier != type; ++earlier) {
      for (const std::string& extension : type->extensions) {
        for (const std::string& other : earlier->extensions) {
          if (asciiLowerCase(extension) == asciiLowerCase(other)) {
            throw BundleError("the extension " + inQuotes(extension) +
                              " is in both " + asOption(*earlier) + " and " +
                              asOption(*type));
          }
        }
      }
      const std::vector<std::string> earlierDeclared =
          declaredExtensions(*earlier);
      if (!declared.empty() && !earlierDeclared.empty() &&
          declaredTypeName(declared) == declaredTypeName(earlierDeclared)) {
        throw BundleError(asOption(*earlier) + " and " + asOption(*type) +
                          " would declare one content type: put another "
                          "extension first in one of them");
      }
    }
  }
}

void addDocumentTypes(PlistDict& plist, const std::vector<DocumentType>& types,
                      const std::string& identifier) {
  if (types.empty()) {
    return;
  }
  std::vector<PlistDict> documents;
  std::vector<PlistDict> exported;
  std::vector<PlistDict> imported;
  for (const DocumentType& type : types) {
    const std::vector<std::string> declared = declaredExtensions(type);
    const std::string declaredType =
        declared.empty() ? std::string()
                         : identifier + "." + declaredTypeName(declared);
    std::vector<std::string> contentTypes;
    for (const std::string& extension : type.extensions) {
      const char* system = systemType(extension);
      const std::string contentType = system != nullptr ? system : declaredType;
      if (std::find(contentTypes.begin(), contentTypes.end(), contentType) ==
          contentTypes.end()) {
        contentTypes.push_back(contentType);
      }
    }
    // The owner is offered first; an application that also opens files of
    // the system's types does not take them over from the system's own.
    const char* rank = type.owned ? "Owner"
                       : declared.size() == type.extensions.size()
                           ? "Default"
                           : "Alternate";
    PlistDict document;
    document.string("CFBundleTypeName", type.description)
        .string("CFBundleTypeRole", "Editor")
        .string("LSHandlerRank", rank)
        .strings("LSItemContentTypes", contentTypes);
    if (!type.icon.empty()) {
      document.string("CFBundleTypeIconFile", iconFileName(type.icon));
    }
    documents.push_back(document);
    if (declared.empty()) {
      continue;
    }
    PlistDict declaration;
    declaration.string("UTTypeIdentifier", declaredType)
        .string("UTTypeDescription", type.description)
        .strings("UTTypeConformsTo", conformance(declared))
        .dict("UTTypeTagSpecification",
              PlistDict().strings("public.filename-extension", declared));
    if (!type.icon.empty()) {
      declaration.string("UTTypeIconFile", iconFileName(type.icon));
    }
    (type.owned ? exported : imported).push_back(declaration);
  }
  plist.dicts("CFBundleDocumentTypes", documents);
  if (!exported.empty()) {
    plist.dicts("UTExportedTypeDeclarations", exported);
  }
  if (!imported.empty()) {
    plist.dicts("UTImportedTypeDeclarations", imported);
  }
}
