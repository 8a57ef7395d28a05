#pragma once

#include <string>
#include <vector>

class PlistDict;
struct DocumentType;

// Reads the value of --document-type, EXTENSIONS:DESCRIPTION[:ICON.icns]
// with the extensions separated by commas. The description may hold ":";
// what follows its last ":" is the icon when it ends in ".icns". Raises
// BundleError when an extension or the description is missing.
DocumentType parseDocumentType(const std::string& value);

// Raises BundleError for document types that Info.plist cannot declare as
// given: an extension with a "." or a blank, or one that two types name.
void checkDocumentTypes(const std::vector<DocumentType>& types);

// Adds CFBundleDocumentTypes for `types` to `plist`, with the content types
// of their extensions: the system's own where macOS declares the extension,
// else one that the bundle `identifier` declares for the type, exported
// (UTExportedTypeDeclarations), as the application's own format.
void addDocumentTypes(PlistDict& plist, const std::vector<DocumentType>& types,
                      const std::string& identifier);
