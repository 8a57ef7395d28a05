#pragma once

// Zip files written and taken apart byte by byte, with zlib for the
// deflated data: the tests see exactly what a rewrite kept.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// An entry to write.
struct ZipItem {
  std::string name;
  std::string data;
  bool deflated = false;
  // Sizes and CRC in a data descriptor after the data, not in the header,
  // as Java's jar tool writes deflated entries.
  bool descriptor = false;
};

// An entry as a zip file holds it.
struct ZipRecord {
  std::string name;
  std::uint16_t method = 0;
  // The central directory's CRC and sizes, as it stores them.
  std::string crcAndSizes;
  // Its local header, name, extra field, data and data descriptor: the
  // bytes up to the next entry's header, or to the central directory.
  std::string bytes;

  std::uint32_t compressedSize() const;
  // Whether the local header states the directory's CRC and sizes, and no
  // data descriptor or other bytes follow the data.
  bool completeWithoutDescriptor() const;
};

namespace zipfiles {

inline std::string littleEndian(std::uint64_t value, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return bytes;
}

inline std::uint32_t read(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count; i > 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i - 1));
  }
  return value;
}

// Deflated (raw) or inflated by zlib.
inline std::string zlibbed(const std::string& in, bool deflating,
                           std::size_t size = 0) {
  z_stream stream{};
  if (deflating) {
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                 Z_DEFAULT_STRATEGY);
    size = deflateBound(&stream, in.size());
  } else {
    inflateInit2(&stream, -MAX_WBITS);
  }
  std::string out(size, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc =
      deflating ? deflate(&stream, Z_FINISH) : inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  if (deflating) {
    deflateEnd(&stream);
  } else {
    inflateEnd(&stream);
  }
  if (rc != Z_STREAM_END) {
    throw std::runtime_error("zlib failed");
  }
  return out;
}

}  // namespace zipfiles

// A zip file of `items`, in their order; with `zip64`, it ends with the
// records of a Zip64 archive.
inline std::string zipBytes(const std::vector<ZipItem>& items,
                            bool zip64 = false) {
  using zipfiles::littleEndian;
  std::string locals;
  std::string central;
  for (const ZipItem& item : items) {
    const std::string data =
        item.deflated ? zipfiles::zlibbed(item.data, true) : item.data;
    const std::string sizes =
        littleEndian(crc32(0, reinterpret_cast<const Bytef*>(item.data.data()),
                           static_cast<uInt>(item.data.size())),
                     4) +
        littleEndian(data.size(), 4) + littleEndian(item.data.size(), 4);
    // Version needed, flags, method, time and date.
    const std::string start =
        littleEndian(20, 2) + littleEndian(item.descriptor ? 8 : 0, 2) +
        littleEndian(item.deflated ? 8 : 0, 2) + littleEndian(0x5A2B6C4D, 4);
    const std::string name =
        littleEndian(item.name.size(), 2) + littleEndian(0, 2);
    central += littleEndian(0x02014b50, 4) + littleEndian(20, 2) + start +
               sizes + name + littleEndian(0, 6) + littleEndian(0, 4) +
               littleEndian(locals.size(), 4) + item.name;
    locals += littleEndian(0x04034b50, 4) + start +
              (item.descriptor ? std::string(12, '\0') : sizes) + name +
              item.name + data +
              (item.descriptor ? littleEndian(0x08074b50, 4) + sizes : "");
  }
  std::string end;
  if (zip64) {
    const std::size_t record = locals.size() + central.size();
    end = littleEndian(0x06064b50, 4) + littleEndian(44, 8) +
          littleEndian(45, 2) + littleEndian(45, 2) + littleEndian(0, 8) +
          littleEndian(items.size(), 8) + littleEndian(items.size(), 8) +
          littleEndian(central.size(), 8) + littleEndian(locals.size(), 8) +
          littleEndian(0x07064b50, 4) + littleEndian(0, 4) +
          littleEndian(record, 8) + littleEndian(1, 4);
  }
  end += littleEndian(0x06054b50, 4) + littleEndian(0, 4) +
         littleEndian(zip64 ? 0xFFFF : items.size(), 2) +
         littleEndian(zip64 ? 0xFFFF : items.size(), 2) +
         littleEndian(zip64 ? 0xFFFFFFFF : central.size(), 4) +
         littleEndian(zip64 ? 0xFFFFFFFF : locals.size(), 4) +
         littleEndian(0, 2);
  return locals + central + end;
}

// The entries of a zip file without a prefix, comment or Zip64 records,
// in the order of the file.
inline std::vector<ZipRecord> zipRecords(const std::string& zip) {
  using zipfiles::read;
  const std::size_t end = zip.size() - 22;
  const std::size_t centralStart = read(zip, end + 16, 4);
  std::vector<std::pair<std::size_t, ZipRecord>> found;
  for (std::size_t at = centralStart; at < end;) {
    ZipRecord record;
    const std::size_t nameSize = read(zip, at + 28, 2);
    record.method = static_cast<std::uint16_t>(read(zip, at + 10, 2));
    record.crcAndSizes = zip.substr(at + 16, 12);
    record.name = zip.substr(at + 46, nameSize);
    found.emplace_back(read(zip, at + 42, 4), record);
    at += 46 + nameSize + read(zip, at + 30, 2) + read(zip, at + 32, 2);
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ZipRecord> records;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::size_t next =
        i + 1 < found.size() ? found[i + 1].first : centralStart;
    found[i].second.bytes = zip.substr(found[i].first, next - found[i].first);
    records.push_back(found[i].second);
  }
  return records;
}

inline std::uint32_t ZipRecord::compressedSize() const {
  return zipfiles::read(crcAndSizes, 4, 4);
}

inline bool ZipRecord::completeWithoutDescriptor() const {
  const std::size_t dataStart =
      30 + zipfiles::read(bytes, 26, 2) + zipfiles::read(bytes, 28, 2);
  return (bytes[6] & 8) == 0 && bytes.substr(14, 12) == crcAndSizes &&
         bytes.size() == dataStart + compressedSize();
}

// The contents of the entry `name`, or "(no such entry)".
inline std::string zipContent(const std::string& zip, const std::string& name) {
  for (const ZipRecord& record : zipRecords(zip)) {
    if (record.name == name) {
      const std::string& bytes = record.bytes;
      const std::string data = bytes.substr(
          30 + zipfiles::read(bytes, 26, 2) + zipfiles::read(bytes, 28, 2),
          record.compressedSize());
      return record.method == 8 ? zipfiles::zlibbed(data, false, 1 << 20)
                                : data;
    }
  }
  return "(no such entry)";
}
