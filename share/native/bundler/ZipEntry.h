#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// One entry of a zip file, as its central directory describes it.
struct ZipEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localOffset = 0;
};

// A zip file read as Java reads one: through the central directory at its
// end, after any prefix such as the launch script of a jar that runs as a
// program. Every offset is checked against the file's size, so memory and
// time stay bounded whatever the file holds. Failures raise BundleError
// with the reason, not naming the file.
class ZipFile {
 public:
  // Raises BundleError when `path` cannot be opened or is no zip file.
  explicit ZipFile(const std::filesystem::path& path);

  // Calls `visit` with each entry, in the order of the central directory,
  // until it returns false. An entry is read after the visit, not during it.
  void forEachEntry(const std::function<bool(const ZipEntry&)>& visit);

 private:
  friend class ZipEntryReader;

  void seek(std::uint64_t offset);
  // Reads `count` bytes at the current position; `what` names them when
  // the file ends first.
  void read(void* buffer, std::size_t count, const std::string& what);
  void skip(std::size_t count);
  std::pair<std::uint64_t, std::uint64_t> centralDirectory();
  std::pair<std::uint64_t, std::uint64_t> range(const unsigned char* end,
                                                std::uint64_t offset);

  std::ifstream in;
  std::uint64_t size = 0;
  // The bytes before the zip file's own, which its offsets do not count.
  std::uint64_t prefixSize = 0;
  std::uint64_t directoryStart = 0;
  std::uint64_t directoryEnd = 0;
};

// Unpacks one entry of a ZipFile piece by piece. The ZipFile must outlive it
// and is not read otherwise meanwhile.
class ZipEntryReader {
 public:
  // Raises BundleError for an entry that is encrypted, compressed by a
  // method Java cannot unpack, or whose data lies outside the file.
  ZipEntryReader(ZipFile& file, const ZipEntry& entry);
  ~ZipEntryReader();
  ZipEntryReader(const ZipEntryReader&) = delete;
  ZipEntryReader& operator=(const ZipEntryReader&) = delete;

  // Up to `count` bytes of the entry into `buffer`; 0 only at its end.
  // Raises BundleError when the data is corrupt or cut short, or unpacks
  // to another size than the central directory gives, which Java refuses.
  std::size_t read(char* buffer, std::size_t count);

 private:
  std::size_t inflated(char* buffer, std::size_t count);
  void checkSize() const;

  ZipFile& zip;
  const std::string what;  // "its entry <name>", for messages
  const bool deflated;
  const std::uint64_t declaredSize;
  std::uint64_t unread;  // bytes of the entry's data not yet read
  std::uint64_t produced = 0;
  bool ended = false;
  z_stream stream{};
  std::vector<unsigned char> input;
};

// Whether `zip` has an entry for which `matches` holds. False for a file
// that is no zip file Java could read.
bool zipHasEntry(const std::filesystem::path& zip,
                 const std::function<bool(const std::string&)>& matches);
