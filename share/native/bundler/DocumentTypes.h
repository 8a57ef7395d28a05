#pragma once

#include <string>
#include <vector>

class PlistDict;
struct DocumentType;

// Reads the value of --document-type, or of --own-document-type when
// `owned`: EXTENSIONS:DESCRIPTION[:ICON.icns] with the extensions separated
// by commas. The description may hold ":"; what follows its last ":" is the
// icon when it ends in ".icns". Raises BundleError when an extension or the
// description is missing.
DocumentType parseDocumentType(const std::string& value, bool owned);

// Raises BundleError for document types that Info.plist cannot declare as
// given: an extension with a "." or a blank, one that two types name, and
// one of the application's own formats whose type macOS declares.
void checkDocumentTypes(const std::vector<DocumentType>& types);

// Adds CFBundleDocumentTypes for `types` to `plist`, with the content types
// of their extensions: the system's own where macOS declares the extension,
// else one that the bundle `identifier` declares for the document type:
// exported (UTExportedTypeDeclarations) when it is the application's own
// format, else imported (UTImportedTypeDeclarations), a format of others
// that the application opens.
void addDocumentTypes(PlistDict& plist, const std::vector<DocumentType>& types,
                      const std::string& identifier);
