#include "ZipEntry.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <tuple>
#include <vector>

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

// The central directory's record of an entry: `header` and its extra fields.
void readSizes(ZipEntry& entry, const unsigned char* header,
               const std::vector<unsigned char>& extra) {
  entry.flags = u16(header + 8);
  entry.method = u16(header + 10);
  entry.compressedSize = u32(header + 20);
  entry.size = u32(header + 24);
  entry.localOffset = u32(header + 42);
  // Sizes and offsets too large for 32 bits are in a Zip64 extra field,
  // each only when its 32-bit field is saturated, in this order.
  std::uint64_t* const large[] = {&entry.size, &entry.compressedSize,
                                  &entry.localOffset};
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
}

}  // namespace

ZipFile::ZipFile(const fs::path& path)
    : in(path, std::ios::binary | std::ios::ate) {
  if (!in) {
    throw BundleError(std::string("cannot open it: ") + std::strerror(errno));
  }
  size = static_cast<std::uint64_t>(in.tellg());
  std::tie(directoryStart, directoryEnd) = centralDirectory();
}

void ZipFile::seek(std::uint64_t offset) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
}

void ZipFile::read(void* buffer, std::size_t count, const std::string& what) {
  if (!in.read(static_cast<char*>(buffer),
               static_cast<std::streamsize>(count))) {
    throw BundleError(what + " is cut short");
  }
}

void ZipFile::skip(std::size_t count) {
  in.ignore(static_cast<std::streamsize>(count));
}

// Where the central directory starts and ends in the file.
std::pair<std::uint64_t, std::uint64_t> ZipFile::centralDirectory() {
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

// The central directory's range from the end record at `end`, found at
// `offset` in the file, or from its Zip64 record when it has one. The
// directory ends where that record starts: what comes before the offsets
// the records name is a prefix, such as the launch script of a jar that
// runs as a program, and Java reads such jars too.
std::pair<std::uint64_t, std::uint64_t> ZipFile::range(const unsigned char* end,
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

void ZipFile::forEachEntry(const std::function<bool(const ZipEntry&)>& visit) {
  seek(directoryStart);
  // Entry by entry, so that a directory of any size is read through a
  // small buffer.
  for (std::uint64_t at = directoryStart; at < directoryEnd;) {
    unsigned char header[kCentralSize];
    if (directoryEnd - at < kCentralSize) {
      throw BundleError("its central directory is cut short");
    }
    read(header, kCentralSize, "its central directory");
    if (u32(header) != kCentralSignature) {
      throw BundleError("its central directory is corrupt");
    }
    const std::size_t nameSize = u16(header + 28);
    const std::size_t extraSize = u16(header + 30);
    const std::size_t commentSize = u16(header + 32);
    const std::uint64_t next =
        at + kCentralSize + nameSize + extraSize + commentSize;
    if (next > directoryEnd) {
      throw BundleError("its central directory is cut short");
    }
    ZipEntry entry;
    entry.name.resize(nameSize);
    read(entry.name.data(), nameSize, "its central directory");
    std::vector<unsigned char> extra(extraSize);
    read(extra.data(), extraSize, "its central directory");
    skip(commentSize);
    readSizes(entry, header, extra);
    if (!visit(entry)) {
      return;
    }
    at = next;
  }
}

ZipEntryReader::ZipEntryReader(ZipFile& file, const ZipEntry& entry)
    : zip(file),
      what("its entry " + entry.name),
      deflated(entry.method == kDeflated),
      declaredSize(entry.size),
      unread(entry.compressedSize) {
  if ((entry.flags & kEncryptedFlag) != 0) {
    throw BundleError(what + " is encrypted");
  }
  if (entry.method != kStored && entry.method != kDeflated) {
    throw BundleError(what + " is compressed by method " +
                      std::to_string(entry.method) +
                      ", which Java cannot unpack");
  }
  const std::uint64_t size = zip.size;
  const std::uint64_t prefixSize = zip.prefixSize;
  unsigned char header[kLocalSize];
  // prefixSize <= size, and nothing here can wrap around.
  if (entry.localOffset > size - prefixSize ||
      size - prefixSize - entry.localOffset < kLocalSize) {
    throw BundleError(what + " lies beyond the end of the file");
  }
  const std::uint64_t local = entry.localOffset + prefixSize;
  zip.seek(local);
  zip.read(header, kLocalSize, what);
  if (u32(header) != kLocalSignature) {
    throw BundleError(what + " has a corrupt header");
  }
  const std::uint64_t data =
      local + kLocalSize + u16(header + 26) + u16(header + 28);
  if (data > size || entry.compressedSize > size - data) {
    throw BundleError(what + " lies beyond the end of the file");
  }
  zip.seek(data);
  if (deflated) {
    input.resize(64 * 1024);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      throw BundleError("zlib cannot start to unpack " + what);
    }
  }
}

ZipEntryReader::~ZipEntryReader() {
  if (deflated) {
    inflateEnd(&stream);
  }
}

std::size_t ZipEntryReader::read(char* buffer, std::size_t count) {
  if (ended || count == 0) {
    return 0;
  }
  std::size_t got = 0;
  if (deflated) {
    got = inflated(buffer, count);
  } else {
    got = static_cast<std::size_t>(std::min<std::uint64_t>(unread, count));
    zip.read(buffer, got, what);
    unread -= got;
    ended = unread == 0;
  }
  produced += got;
  if (ended) {
    checkSize();
  }
  return got;
}

// The zip file's position is where the entry's data continues: the reader
// is the only one to read the file while it unpacks.
std::size_t ZipEntryReader::inflated(char* buffer, std::size_t count) {
  stream.next_out = reinterpret_cast<Bytef*>(buffer);
  stream.avail_out = static_cast<uInt>(
      std::min<std::size_t>(count, std::numeric_limits<uInt>::max()));
  const uInt wanted = stream.avail_out;
  while (stream.avail_out == wanted) {
    if (stream.avail_in == 0) {
      if (unread == 0) {
        throw BundleError(what + " is cut short");
      }
      const std::size_t chunk = static_cast<std::size_t>(
          std::min<std::uint64_t>(unread, input.size()));
      zip.read(input.data(), chunk, what);
      unread -= chunk;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(chunk);
    }
    const int rc = inflate(&stream, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      ended = true;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      throw BundleError(what + " is corrupt" +
                        (stream.msg != nullptr ? std::string(": ") + stream.msg
                                               : std::string()));
    }
  }
  return wanted - stream.avail_out;
}

void ZipEntryReader::checkSize() const {
  if (produced != declaredSize) {
    throw BundleError(what + " unpacks to " + std::to_string(produced) +
                      " bytes, not the " + std::to_string(declaredSize) +
                      " that its central directory gives");
  }
}

bool zipHasEntry(const fs::path& zip,
                 const std::function<bool(const std::string&)>& matches) {
  try {
    ZipFile file(zip);
    bool found = false;
    file.forEachEntry([&](const ZipEntry& entry) {
      found = matches(entry.name);
      return !found;
    });
    return found;
  } catch (const BundleError&) {
    return false;
  }
}
