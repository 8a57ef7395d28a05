// Each bundle's executable gets UUIDs of its own, its ad-hoc signature kept
// valid; a launcher that is damaged is refused, one that cannot be redone
// is left as it is. On small made-up Mach-O files, where each fault can be
// put exactly: test/macos/check-binaries does the same to the real launcher.

#include "MachOUuid.h"

#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "BundleError.h"
#include "Sha256.h"

namespace {

constexpr std::uint32_t kArm64 = 0x0100000C;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kUuidAt = 32 + 8;  // in the first load command
constexpr std::size_t kSignatureAt = 2 * kPage;
constexpr std::size_t kDirectoryAt = kSignatureAt + 12 + 2 * 8;
constexpr std::size_t kHashesAt = kDirectoryAt + 88;
constexpr std::size_t kCmsAt = kHashesAt + 2 * 32;

void putLittle(std::string& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    image[at + i] = static_cast<char>(value >> (8 * i));
  }
}

void putBig(std::string& image, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    image[at + i] = static_cast<char>(value >> (24 - 8 * i));
  }
}

std::string hashOf(const std::string& image, std::size_t at, std::size_t size) {
  const auto hash = sha256(image.data() + at, size);
  return std::string(hash.begin(), hash.end());
}

// A thin arm64 executable as the linker signs it: LC_UUID and
// LC_CODE_SIGNATURE, two pages of code, then a signature of one SHA-256
// code directory and an empty CMS blob, as ad-hoc signatures have.
std::string signedSlice() {
  std::string image(kCmsAt + 8, '\0');
  for (std::size_t i = 32 + 40; i < kSignatureAt; ++i) {
    image[i] = static_cast<char>(i * 7);  // code
  }
  putLittle(image, 0, 0xFEEDFACF);
  putLittle(image, 4, kArm64);
  putLittle(image, 12, 2);   // MH_EXECUTE
  putLittle(image, 16, 2);   // load commands
  putLittle(image, 20, 40);  // their size
  putLittle(image, 32, 0x1B);
  putLittle(image, 36, 24);
  image.replace(kUuidAt, 16, "launcher's uuid!");
  putLittle(image, 56, 0x1D);
  putLittle(image, 60, 16);
  putLittle(image, 64, kSignatureAt);
  putLittle(image, 68, static_cast<std::uint32_t>(image.size() - kSignatureAt));
  putBig(image, kSignatureAt, 0xFADE0CC0);
  putBig(image, kSignatureAt + 4,
         static_cast<std::uint32_t>(image.size() - kSignatureAt));
  putBig(image, kSignatureAt + 8, 2);
  putBig(image, kSignatureAt + 12, 0);  // the code directory
  putBig(image, kSignatureAt + 16, kDirectoryAt - kSignatureAt);
  putBig(image, kSignatureAt + 20, 0x10000);  // the CMS signature
  putBig(image, kSignatureAt + 24, kCmsAt - kSignatureAt);
  putBig(image, kDirectoryAt, 0xFADE0C02);
  putBig(image, kDirectoryAt + 4, kCmsAt - kDirectoryAt);
  putBig(image, kDirectoryAt + 8, 0x20400);
  putBig(image, kDirectoryAt + 12, 0x20002);  // ad hoc, linker-signed
  putBig(image, kDirectoryAt + 16, kHashesAt - kDirectoryAt);
  putBig(image, kDirectoryAt + 28, 2);  // page hashes
  putBig(image, kDirectoryAt + 32, kSignatureAt);
  image[kDirectoryAt + 36] = 32;
  image[kDirectoryAt + 37] = 2;  // SHA-256
  image[kDirectoryAt + 39] = 12;
  for (std::size_t page = 0; page < 2; ++page) {
    image.replace(kHashesAt + 32 * page, 32,
                  hashOf(image, page * kPage, kPage));
  }
  putBig(image, kCmsAt, 0xFADE0B01);
  putBig(image, kCmsAt + 4, 8);
  return image;
}

TEST(MachOUuidTest, GivesTheSliceTheBundlesUuidAndKeepsItsSignatureValid) {
  const std::string launcher = signedSlice();
  std::string image = launcher;

  ASSERT_EQ(1, giveSlicesOwnUuids(image, "com.example.one"));

  const MachOUuid uuid = bundleSliceUuid("com.example.one", kArm64, 0);
  EXPECT_EQ(0x80, uuid[6] & 0xF0);  // version 8, name-based
  std::string expected = launcher;
  expected.replace(kUuidAt, 16, std::string(uuid.begin(), uuid.end()));
  expected.replace(kHashesAt, 32, hashOf(expected, 0, kPage));
  EXPECT_TRUE(expected == image)
      << "not the launcher with the UUID and its page's hash alone changed";
  EXPECT_NE(bundleSliceUuid("com.example.two", kArm64, 0), uuid);
  EXPECT_NE(bundleSliceUuid("com.example.one", 0x01000007, 3), uuid);

  // A newer launcher, the same bundle: the same UUID.
  std::string newer = launcher;
  newer.replace(kPage, 4, "new!");
  ASSERT_EQ(1, giveSlicesOwnUuids(newer, "com.example.one"));
  EXPECT_EQ(image.substr(kUuidAt, 16), newer.substr(kUuidAt, 16));
}

