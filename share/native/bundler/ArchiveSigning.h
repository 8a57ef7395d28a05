#pragma once

#include <filesystem>
#include <functional>
#include <string>

// Whether `path` is taken for a jar or zip file, whose entries the notary
// service opens too: its name ends in .jar or .zip (in any case), or it
// starts as a zip file does. A JDK's jmod files are neither: they start
// with a header of their own, and jlink checks them against hashes that a
// change would break.
bool isArchive(const std::filesystem::path& path);

// Signs each Mach-O entry (by its first bytes, whatever its name) of the
// jar or zip file `archive` with `sign`, which signs a file in place, and
// writes it back, and does the same inside the archives that `archive`
// holds, inside out, up to four levels deep. Every other entry stays as it
// is (ZipArchive::writeReplacing). Files taken out go to `scratch` and are
// removed again. `shownAs` names the archive in messages.
//
// Raises BundleError naming the archive, and the entry within, for an
// archive it cannot read or rewrite, for archives nested deeper, and for a
// jar that jarsigner signed, which a change would break, when it holds
// native code.
void signInsideArchive(
    const std::filesystem::path& archive, const std::string& shownAs,
    const std::filesystem::path& scratch,
    const std::function<void(const std::filesystem::path&)>& sign);
