#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

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
