#pragma once

#include <array>
#include <cstddef>

// SHA-256 (FIPS 180-4) of `size` bytes at `bytes`: what a code signature
// records for each page of a Mach-O file.
std::array<unsigned char, 32> sha256(const char* bytes, std::size_t size);
