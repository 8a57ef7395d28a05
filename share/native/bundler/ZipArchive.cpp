#include "ZipArchive.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>

#include "BundleError.h"

namespace fs = std::filesystem;

namespace {

// The records of a zip file: APPNOTE.TXT of PKWARE.
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kDescriptorFlag = 0x0008;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint32_t kSaturated = 0xFFFFFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kHeadChunk = 512;
constexpr char kNeedsZip64[] =
    "rewritten, it would need Zip64 records, which the tool does not write";

std::uint64_t readLittleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = count; i > 0; --i) {
    value = (value << 8) | bytes[i - 1];
  }
  return value;
}

std::uint16_t u16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(readLittleEndian(bytes, 2));
}

std::uint32_t u32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(readLittleEndian(bytes, 4));
}

void put32(unsigned char* bytes, std::uint64_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
  }
}

std::string entryWhat(const ZipArchiveEntry& entry) {
  return "its entry " + entry.name;
}

// zlib's stream, ended on every way out.
class ZStream {
 public:
  explicit ZStream(bool compressing) : deflating(compressing) {
    const int rc =
        compressing ? deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                                   -MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
                    : inflateInit2(&stream, -MAX_WBITS);
    if (rc != Z_OK) {
      throw BundleError("zlib cannot start");
    }
  }
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;
  ~ZStream() {
    if (deflating) {
      deflateEnd(&stream);
    } else {
      inflateEnd(&stream);
    }
  }
  z_stream* operator->() { return &stream; }
  z_stream* get() { return &stream; }

 private:
  z_stream stream{};
  bool deflating;
};

// Feeds `compressedSize` bytes of compressed data, `chunk` bytes at a time
// from `read`, into an inflating stream and hands each piece of output to
// `take`, until the stream ends or `take` returns false. Raises BundleError
// for corrupt or missing data.
void inflateInto(
    ZStream& stream, std::uint64_t compressedSize, std::size_t chunk,
    const std::function<void(unsigned char*, std::size_t)>& read,
    const std::function<bool(const unsigned char*, std::size_t)>& take,
    const std::string& what) {
  unsigned char input[kBufferSize];
  unsigned char output[kBufferSize];
  std::uint64_t unread = compressedSize;
  for (int rc = Z_OK; rc != Z_STREAM_END;) {
    if (stream->avail_in == 0) {
      if (unread == 0) {
        throw BundleError(what + " is cut short");
      }
      const std::size_t count = static_cast<std::size_t>(
          std::min<std::uint64_t>(unread, std::min(chunk, sizeof input)));
      read(input, count);
      unread -= count;
      stream->next_in = input;
      stream->avail_in = static_cast<uInt>(count);
    }
    stream->next_out = output;
    stream->avail_out = sizeof output;
    rc = inflate(stream.get(), Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      throw BundleError(what + " is corrupt" +
                        (stream->msg != nullptr
                             ? std::string(": ") + stream->msg
                             : std::string()));
    }
    const std::size_t produced = sizeof output - stream->avail_out;
    if (!take(output, produced)) {
      return;
    }
  }
}

}  // namespace

bool ZipArchiveEntry::readable() const {
  return (flags & kEncryptedFlag) == 0 &&
         (method == kStored || method == kDeflated);
}

struct ZipArchive::Location {
  std::uint64_t header = 0;  // the local header
  std::uint64_t data = 0;    // the entry's data after it
};

ZipArchive::ZipArchive(const fs::path& path)
    : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (fd < 0) {
    throw BundleError(std::string("cannot open it: ") + std::strerror(errno));
  }
  try {
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
      throw BundleError(std::string("cannot read it: ") + std::strerror(errno));
    }
    fileSize = static_cast<std::uint64_t>(end);
    findCentralDirectory();
    readCentralDirectory();
  } catch (...) {
    close(fd);
    throw;
  }
}

ZipArchive::~ZipArchive() {
  close(fd);
}

