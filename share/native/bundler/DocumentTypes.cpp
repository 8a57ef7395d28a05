#include "DocumentTypes.h"

#include <algorithm>

#include "Ascii.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "InfoPlist.h"
#include "Plist.h"

namespace {

// Extensions whose content types macOS declares itself (the constants of
// UTType from macOS 11 on). A document type must name these, not a type of
// its own, or the Finder would not offer the application for such files.
const struct {
  const char* extension;
  const char* contentType;
} kSystemTypes[] = {
    {"txt", "public.plain-text"},
    {"text", "public.plain-text"},
    {"html", "public.html"},
    {"htm", "public.html"},
    {"xml", "public.xml"},
    {"json", "public.json"},
    {"yaml", "public.yaml"},
    {"yml", "public.yaml"},
    {"csv", "public.comma-separated-values-text"},
    {"tsv", "public.tab-separated-values-text"},
    {"rtf", "public.rtf"},
    {"log", "com.apple.log"},
    {"vcf", "public.vcard"},
    {"pdf", "com.adobe.pdf"},
    {"epub", "org.idpf.epub-container"},
    {"png", "public.png"},
    {"jpg", "public.jpeg"},
    {"jpeg", "public.jpeg"},
    {"gif", "com.compuserve.gif"},
    {"tif", "public.tiff"},
    {"tiff", "public.tiff"},
    {"bmp", "com.microsoft.bmp"},
    {"ico", "com.microsoft.ico"},
    {"icns", "com.apple.icns"},
    {"heic", "public.heic"},
    {"webp", "org.webmproject.webp"},
    {"svg", "public.svg-image"},
    {"mp3", "public.mp3"},
    {"wav", "com.microsoft.waveform-audio"},
    {"mp4", "public.mpeg-4"},
    {"mov", "com.apple.quicktime-movie"},
    {"zip", "public.zip-archive"},
    {"gz", "org.gnu.gnu-zip-archive"},
    {"js", "com.netscape.javascript-source"},
    {"sh", "public.shell-script"},
    {"py", "public.python-script"},
    {"c", "public.c-source"},
    {"h", "public.c-header"},
    {"cpp", "public.c-plus-plus-source"},
    {"swift", "public.swift-source"},
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
std::vector<std::string> ownExtensions(const DocumentType& type) {
  std::vector<std::string> own;
  for (const std::string& extension : type.extensions) {
    if (systemType(extension) == nullptr) {
      own.push_back(extension);
    }
  }
  return own;
}

// The last part of the content type the bundle declares for `own`, its
// extensions: the first, made fit for an identifier.
std::string ownTypeName(const std::vector<std::string>& own) {
  return identifierPart(asciiLowerCase(own.at(0)));
}

std::string asOption(const DocumentType& type) {
  std::string extensions;
  for (const std::string& extension : type.extensions) {
    extensions += (extensions.empty() ? "" : ",") + extension;
  }
  return "--document-type " + inQuotes(extensions + ":" + type.description);
}

}  // namespace

DocumentType parseDocumentType(const std::string& value) {
  const std::string::size_type colon = value.find(':');
  DocumentType type;
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
      throw BundleError("--document-type " + inQuotes(value) +
                        " is not EXTENSIONS:DESCRIPTION[:ICON.icns]: an "
                        "extension is empty");
    }
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  if (type.description.empty()) {
    throw BundleError("--document-type " + inQuotes(value) +
                      " is not EXTENSIONS:DESCRIPTION[:ICON.icns]: the "
                      "description is missing");
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
    }
    const std::vector<std::string> own = ownExtensions(*type);
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
      const std::vector<std::string> earlierOwn = ownExtensions(*earlier);
      if (!own.empty() && !earlierOwn.empty() &&
          ownTypeName(own) == ownTypeName(earlierOwn)) {
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
  std::vector<PlistDict> declarations;
  for (const DocumentType& type : types) {
    const std::vector<std::string> own = ownExtensions(type);
    const std::string ownType =
        own.empty() ? std::string() : identifier + "." + ownTypeName(own);
    std::vector<std::string> contentTypes;
    for (const std::string& extension : type.extensions) {
      const char* system = systemType(extension);
      const std::string contentType = system != nullptr ? system : ownType;
      if (std::find(contentTypes.begin(), contentTypes.end(), contentType) ==
          contentTypes.end()) {
        contentTypes.push_back(contentType);
      }
    }
    PlistDict document;
    document.string("CFBundleTypeName", type.description)
        .string("CFBundleTypeRole", "Editor")
        // The application owns a format only where it declares all of it.
        .string("LSHandlerRank",
                own.size() == type.extensions.size() ? "Owner" : "Alternate")
        .strings("LSItemContentTypes", contentTypes);
    if (!type.icon.empty()) {
      document.string("CFBundleTypeIconFile", iconFileName(type.icon));
    }
    documents.push_back(document);
    if (own.empty()) {
      continue;
    }
    PlistDict declaration;
    declaration.string("UTTypeIdentifier", ownType)
        .string("UTTypeDescription", type.description)
        .strings("UTTypeConformsTo", {"public.data", "public.content"})
        .dict("UTTypeTagSpecification",
              PlistDict().strings("public.filename-extension", own));
    if (!type.icon.empty()) {
      declaration.string("UTTypeIconFile", iconFileName(type.icon));
    }
    declarations.push_back(declaration);
  }
  plist.dicts("CFBundleDocumentTypes", documents);
  if (!declarations.empty()) {
    plist.dicts("UTExportedTypeDeclarations", declarations);
  }
}
