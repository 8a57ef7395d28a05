#!/usr/bin/env python3
"""Verifies the embedded ad-hoc code signature of a thin Mach-O file.

The kernel refuses arm64 code whose pages do not match the hashes in its
code directory, so a signature that is merely present is not enough: this
recomputes every page's hash. Exits 1 with one line on failure.

    verify-code-signature.py FILE
"""
import hashlib
import struct
import sys

LC_CODE_SIGNATURE = 0x1D
SUPERBLOB_MAGIC = 0xFADE0CC0
CODE_DIRECTORY_MAGIC = 0xFADE0C02
CODE_DIRECTORY_SLOT = 0
CS_ADHOC = 0x2
HASHES = {1: hashlib.sha1, 2: hashlib.sha256}


def fail(message):
    print(f"{sys.argv[1]}: {message}", file=sys.stderr)
    sys.exit(1)


def code_signature_range(data):
    magic, _, _, _, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", data, 0)
    if magic != 0xFEEDFACF:
        fail("not a thin 64-bit Mach-O file")
    offset = 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", data, offset)
        if cmd == LC_CODE_SIGNATURE:
            return struct.unpack_from("<II", data, offset + 8)
        offset += cmdsize
    fail("no LC_CODE_SIGNATURE")


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    sig_offset, sig_size = code_signature_range(data)
    magic, _, count = struct.unpack_from(">III", data, sig_offset)
    if magic != SUPERBLOB_MAGIC:
        fail(f"signature magic {magic:#x}")
    for i in range(count):
        slot, blob = struct.unpack_from(">II", data, sig_offset + 12 + 8 * i)
        if slot == CODE_DIRECTORY_SLOT:
            break
    else:
        fail("no code directory")
    cd = sig_offset + blob
    (magic, _, _, flags, hash_offset, _, _, code_slots, code_limit, hash_size,
     hash_type, _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", data, cd)
    if magic != CODE_DIRECTORY_MAGIC:
        fail(f"code directory magic {magic:#x}")
    if not flags & CS_ADHOC:
        fail("not signed ad hoc")
    if code_limit != sig_offset:
        fail(f"signature covers {code_limit} bytes, the code ends at {sig_offset}")
    if hash_type not in HASHES:
        fail(f"unknown hash type {hash_type}")
    page = 1 << page_shift
    if code_slots != (code_limit + page - 1) // page:
        fail(f"{code_slots} page hashes for {code_limit} bytes")
    for i in range(code_slots):
        expected = data[cd + hash_offset + i * hash_size:][:hash_size]
        actual = HASHES[hash_type](data[i * page:min((i + 1) * page, code_limit)])
        if actual.digest()[:hash_size] != expected:
            fail(f"page {i} does not match its hash")


if __name__ == "__main__":
    main()