// Reads by offset, without a buffer that each jump would discard: an
// archive is read in small pieces here and there.
void ZipArchive::readAt(std::uint64_t offset, void* buffer, std::size_t count,
                        const std::string& what) {
  if (offset > fileSize || count > fileSize - offset) {
    throw BundleError(what + " is cut short");
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    const ssize_t n = pread(fd, bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      throw BundleError(n < 0 ? std::string("cannot read it: ") +
                                    std::strerror(errno)
                              : what + " is cut short");
    }
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    count -= static_cast<std::size_t>(n);
  }
}

// The last end record whose comment fits in the file, and the Zip64 record
// that a locator right before it names. What comes before the offsets the
// records give is a prefix, which Java accepts too.
void ZipArchive::findCentralDirectory() {
  const std::size_t tailSize = static_cast<std::size_t>(
      std::min<std::uint64_t>(fileSize, kEndSize + kMaxCommentSize));
  std::vector<unsigned char> tail(tailSize);
  readAt(fileSize - tailSize, tail.data(), tailSize, "the file");
  const unsigned char* end = nullptr;
  for (std::size_t at = tailSize >= kEndSize ? tailSize - kEndSize + 1 : 0;
       at-- > 0;) {
    if (u32(&tail[at]) == kEndSignature &&
        at + kEndSize + u16(&tail[at + 20]) <= tailSize) {
      end = &tail[at];
      endRecord = fileSize - tailSize + at;
      break;
    }
  }
  if (end == nullptr) {
    throw BundleError("it is no zip file: it has no end of central directory");
  }
  std::uint64_t length = u32(end + 12);
  std::uint64_t start = u32(end + 16);
  std::uint64_t directoryEnd = endRecord;
  if (endRecord >= kZip64LocatorSize) {
    unsigned char locator[kZip64LocatorSize];
    readAt(endRecord - kZip64LocatorSize, locator, sizeof locator, "the file");
    if (u32(locator) == kZip64LocatorSignature) {
      zip64 = true;
      unsigned char record[kZip64EndSize];
      directoryEnd = readLittleEndian(locator + 8, 8);
      readAt(directoryEnd, record, sizeof record,
             "its Zip64 end of central directory");
      if (u32(record) != kZip64EndSignature) {
        throw BundleError("its Zip64 end of central directory is corrupt");
      }
      length = readLittleEndian(record + 40, 8);
      start = readLittleEndian(record + 48, 8);
    }
  }
  if (start > directoryEnd || length > directoryEnd - start) {
    throw BundleError("its central directory lies beyond the file's end");
  }
  centralEnd = directoryEnd;
  centralStart = directoryEnd - length;
  prefixSize = centralStart - start;
}

