#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

// The header of a fat (universal) file, big-endian: its magic, its count of
// architectures, then a table entry per architecture.
namespace MachOFat {
constexpr std::uint32_t kMagic = 0xCAFEBABE;  // also a Java class file's
constexpr std::uint32_t kMagic64 = 0xCAFEBABF;
constexpr std::uint32_t kHeaderSize = 8;
constexpr std::uint32_t kArchSize = 20;
constexpr std::uint32_t kArch64Size = 32;

// Whether the number after the magic counts architectures rather than
// being a class file's minor and major version, which starts at 45.
constexpr bool isArchitectureCount(std::uint32_t number) {
  return number > 0 && number < 45;
}
}  // namespace MachOFat

// Whether `path` is a Mach-O file, by its first bytes: thin, of 32 or 64
// bits in either byte order, or fat (universal), of 32 or 64 bits. A fat
// file starts with the bytes of a Java class file, CA FE BA BE; the next
// four bytes tell them apart. A class file has its minor and major version
// there, at least 45 (the first release's major version, minor 0) read as
// one big-endian number; a fat file has its count of architectures, which
// is taken to be one from 1 to 44 whose table fits in the file. False for
// anything that cannot be read.
bool isMachO(const std::filesystem::path& path);

// The same test on the first `count` bytes (8 suffice) of a file of `size`
// bytes, such as an entry of a jar.
bool isMachOStart(const unsigned char* bytes, std::size_t count,
                  std::uint64_t size);
