#include "MachOUuid.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "BundleError.h"
#include "MachO.h"
#include "Sha256.h"

namespace fs = std::filesystem;

// The launcher is input like any other: every offset and size read from it
// is checked against what holds it before it is used.

namespace {

constexpr std::uint32_t kMachO64Magic = 0xFEEDFACF;  // little-endian slices
constexpr std::uint32_t kMachO64HeaderSize = 32;
constexpr std::uint32_t kLcUuid = 0x1B;
constexpr std::uint32_t kLcCodeSignature = 0x1D;
constexpr std::uint32_t kUuidCommandSize = 24;
constexpr std::uint32_t kLinkeditCommandSize = 16;

// The code signature's blobs, big-endian.
constexpr std::uint32_t kSuperBlobMagic = 0xFADE0CC0;
constexpr std::uint32_t kSuperBlobHeaderSize = 12;
constexpr std::uint32_t kBlobIndexSize = 8;
constexpr std::uint32_t kBlobHeaderSize = 8;  // magic and length
constexpr std::uint32_t kCodeDirectoryMagic = 0xFADE0C02;
constexpr std::uint32_t kCodeDirectorySize = 40;  // up to its page size
constexpr std::uint32_t kCodeDirectorySlot = 0;
constexpr std::uint32_t kFirstAlternateSlot = 0x1000;
constexpr std::uint32_t kLastAlternateSlot = 0x1004;
constexpr std::uint32_t kCmsSignatureSlot = 0x10000;
constexpr unsigned kSha256HashType = 2;
constexpr unsigned kSha256Size = 32;
constexpr unsigned kLargestPageShift = 30;

// The namespace of this tool's name-based UUIDs, made at random once.
constexpr MachOUuid kUuidNamespace = {0x5d, 0x2f, 0xf8, 0xe9, 0xd9, 0x2d,
                                      0x47, 0x1b, 0xb2, 0xbe, 0xbd, 0xdc,
                                      0x0a, 0x73, 0x1f, 0x93};

void need(bool holds, const char* damage) {
  if (!holds) {
    throw BundleError(damage);
  }
}

// Whether [offset, offset + size) lies within [0, limit).
bool fits(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

std::uint64_t readNumber(const std::string& image, std::uint64_t at, int size,
                         bool bigEndian) {
  need(fits(at, size, image.size()), "it ends too early");
  std::uint64_t value = 0;
  for (int i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(image[at + i]);
    value |= std::uint64_t{byte} << (8 * (bigEndian ? size - 1 - i : i));
  }
  return value;
}

std::uint32_t little32(const std::string& image, std::uint64_t at) {
  return static_cast<std::uint32_t>(readNumber(image, at, 4, false));
}

std::uint32_t big32(const std::string& image, std::uint64_t at) {
  return static_cast<std::uint32_t>(readNumber(image, at, 4, true));
}

struct Slice {
  std::uint64_t offset;
  std::uint64_t size;
};

// The slices of a fat file, the whole of a thin one, none of anything else.
std::vector<Slice> slicesOf(const std::string& image) {
  if (image.size() < MachOFat::kHeaderSize) {
    return {};
  }
  const std::uint32_t magic = big32(image, 0);
  if (magic != MachOFat::kMagic && magic != MachOFat::kMagic64) {
    return {{0, image.size()}};  // thin, or no Mach-O: its header tells
  }
  const std::uint32_t count = big32(image, 4);
  if (!MachOFat::isArchitectureCount(count)) {
    return {};  // a Java class file
  }
  const bool wide = magic == MachOFat::kMagic64;
  const std::uint32_t entrySize =
      wide ? MachOFat::kArch64Size : MachOFat::kArchSize;
  need(fits(MachOFat::kHeaderSize, std::uint64_t{count} * entrySize,
            image.size()),
       "its table of architectures runs past its end");
  std::vector<Slice> slices;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry =
        MachOFat::kHeaderSize + std::uint64_t{i} * entrySize;
    const Slice slice =
        wide ? Slice{readNumber(image, entry + 8, 8, true),
                     readNumber(image, entry + 16, 8, true)}
             : Slice{big32(image, entry + 8), big32(image, entry + 12)};
    need(fits(slice.offset, slice.size, image.size()),
         "a slice runs past its end");
    slices.push_back(slice);
  }
  return slices;
}

// The page hashes of one code directory, all offsets within the slice.
struct PageHashes {
  std::uint64_t at;
  std::uint32_t count;
  std::uint32_t codeLimit;
  unsigned pageShift;
};

// The code directories of the signature at [offset, offset + size) of the
// slice, in `found`. False when this tool cannot redo the signature.
bool codeDirectories(const std::string& image, const Slice& slice,
                     std::uint64_t offset, std::uint64_t size,
                     std::vector<PageHashes>& found) {
  const std::uint64_t base = slice.offset + offset;
  need(size >= kSuperBlobHeaderSize && big32(image, base) == kSuperBlobMagic,
       "its code signature is none");
  const std::uint32_t length = big32(image, base + 4);
  const std::uint32_t count = big32(image, base + 8);
  need(length <= size && fits(kSuperBlobHeaderSize,
                              std::uint64_t{count} * kBlobIndexSize, length),
       "its code signature runs past its end");
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t index =
        base + kSuperBlobHeaderSize + std::uint64_t{i} * kBlobIndexSize;
    const std::uint32_t slot = big32(image, index);
    const std::uint32_t blob = big32(image, index + 4);
    need(fits(blob, kBlobHeaderSize, length),
         "a part of its code signature lies outside it");
    const std::uint32_t blobMagic = big32(image, base + blob);
    const std::uint32_t blobLength = big32(image, base + blob + 4);
    need(fits(blob, blobLength, length),
         "a part of its code signature runs past it");
    if (slot == kCmsSignatureSlot && blobLength > kBlobHeaderSize) {
      return false;  // signed by an identity, which only its owner can redo
    }
    const bool directorySlot =
        slot == kCodeDirectorySlot ||
        (slot >= kFirstAlternateSlot && slot <= kLastAlternateSlot);
    if (!directorySlot || blobMagic != kCodeDirectoryMagic) {
      continue;
    }
    const std::uint64_t directory = base + blob;
    need(blobLength >= kCodeDirectorySize, "a code directory is too short");
    const std::uint32_t hashOffset = big32(image, directory + 16);
    const std::uint32_t hashCount = big32(image, directory + 28);
    const std::uint32_t codeLimit = big32(image, directory + 32);
    const auto hashSize = static_cast<unsigned char>(image[directory + 36]);
    const auto hashType = static_cast<unsigned char>(image[directory + 37]);
    const auto pageShift = static_cast<unsigned char>(image[directory + 39]);
    if (hashType != kSha256HashType || hashSize != kSha256Size ||
        pageShift == 0 || pageShift > kLargestPageShift) {
      return false;
    }
    need(fits(hashOffset, std::uint64_t{hashCount} * hashSize, blobLength),
         "the page hashes of a code directory run past it");
    need(codeLimit <= slice.size,
         "a code directory covers more than its slice");
    found.push_back(
        {offset + blob + hashOffset, hashCount, codeLimit, pageShift});
  }
  return true;
}