// The directory in one read, as Java reads it: its size is the file's at
// most.
void ZipArchive::readCentralDirectory() {
  const std::string what = "its central directory";
  std::vector<unsigned char> directory(
      static_cast<std::size_t>(centralEnd - centralStart));
  readAt(centralStart, directory.data(), directory.size(), what);
  for (std::size_t at = 0; at < directory.size();) {
    if (directory.size() - at < kCentralSize) {
      throw BundleError(what + " is cut short");
    }
    const unsigned char* header = &directory[at];
    if (u32(header) != kCentralSignature) {
      throw BundleError(what + " is corrupt");
    }
    ZipArchiveEntry entry;
    const std::size_t nameSize = u16(header + 28);
    const std::size_t extraSize = u16(header + 30);
    entry.centralOffset = centralStart + at;
    entry.centralSize = kCentralSize + nameSize + extraSize + u16(header + 32);
    if (directory.size() - at < entry.centralSize) {
      throw BundleError(what + " is cut short");
    }
    entry.flags = u16(header + 8);
    entry.method = u16(header + 10);
    entry.crc = u32(header + 16);
    entry.compressedSize = u32(header + 20);
    entry.size = u32(header + 24);
    entry.localOffset = u32(header + 42);
    const std::vector<unsigned char> nameAndExtra(
        header + kCentralSize, header + kCentralSize + nameSize + extraSize);
    entry.name.assign(nameAndExtra.begin(), nameAndExtra.begin() + nameSize);
    // Sizes and the offset too large for 32 bits are in a Zip64 extra
    // field, each only when its own field is saturated, in this order.
    std::uint64_t* const large[] = {&entry.size, &entry.compressedSize,
                                    &entry.localOffset};
    for (std::size_t field = nameSize; field + 4 <= nameAndExtra.size();) {
      const std::size_t length = u16(&nameAndExtra[field + 2]);
      std::size_t value = field + 4;
      const std::size_t fieldEnd =
          std::min(value + length, nameAndExtra.size());
      if (u16(&nameAndExtra[field]) == kZip64ExtraId) {
        for (std::uint64_t* v : large) {
          if (*v == kSaturated && value + 8 <= fieldEnd) {
            *v = readLittleEndian(&nameAndExtra[value], 8);
            value += 8;
          }
        }
      }
      field += 4 + length;
    }
    if (entry.localOffset > fileSize - prefixSize) {
      throw BundleError(entryWhat(entry) + " lies beyond the end of the file");
    }
    entry.localOffset += prefixSize;
    records.push_back(entry);
    at += entry.centralSize;
  }
}

ZipArchive::Location ZipArchive::locate(const ZipArchiveEntry& entry) {
  unsigned char header[kLocalSize];
  readAt(entry.localOffset, header, kLocalSize, entryWhat(entry));
  if (u32(header) != kLocalSignature) {
    throw BundleError(entryWhat(entry) + " has a corrupt header");
  }
  Location location;
  location.header = entry.localOffset;
  location.data =
      entry.localOffset + kLocalSize + u16(header + 26) + u16(header + 28);
  if (location.data > fileSize ||
      entry.compressedSize > fileSize - location.data) {
    throw BundleError(entryWhat(entry) + " lies beyond the end of the file");
  }
  return location;
}

std::string ZipArchive::head(const ZipArchiveEntry& entry, std::size_t count) {
  const Location location = locate(entry);
  std::uint64_t next = location.data;
  const auto read = [&](unsigned char* buffer, std::size_t n) {
    readAt(next, buffer, n, entryWhat(entry));
    next += n;
  };
  std::string bytes;
  if (entry.method == kStored) {
    bytes.resize(static_cast<std::size_t>(
        std::min<std::uint64_t>(entry.compressedSize, count)));
    read(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    return bytes;
  }
  // The first bytes come out of the first few hundred of a deflated
  // stream: reading more of each entry would read much of the file.
  ZStream stream(false);
  inflateInto(
      stream, entry.compressedSize, kHeadChunk, read,
      [&](const unsigned char* out, std::size_t n) {
        bytes.append(reinterpret_cast<const char*>(out),
                     std::min(n, count - bytes.size()));
        return bytes.size() < count;
      },
      entryWhat(entry));
  return bytes;
}

void ZipArchive::extract(const ZipArchiveEntry& entry, const fs::path& to) {
  const std::string what = entryWhat(entry);
  const Location location = locate(entry);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  std::uint64_t next = location.data;
  std::uint64_t written = 0;
  uLong crc = crc32(0, nullptr, 0);
  const auto read = [&](unsigned char* buffer, std::size_t n) {
    readAt(next, buffer, n, what);
    next += n;
  };
  // Never more than the directory says: a corrupt or hostile entry costs
  // no more disk than its stated size.
  const auto take = [&](const unsigned char* bytes, std::size_t n) {
    if (n > entry.size - written) {
      throw BundleError(what + " holds more than its stated size");
    }
    crc = crc32(crc, bytes, static_cast<uInt>(n));
    out.write(reinterpret_cast<const char*>(bytes),
              static_cast<std::streamsize>(n));
    written += n;
    return true;
  };
  if (entry.method == kStored) {
    unsigned char buffer[kBufferSize];
    for (std::uint64_t left = entry.compressedSize; left > 0;) {
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>(left, sizeof buffer));
      read(buffer, n);
      take(buffer, n);
      left -= n;
    }
  } else {
    ZStream stream(false);
    inflateInto(stream, entry.compressedSize, kBufferSize, read, take, what);
  }
  if (written != entry.size || crc != entry.crc) {
    throw BundleError(what + " is corrupt: its size or CRC is not the one " +
                      "its directory states");
  }
  out.close();
  if (!out) {
    throw BundleError("cannot write " + inQuotes(to.string()) + ": " +
                      std::strerror(errno));
  }
}

