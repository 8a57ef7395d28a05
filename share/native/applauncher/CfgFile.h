#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

// The launcher configuration file in memory: sections of properties, each
// property a list of values in file order.
class CfgFile {
 public:
  struct SectionNameTag {};
  struct PropertyNameTag {};

  // A name of the file's fixed vocabulary. Identity is by name (byte-wise),
  // not by address; the text must outlive the identifier (all identifiers in
  // the launcher point to string literals).
  template <class Tag>
  class Id {
   public:
    constexpr explicit Id(const char* idName) : id(idName) {}

    bool operator==(const Id& other) const {
      return std::strcmp(id, other.id) == 0;
    }
    bool operator!=(const Id& other) const { return !(*this == other); }
    // strcmp orders as unsigned bytes, a proper prefix first.
    bool operator<(const Id& other) const {
      return std::strcmp(id, other.id) < 0;
    }

    constexpr const char* name() const { return id; }

   private:
    const char* id;
  };

  typedef std::map<Id<PropertyNameTag>, std::vector<std::string> > Properties;
  typedef std::map<Id<SectionNameTag>, Properties> PropertyMap;
  typedef std::map<std::string, std::string> Macros;

  CfgFile() = default;
  CfgFile(const CfgFile&) = default;
  CfgFile& operator=(const CfgFile&) = default;
  CfgFile(CfgFile&&) = default;
  CfgFile& operator=(CfgFile&&) = default;

  // What load() does with a line of a section, or with a key, that the
  // launcher does not know (a typo such as "app.mainclas"), and with a line
  // before the first section: drops it, or also names it in a WARNING.
  enum UnknownNames { DropUnknownNames, WarnAboutUnknownNames };

  // Reads a configuration file; raises on a file that cannot be opened or
  // read to its end and on a section header without "]".
  static CfgFile load(const std::string& path,
                      UnknownNames unknownNames = DropUnknownNames);

  // A copy with every macro text replaced in every value. A temporary (the
  // result of load(), say) is expanded in place instead of copied.
  CfgFile expandMacros(const Macros& macros) const&;
  CfgFile expandMacros(const Macros& macros) &&;

  // The section's properties, or an empty map for an absent section.
  const Properties& getProperties(const Id<SectionNameTag>& sectionName) const;

  // The values of property `name` of the section; none when either is
  // absent.
  std::vector<std::string> getValues(const Id<SectionNameTag>& sectionName,
                                     const Id<PropertyNameTag>& name) const;

  // Whether some value of some property holds `text`.
  bool anyValueContains(const std::string& text) const;

  // Every section present, for a reader that must look at all of them.
  const PropertyMap& getSections() const { return data; }

  // Replaces the property's whole value list, creating section and property
  // as needed.
  CfgFile& setPropertyValue(const Id<SectionNameTag>& sectionName,
                            const Id<PropertyNameTag>& name,
                            const std::vector<std::string>& value);

  // The last value of the property. REQUIRES: the list is not empty.
  static std::string asString(const Properties::value_type& property);

  // All values joined with FileUtils::pathSeparator.
  static std::string asPathList(const Properties::value_type& property);

 private:
  void expandInPlace(const Macros& macros);

  PropertyMap data;
  Properties empty;

  friend class CfgFileParser;
};

namespace SectionName {
extern const CfgFile::Id<CfgFile::SectionNameTag> Application;
extern const CfgFile::Id<CfgFile::SectionNameTag> JavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> AppCDSJavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag>
    AppCDSGenerateCacheJavaOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> ArgOptions;
}  // namespace SectionName

namespace PropertyName {
extern const CfgFile::Id<CfgFile::PropertyNameTag> version;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainjar;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainmodule;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainclass;
extern const CfgFile::Id<CfgFile::PropertyNameTag> classpath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> modulepath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> runtime;
extern const CfgFile::Id<CfgFile::PropertyNameTag> splash;
extern const CfgFile::Id<CfgFile::PropertyNameTag> memory;
extern const CfgFile::Id<CfgFile::PropertyNameTag> arguments;
extern const CfgFile::Id<CfgFile::PropertyNameTag> javaOptions;
extern const CfgFile::Id<CfgFile::PropertyNameTag> cds;
extern const CfgFile::Id<CfgFile::PropertyNameTag> userOptions;
}  // namespace PropertyName