// Gives the slice the bundle's UUID; false when it is left as it was.
bool giveSliceOwnUuid(std::string& image, const Slice& slice,
                      const std::string& identifier) {
  if (slice.size < kMachO64HeaderSize ||
      little32(image, slice.offset) != kMachO64Magic) {
    return false;
  }
  const std::uint32_t cpuType = little32(image, slice.offset + 4);
  const std::uint32_t cpuSubtype = little32(image, slice.offset + 8);
  const std::uint32_t commandCount = little32(image, slice.offset + 16);
  const std::uint64_t commandsEnd =
      kMachO64HeaderSize + std::uint64_t{little32(image, slice.offset + 20)};
  need(commandsEnd <= slice.size,
       "its load commands run past the end of the slice");
  std::uint64_t uuid = 0;  // within the slice; none at 0
  std::vector<PageHashes> hashes;
  std::uint64_t command = kMachO64HeaderSize;
  for (std::uint32_t i = 0; i < commandCount; ++i) {
    need(fits(command, 8, commandsEnd),
         "a load command runs past the load commands");
    const std::uint32_t kind = little32(image, slice.offset + command);
    const std::uint32_t size = little32(image, slice.offset + command + 4);
    need(size >= 8 && fits(command, size, commandsEnd),
         "a load command runs past the load commands");
    if (kind == kLcUuid) {
      need(size >= kUuidCommandSize, "its LC_UUID is too short");
      uuid = command + 8;
    } else if (kind == kLcCodeSignature) {
      need(size >= kLinkeditCommandSize, "its LC_CODE_SIGNATURE is too short");
      const std::uint32_t offset = little32(image, slice.offset + command + 8);
      const std::uint32_t length = little32(image, slice.offset + command + 12);
      need(fits(offset, length, slice.size),
           "its code signature runs past the end of the slice");
      if (!codeDirectories(image, slice, offset, length, hashes)) {
        return false;
      }
    }
    command += size;
  }
  if (uuid == 0) {
    return false;
  }
  const MachOUuid own = bundleSliceUuid(identifier, cpuType, cpuSubtype);
  std::memcpy(&image[slice.offset + uuid], own.data(), own.size());
  // The pages that hold the UUID, hashed again.
  for (const PageHashes& directory : hashes) {
    const std::uint64_t first = uuid >> directory.pageShift;
    const std::uint64_t last = (uuid + own.size() - 1) >> directory.pageShift;
    for (std::uint64_t page = first;
         page <= last && page < directory.count &&
         (page << directory.pageShift) < directory.codeLimit;
         ++page) {
      const std::uint64_t start = page << directory.pageShift;
      const std::uint64_t size = std::min<std::uint64_t>(
          std::uint64_t{1} << directory.pageShift, directory.codeLimit - start);
      const auto hash = sha256(&image[slice.offset + start], size);
      std::memcpy(&image[slice.offset + directory.at + page * kSha256Size],
                  hash.data(), hash.size());
    }
  }
  return true;
}

}  // namespace