// Where the entry's record ends in the file: its data, and the data
// descriptor after it that writers such as Java's jar tool add.
std::uint64_t ZipArchive::recordEnd(const ZipArchiveEntry& entry) {
  const Location location = locate(entry);
  const std::uint64_t dataEnd = location.data + entry.compressedSize;
  if ((entry.flags & kDescriptorFlag) == 0) {
    return dataEnd;
  }
  // CRC and sizes, after a signature that not every writer puts there.
  unsigned char descriptor[8] = {};
  readAt(dataEnd, descriptor, std::min<std::uint64_t>(8, fileSize - dataEnd),
         entryWhat(entry));
  return dataEnd + (u32(descriptor) == kDescriptorSignature &&
                            u32(descriptor + 4) == entry.crc
                        ? 16
                        : 12);
}

void ZipArchive::copyRange(std::uint64_t from, std::uint64_t to,
                           std::ostream& out) {
  char buffer[kBufferSize];
  for (std::uint64_t at = from; at < to;) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(to - at, sizeof buffer));
    readAt(at, buffer, n, "the file");
    out.write(buffer, static_cast<std::streamsize>(n));
    at += n;
  }
}

// Writes the local record of `entry` with the contents of `file` at the
// current end of `out`: the entry's header, name and extra field, with the
// new CRC and sizes and without the flag of a data descriptor, and the
// contents compressed by the entry's method.
ZipArchive::Written ZipArchive::writeRecord(const ZipArchiveEntry& entry,
                                            const fs::path& file,
                                            std::ostream& out) {
  const Location location = locate(entry);
  std::vector<unsigned char> header(location.data - location.header);
  readAt(location.header, header.data(), header.size(), entryWhat(entry));
  const std::streamoff headerAt = out.tellp();
  out.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));

  std::ifstream contents(file, std::ios::binary);
  if (!contents) {
    throw BundleError("cannot read " + inQuotes(file.string()));
  }
  Written written;
  uLong crc = crc32(0, nullptr, 0);
  std::optional<ZStream> deflater;
  if (entry.method == kDeflated) {
    deflater.emplace(true);
  }
  unsigned char input[kBufferSize];
  unsigned char output[kBufferSize];
  const auto emit = [&](const unsigned char* bytes, std::size_t n) {
    out.write(reinterpret_cast<const char*>(bytes),
              static_cast<std::streamsize>(n));
    written.compressedSize += n;
  };
  for (bool last = false; !last;) {
    contents.read(reinterpret_cast<char*>(input), sizeof input);
    const std::size_t n = static_cast<std::size_t>(contents.gcount());
    if (contents.bad()) {
      throw BundleError("cannot read " + inQuotes(file.string()));
    }
    last = n < sizeof input;
    crc = crc32(crc, input, static_cast<uInt>(n));
    written.size += n;
    if (!deflater) {
      emit(input, n);
      continue;
    }
    (*deflater)->next_in = input;
    (*deflater)->avail_in = static_cast<uInt>(n);
    do {
      (*deflater)->next_out = output;
      (*deflater)->avail_out = sizeof output;
      deflate(deflater->get(), last ? Z_FINISH : Z_NO_FLUSH);
      emit(output, sizeof output - (*deflater)->avail_out);
    } while ((*deflater)->avail_out == 0);
  }
  if (written.size >= kSaturated || written.compressedSize >= kSaturated) {
    throw BundleError(kNeedsZip64);
  }
  written.crc = static_cast<std::uint32_t>(crc);
  put32(&header[14], written.crc);
  put32(&header[18], written.compressedSize);
  put32(&header[22], written.size);
  header[6] = static_cast<unsigned char>(header[6] & ~kDescriptorFlag);
  const std::streamoff end = out.tellp();
  out.seekp(headerAt);
  out.write(reinterpret_cast<const char*>(header.data()), kLocalSize);
  out.seekp(end);
  written.recordSize = static_cast<std::uint64_t>(end - headerAt);
  return written;
}

