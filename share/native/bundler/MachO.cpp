#include "MachO.h"

#include <cstdint>
#include <fstream>
#include <system_error>

namespace {

// The first four bytes, as a big-endian number, of each kind of Mach-O.
constexpr std::uint32_t kThinMagics[] = {
    0xFEEDFACE,  // 32 bits, big-endian
    0xCEFAEDFE,  // 32 bits, little-endian
    0xFEEDFACF,  // 64 bits, big-endian
    0xCFFAEDFE,  // 64 bits, little-endian
};

std::uint32_t bigEndian(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

bool isMachOStart(const unsigned char* bytes, std::size_t count,
                  std::uint64_t size) {
  if (count < 4) {
    return false;
  }
  const std::uint32_t magic = bigEndian(bytes);
  for (const std::uint32_t thin : kThinMagics) {
    if (magic == thin) {
      return true;
    }
  }
  if ((magic != MachOFat::kMagic && magic != MachOFat::kMagic64) ||
      count < MachOFat::kHeaderSize) {
    return false;
  }
  const std::uint32_t architectures = bigEndian(bytes + 4);
  if (!MachOFat::isArchitectureCount(architectures)) {
    return false;
  }
  const std::uint32_t archSize =
      magic == MachOFat::kMagic ? MachOFat::kArchSize : MachOFat::kArch64Size;
  return size >= MachOFat::kHeaderSize + architectures * archSize;
}

bool isMachO(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[MachOFat::kHeaderSize] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return !error &&
         isMachOStart(header, static_cast<std::size_t>(in.gcount()), size);
}
