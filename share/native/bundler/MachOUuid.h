#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

// macOS keys some of what a user grants an application (local network
// access, for one) on the UUID of its executable's Mach-O slice. Every
// bundle's executable is a copy of the one launcher, so each bundle gives
// its copy UUIDs of its own.

using MachOUuid = std::array<unsigned char, 16>;

// The UUID of the slice of `cpuType` and `cpuSubtype` in the executable of
// the bundle `identifier`: a name-based UUID (version 8 with SHA-256, RFC
// 9562) of the identifier and the slice, the same for every build of that
// bundle whatever the launcher, different for another identifier.
MachOUuid bundleSliceUuid(const std::string& identifier, std::uint32_t cpuType,
                          std::uint32_t cpuSubtype);

// Rewrites LC_UUID in each 64-bit little-endian slice of the Mach-O file
// `image` (thin or fat) to bundleSliceUuid, and the page hashes of its
// ad-hoc code signature that cover it, so that the signature stays valid.
// Returns the number of slices changed. Left as they are: a file that is no
// Mach-O file, and a slice without LC_UUID, of another kind, or signed in a
// way this cannot redo (by an identity, or with hashes other than SHA-256).
// Raises BundleError, its text the damage, for a Mach-O file whose tables
// run past what holds them, which no Mac would load.
int giveSlicesOwnUuids(std::string& image, const std::string& identifier);

// giveSlicesOwnUuids on the file `executable`, a copy of `launcher`, which a
// failure names.
void giveOwnUuids(const std::filesystem::path& executable,
                  const std::string& identifier,
                  const std::filesystem::path& launcher);