void ZipArchive::writeReplacing(
    const std::map<std::size_t, fs::path>& replacements, const fs::path& to) {
  // The records in the order of the file, each to end before the next.
  std::vector<std::size_t> order(records.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return records[a].localOffset < records[b].localOffset;
  });
  std::vector<std::uint64_t> ends(records.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    const ZipArchiveEntry& entry = records[order[k]];
    if (zip64 || entry.compressedSize >= kSaturated ||
        entry.size >= kSaturated ||
        entry.localOffset - prefixSize >= kSaturated) {
      throw BundleError(
          "it is a Zip64 archive, which the tool does not rewrite");
    }
    ends[order[k]] = recordEnd(entry);
    const std::uint64_t next =
        k + 1 < order.size() ? records[order[k + 1]].localOffset : centralStart;
    if (ends[order[k]] > next) {
      throw BundleError("its entries overlap, which the tool does not rewrite");
    }
  }

  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  // Where each replaced record was, and by how much it grew.
  std::vector<std::pair<std::uint64_t, std::int64_t>> growth;
  const auto moved = [&](std::uint64_t offset) {
    std::int64_t by = 0;
    for (const auto& [at, grown] : growth) {
      by += at < offset ? grown : 0;
    }
    const std::uint64_t zipOffset =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(offset) + by) -
        prefixSize;
    if (zipOffset >= kSaturated) {
      throw BundleError(kNeedsZip64);
    }
    return static_cast<std::uint32_t>(zipOffset);
  };
  std::map<std::size_t, Written> written;
  std::uint64_t copied = 0;
  for (const std::size_t i : order) {
    const auto replacement = replacements.find(i);
    if (replacement != replacements.end()) {
      copyRange(copied, records[i].localOffset, out);
      written[i] = writeRecord(records[i], replacement->second, out);
      growth.emplace_back(
          records[i].localOffset,
          static_cast<std::int64_t>(written[i].recordSize) -
              static_cast<std::int64_t>(ends[i] - records[i].localOffset));
      copied = ends[i];
    }
  }
  copyRange(copied, centralStart, out);

  for (std::size_t i = 0; i < records.size(); ++i) {
    std::vector<unsigned char> record(records[i].centralSize);
    readAt(records[i].centralOffset, record.data(), record.size(),
           "its central directory");
    put32(&record[42], moved(records[i].localOffset));
    const auto replaced = written.find(i);
    if (replaced != written.end()) {
      record[8] = static_cast<unsigned char>(record[8] & ~kDescriptorFlag);
      put32(&record[16], replaced->second.crc);
      put32(&record[20], replaced->second.compressedSize);
      put32(&record[24], replaced->second.size);
    }
    out.write(reinterpret_cast<const char*>(record.data()),
              static_cast<std::streamsize>(record.size()));
  }
  unsigned char end[kEndSize];
  readAt(endRecord, end, kEndSize, "the file");
  put32(end + 16, moved(centralStart));
  out.write(reinterpret_cast<const char*>(end), kEndSize);
  copyRange(endRecord + kEndSize, fileSize, out);
  out.close();
  if (!out) {
    throw BundleError("cannot write " + inQuotes(to.string()) + ": " +
                      std::strerror(errno));
  }
}