MachOUuid bundleSliceUuid(const std::string& identifier, std::uint32_t cpuType,
                          std::uint32_t cpuSubtype) {
  std::string name(kUuidNamespace.begin(), kUuidNamespace.end());
  name += identifier;
  name += '\0';
  // The top byte of the subtype holds capabilities, not the kind of code.
  for (const std::uint32_t number : {cpuType, cpuSubtype & 0x00FFFFFF}) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      name += static_cast<char>((number >> shift) & 0xFF);
    }
  }
  const auto digest = sha256(name.data(), name.size());
  MachOUuid uuid;
  std::memcpy(uuid.data(), digest.data(), uuid.size());
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x80);  // version 8
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // RFC 9562
  return uuid;
}

int giveSlicesOwnUuids(std::string& image, const std::string& identifier) {
  int changed = 0;
  for (const Slice& slice : slicesOf(image)) {
    changed += giveSliceOwnUuid(image, slice, identifier) ? 1 : 0;
  }
  return changed;
}

void giveOwnUuids(const fs::path& executable, const std::string& identifier,
                  const fs::path& launcher) {
  if (!isMachO(executable)) {
    return;  // a launcher for another system, as the tests use
  }
  std::ifstream in(executable, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    throw BundleError("cannot read " + inQuotes(executable.string()));
  }
  try {
    if (giveSlicesOwnUuids(image, identifier) == 0) {
      return;
    }
  } catch (const BundleError& damage) {
    throw BundleError("the launcher " + inQuotes(launcher.string()) +
                      " is a damaged Mach-O file: " + damage.what());
  }
  std::ofstream out(executable, std::ios::binary | std::ios::trunc);
  out << image;
  out.close();
  if (!out) {
    throw BundleError("cannot write " + inQuotes(executable.string()));
  }
}
