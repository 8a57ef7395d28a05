#include "ZipEntry.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "Ascii.h"
#include "BundleError.h"

namespace fs = std::filesystem;

namespace {

// The records of a zip file, from its end: APPNOTE.TXT of PKWARE.
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

std::uint64_t littleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i > 0; --i) {
    value = (value << 8) | bytes[i - 1];
  }
  return value;
}

std::uint16_t u16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(littleEndian(bytes, 2));
}

std::uint32_t u32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(littleEndian(bytes, 4));
}

std::uint64_t u64(const unsigned char* bytes) {
  return littleEndian(bytes, 8);
}

// What the central directory says of an entry.
struct EntryRecord {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localOffset = 0;
};

// The central directory's record of an entry: `header` and its extra fields.
EntryRecord entryRecord(const unsigned char* header,
                        const std::vector<unsigned char>& extra) {
  EntryRecord record;
  record.flags = u16(header + 8);
  record.method = u16(header + 10);
  record.compressedSize = u32(header + 20);
  record.size = u32(header + 24);
  record.localOffset = u32(header + 42);
  // Sizes and offsets too large for 32 bits are in a Zip64 extra field,
  // each only when its 32-bit field is saturated, in this order.
  std::uint64_t* const large[] = {&record.size, &record.compressedSize,
                                  &record.localOffset};
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = u16(&extra[at]);
    const std::size_t length = u16(&extra[at + 2]);
    std::size_t field = at + 4;
    const std::size_t fieldsEnd = std::min(field + length, extra.size());
    if (id == kZip64ExtraId) {
      for (std::uint64_t* value : large) {
        if (*value == 0xFFFFFFFF && field + 8 <= fieldsEnd) {
          *value = u64(&extra[field]);
          field += 8;
        }
      }
    }
    at += 4 + length;
  }
  return record;
}

// Reads a zip file by offsets, checked against its size.
class ZipFile {
 public:
  explicit ZipFile(const fs::path& path)
      : in(path, std::ios::binary | std::ios::ate) {
    if (!in) {
      throw BundleError(std::string("cannot open it: ") + std::strerror(errno));
    }
    size = static_cast<std::uint64_t>(in.tellg());
  }

  void seek(std::uint64_t offset) {
    in.seekg(static_cast<std::streamoff>(offset));
  }

  // Reads `count` bytes at the current position.
  void read(void* buffer, std::size_t count, const std::string& what) {
    if (!in.read(static_cast<char*>(buffer),
                 static_cast<std::streamsize>(count))) {
      throw BundleError(what + " is cut short");
    }
  }

  void skip(std::size_t count) {
    in.ignore(static_cast<std::streamsize>(count));
  }

  // Where the central directory starts and ends in the file.
  std::pair<std::uint64_t, std::uint64_t> centralDirectory() {
    const std::size_t tailSize = static_cast<std::size_t>(
        std::min<std::uint64_t>(size, kEndSize + kMaxCommentSize));
    std::vector<unsigned char> tail(tailSize);
    seek(size - tailSize);
    read(tail.data(), tailSize, "the file");
    // The last end record whose comment fits in the file.
    for (std::size_t at = tailSize >= kEndSize ? tailSize - kEndSize + 1 : 0;
         at-- > 0;) {
      const unsigned char* end = tail.data() + at;
      if (u32(end) == kEndSignature &&
          at + kEndSize + u16(end + 20) <= tailSize) {
        return range(end, size - tailSize + at);
      }
    }
    throw BundleError("it is no zip file: it has no end of central directory");
  }