TEST(MachOUuidTest, GivesEachSliceOfAFatFileItsOwn) {
  const std::string slice = signedSlice();
  std::string image(kPage, '\0');
  putBig(image, 0, 0xCAFEBABE);
  putBig(image, 4, 2);
  for (std::uint32_t i = 0; i < 2; ++i) {
    putBig(image, 8 + 20 * i, i == 0 ? kArm64 : 0x01000007);
    putBig(image, 16 + 20 * i,
           static_cast<std::uint32_t>(kPage + i * slice.size()));
    putBig(image, 20 + 20 * i, static_cast<std::uint32_t>(slice.size()));
  }
  std::string x86 = slice;
  putLittle(x86, 4, 0x01000007);
  image += slice + x86;

  ASSERT_EQ(2, giveSlicesOwnUuids(image, "com.example.one"));

  const MachOUuid arm = bundleSliceUuid("com.example.one", kArm64, 0);
  const MachOUuid intel = bundleSliceUuid("com.example.one", 0x01000007, 0);
  EXPECT_EQ(std::string(arm.begin(), arm.end()),
            image.substr(kPage + kUuidAt, 16));
  EXPECT_EQ(std::string(intel.begin(), intel.end()),
            image.substr(kPage + slice.size() + kUuidAt, 16));
}

TEST(MachOUuidTest, RefusesADamagedFileAndLeavesWhatItCannotRedo) {
  using Change = std::function<void(std::string&)>;
  const struct {
    const char* label;
    Change change;
    const char* damage;  // null: left as it was
  } rows[] = {
      {"load commands past the end",
       [](std::string& m) { putLittle(m, 20, 0x7FFFFFF0); },
       "its load commands run past the end of the slice"},
      {"a load command of size 0", [](std::string& m) { putLittle(m, 36, 0); },
       "a load command runs past the load commands"},
      {"more load commands than their size holds",
       [](std::string& m) { putLittle(m, 16, 3); },
       "a load command runs past the load commands"},
      {"a short LC_UUID", [](std::string& m) { putLittle(m, 36, 16); },
       "its LC_UUID is too short"},
      {"a signature past the end",
       [](std::string& m) { putLittle(m, 64, 0xFFFFFFF0); },
       "its code signature runs past the end of the slice"},
      {"a code directory whose hashes run past it",
       [](std::string& m) { putBig(m, kDirectoryAt + 28, 0x10000000); },
       "the page hashes of a code directory run past it"},
      {"a signature blob outside the signature",
       [](std::string& m) { putBig(m, kSignatureAt + 16, 0x7FFFFFFF); },
       "a part of its code signature lies outside it"},
      {"cut short inside the signature",
       [](std::string& m) { m.resize(kDirectoryAt + 8); },
       "its code signature runs past the end of the slice"},
      {"a fat table past the end",
       [](std::string& m) {
         m = std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x03", 8) +
             std::string(40, '\0');
       },
       "its table of architectures runs past its end"},
      {"signed by an identity",
       [](std::string& m) {
         putBig(m, kCmsAt + 4, 9);
         m += '\0';
         putBig(m, kSignatureAt + 4,
                static_cast<std::uint32_t>(m.size() - kSignatureAt));
         putLittle(m, 68, static_cast<std::uint32_t>(m.size() - kSignatureAt));
       },
       nullptr},
      {"hashed with SHA-1", [](std::string& m) { m[kDirectoryAt + 37] = 1; },
       nullptr},
      {"no LC_UUID", [](std::string& m) { putLittle(m, 32, 0x2A); }, nullptr},
      {"32 bits", [](std::string& m) { putLittle(m, 0, 0xFEEDFACE); }, nullptr},
      {"not Mach-O",
       [](std::string& m) {
         m.replace(0, 4,
                   "\x7F"
                   "ELF");
       },
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    std::string image = signedSlice();
    row.change(image);
    const std::string before = image;

    if (row.damage != nullptr) {
      try {
        giveSlicesOwnUuids(image, "com.example.one");
        ADD_FAILURE() << "no BundleError";
      } catch (const BundleError& e) {
        EXPECT_STREQ(row.damage, e.what());
      }
    } else {
      EXPECT_EQ(0, giveSlicesOwnUuids(image, "com.example.one"));
      EXPECT_TRUE(before == image) << "changed";
    }
  }
}

TEST(MachOUuidTest, Sha256GivesTheStandardsDigests) {
  const struct {
    std::string text;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'),
       "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto& row : rows) {
    const auto digest = sha256(row.text.data(), row.text.size());
    std::string hex;
    for (const unsigned char byte : digest) {
      hex += "0123456789abcdef"[byte >> 4];
      hex += "0123456789abcdef"[byte & 15];
    }
    EXPECT_EQ(row.digest, hex) << row.text.size() << " bytes";
  }
}

}  // namespace
