#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

// An entry of a jar: its name and its bytes.
using JarEntry = std::pair<std::string, std::string>;

// A zip file of `entries`, in this order, deflated as a jar tool does it,
// after `prefix` (the launch script of a jar that runs as a program, say).
// Two entries may have one name, as no jar tool would write them.
inline void writeJar(const std::string& path,
                     const std::vector<JarEntry>& entries,
                     const std::string& prefix = "") {
  const auto le = [](std::uint64_t value, int bytes) {
    std::string encoded;
    for (int i = 0; i < bytes; ++i) {
      encoded += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return encoded;
  };
  std::string local;
  std::string central;
  for (const auto& [name, text] : entries) {
    uLongf size = compressBound(text.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
              reinterpret_cast<const Bytef*>(text.data()), text.size(),
              Z_BEST_COMPRESSION);
    // Without zlib's header and checksum: raw deflate, as zip files hold it.
    packed = packed.substr(2, size - 6);
    const std::uint64_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), text.size());
    // From the version needed to the length of the extra field: the same in
    // the entry's header and in the central directory.
    const std::string common = le(20, 2) + le(0, 2) + le(8, 2) + le(0, 4) +
                               le(crc, 4) + le(packed.size(), 4) +
                               le(text.size(), 4) + le(name.size(), 2) +
                               le(0, 2);
    central += le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) +
               le(0, 2) + le(0, 4) + le(local.size(), 4) + name;
    local += le(0x04034b50, 4) + common + name + packed;
  }
  const std::string end = le(0x06054b50, 4) + le(0, 4) + le(entries.size(), 2) +
                          le(entries.size(), 2) + le(central.size(), 4) +
                          le(local.size(), 4) + le(0, 2);
  std::filesystem::create_directories(
      std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << prefix << local << central << end;
}