  // The first `maxSize` bytes of the entry `name` that `entry` describes.
  std::string unpack(const EntryRecord& entry, const std::string& name,
                     std::size_t maxSize, bool& truncated) {
    const std::string what = "its entry " + name;
    if ((entry.flags & kEncryptedFlag) != 0) {
      throw BundleError(what + " is encrypted");
    }
    unsigned char header[kLocalSize];
    // prefixSize <= size, and nothing here can wrap around.
    if (entry.localOffset > size - prefixSize ||
        size - prefixSize - entry.localOffset < kLocalSize) {
      throw BundleError(what + " lies beyond the end of the file");
    }
    const std::uint64_t local = entry.localOffset + prefixSize;
    seek(local);
    read(header, kLocalSize, what);
    if (u32(header) != kLocalSignature) {
      throw BundleError(what + " has a corrupt header");
    }
    const std::uint64_t data =
        local + kLocalSize + u16(header + 26) + u16(header + 28);
    if (data > size || entry.compressedSize > size - data) {
      throw BundleError(what + " lies beyond the end of the file");
    }
    seek(data);
    if (entry.method == kStored) {
      truncated = entry.compressedSize > maxSize;
      std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(
                            entry.compressedSize, maxSize)),
                        '\0');
      read(bytes.data(), bytes.size(), what);
      return bytes;
    }
    if (entry.method == kDeflated) {
      return inflated(entry.compressedSize, what, maxSize, truncated);
    }
    throw BundleError(what + " is compressed by method " +
                      std::to_string(entry.method) +
                      ", which Java cannot unpack");
  }

 private:
  // The central directory's range from the end record at `end`, found at
  // `offset` in the file, or from its Zip64 record when it has one. The
  // directory ends where that record starts: what comes before the offsets
  // the records name is a prefix, such as the launch script of a jar that
  // runs as a program, and Java reads such jars too.
  std::pair<std::uint64_t, std::uint64_t> range(const unsigned char* end,
                                                std::uint64_t offset) {
    std::uint64_t length = u32(end + 12);
    std::uint64_t start = u32(end + 16);
    if ((u16(end + 10) == 0xFFFF || length == 0xFFFFFFFF ||
         start == 0xFFFFFFFF) &&
        offset >= kZip64LocatorSize) {
      unsigned char locator[kZip64LocatorSize];
      seek(offset - kZip64LocatorSize);
      read(locator, sizeof locator, "the file");
      const std::uint64_t zip64End = u64(locator + 8);
      if (u32(locator) == kZip64LocatorSignature &&
          zip64End <= size - std::min<std::uint64_t>(size, kZip64EndSize)) {
        unsigned char record[kZip64EndSize];
        seek(zip64End);
        read(record, sizeof record, "the file");
        if (u32(record) != kZip64EndSignature) {
          throw BundleError("its Zip64 end of central directory is corrupt");
        }
        length = u64(record + 40);
        start = u64(record + 48);
        offset = zip64End;
      }
    }
    if (start > offset || length > offset - start) {
      throw BundleError("its central directory lies beyond the file's end");
    }
    prefixSize = offset - length - start;
    return {offset - length, offset};
  }

  std::string inflated(std::uint64_t compressedSize, const std::string& what,
                       std::size_t maxSize, bool& truncated) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      throw BundleError("zlib cannot start to unpack " + what);
    }
    struct Ender {
      z_stream& stream;
      ~Ender() { inflateEnd(&stream); }
    } ender{stream};
    // One byte more than wanted tells whether there is more.
    std::string bytes(maxSize + 1, '\0');
    stream.next_out = reinterpret_cast<Bytef*>(bytes.data());
    stream.avail_out = static_cast<uInt>(bytes.size());
    unsigned char input[64 * 1024];
    std::uint64_t unread = compressedSize;
    int rc = Z_OK;
    while (rc != Z_STREAM_END && stream.avail_out > 0) {
      if (stream.avail_in == 0) {
        if (unread == 0) {
          throw BundleError(what + " is cut short");
        }
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(unread, sizeof input));
        read(input, count, what);
        unread -= count;
        stream.next_in = input;
        stream.avail_in = static_cast<uInt>(count);
      }
      rc = inflate(&stream, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        throw BundleError(what + " is corrupt" +
                          (stream.msg != nullptr
                               ? std::string(": ") + stream.msg
                               : std::string()));
      }
    }
    const std::size_t produced = bytes.size() - stream.avail_out;
    truncated = produced > maxSize;
    bytes.resize(std::min(produced, maxSize));
    return bytes;
  }

  std::ifstream in;
  std::uint64_t size = 0;
  // The bytes before the zip file's own, which its offsets do not count.
  std::uint64_t prefixSize = 0;
};

}  // namespace

ZipEntryStart readZipEntry(const fs::path& zip, const std::string& name,
                           std::size_t maxSize) {
  ZipFile file(zip);
  const auto [start, end] = file.centralDirectory();
  std::optional<EntryRecord> exact;
  std::optional<EntryRecord> folded;
  file.seek(start);
  // Entry by entry, in the order of the file, so that a directory of any
  // size is read through a small buffer.
  for (std::uint64_t at = start; !exact && at < end;) {
    unsigned char header[kCentralSize];
    if (end - at < kCentralSize) {
      throw BundleError("its central directory is cut short");
    }
    file.read(header, kCentralSize, "its central directory");
    if (u32(header) != kCentralSignature) {
      throw BundleError("its central directory is corrupt");
    }
    const std::size_t nameSize = u16(header + 28);
    const std::size_t extraSize = u16(header + 30);
    const std::size_t commentSize = u16(header + 32);
    const std::uint64_t next =
        at + kCentralSize + nameSize + extraSize + commentSize;
    if (next > end) {
      throw BundleError("its central directory is cut short");
    }
    std::string entryName;
    if (nameSize == name.size()) {
      entryName.resize(nameSize);
      file.read(entryName.data(), nameSize, "its central directory");
    } else {
      file.skip(nameSize);
    }
    if (asciiLowerCase(entryName) == asciiLowerCase(name)) {
      std::vector<unsigned char> extra(extraSize);
      file.read(extra.data(), extraSize, "its central directory");
      file.skip(commentSize);
      const EntryRecord record = entryRecord(header, extra);
      if (entryName == name) {
        exact = record;
      } else if (!folded) {
        folded = record;
      }
    } else {
      file.skip(extraSize + commentSize);
    }
    at = next;
  }
  ZipEntryStart entry;
  const std::optional<EntryRecord>& record = exact ? exact : folded;
  if (record) {
    entry.found = true;
    entry.bytes = file.unpack(*record, name, maxSize, entry.truncated);
  }
  return entry;
}
