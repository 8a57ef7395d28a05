#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// One entry of a zip file, as its central directory describes it.
struct ZipArchiveEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localOffset = 0;    // of its local header in the file
  std::uint64_t centralOffset = 0;  // of its central directory record
  std::size_t centralSize = 0;      // of that record, name and fields with it

  // Whether its contents can be read: stored or deflated, and not
  // encrypted, as Java reads entries.
  bool readable() const;
};

// A zip file, such as a jar, read entry by entry through a small buffer,
// whatever its size, and copied with some entries' contents replaced.
// Methods raise BundleError with the reason, not naming the file.
class ZipArchive {
 public:
  // Reads the central directory of `path`. A prefix before the zip data,
  // such as the launch script of a jar that runs as a program, is kept.
  explicit ZipArchive(const std::filesystem::path& path);
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  ~ZipArchive();

  const std::vector<ZipArchiveEntry>& entries() const { return records; }

  // The first `count` bytes of a readable entry's contents, fewer when it
  // holds fewer.
  std::string head(const ZipArchiveEntry& entry, std::size_t count);

  // Writes a readable entry's contents to the new file `to`, checked
  // against the size and the CRC that the directory gives.
  void extract(const ZipArchiveEntry& entry, const std::filesystem::path& to);

  // Writes to `to` a copy of the archive in which the entries at the
  // indices (into entries()) of `replacements` hold the contents of the
  // files given, compressed by the entry's method again (by zlib) and
  // without a data descriptor. Every other byte stays as it is: the prefix,
  // the other entries with their headers, names, times, extra fields and
  // data descriptors, in their order, and the comments; only offsets follow
  // the new sizes. Refuses Zip64 archives, and archives whose entries
  // overlap.
  void writeReplacing(
      const std::map<std::size_t, std::filesystem::path>& replacements,
      const std::filesystem::path& to);

 private:
  struct Location;
  // What a replaced entry's record holds now.
  struct Written {
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t recordSize = 0;
  };
  Location locate(const ZipArchiveEntry& entry);
  Written writeRecord(const ZipArchiveEntry& entry,
                      const std::filesystem::path& file, std::ostream& out);
  std::uint64_t recordEnd(const ZipArchiveEntry& entry);
  void readAt(std::uint64_t offset, void* buffer, std::size_t count,
              const std::string& what);
  void copyRange(std::uint64_t from, std::uint64_t to, std::ostream& out);
  void findCentralDirectory();
  void readCentralDirectory();

  int fd;
  std::uint64_t fileSize = 0;
  std::uint64_t prefixSize = 0;  // bytes before the zip data's own offsets
  std::uint64_t centralStart = 0;
  std::uint64_t centralEnd = 0;
  std::uint64_t endRecord = 0;  // the end of central directory record
  bool zip64 = false;
  std::vector<ZipArchiveEntry> records;
};
