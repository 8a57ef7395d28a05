#!/usr/bin/env python3
"""Checks a Mach-O executable for what a Mac needs of it and Linux cannot
try: one check per run, on a thin file (a slice that llvm-lipo -thin wrote)
or, for layout, on a universal one. Silent when the file passes; one line
on standard error and exit 1 when it does not.

    check-macho.py unwind FILE          C++ exceptions can be caught
    check-macho.py frame-pointers FILE  arm64 functions that save x29 set it
    check-macho.py load-commands FILE   what dyld and the kernel expect
    check-macho.py imports FILE STUB... each import in the stub of its library
    check-macho.py signature FILE       the linker's ad-hoc signature
    check-macho.py pages FILE           every signed page matches its hash
    check-macho.py stripped FILE        no local symbols, no debug map
    check-macho.py layout FILE          the universal file's slices
"""
import hashlib
import re
import struct
import sys

CPU_ARM64 = 0x0100000C
CPU_X86_64 = 0x01000007
MH_MAGIC_64 = 0xFEEDFACF
MH_PIE = 0x200000
LC_SEGMENT_64 = 0x19
LC_SYMTAB = 0x2
LC_LOAD_DYLINKER = 0xE
LC_UUID = 0x1B
LC_CODE_SIGNATURE = 0x1D
LC_FUNCTION_STARTS = 0x26
LC_BUILD_VERSION = 0x32
LC_MAIN = 0x80000028
# The load commands that give a library its ordinal, in the order met.
LIBRARY_COMMANDS = {0xC, 0x18 | 0x80000000, 0x1F | 0x80000000, 0x20, 0x23 | 0x80000000}


class Failure(Exception):
    pass


def fail(message):
    raise Failure(message)


class MachO:
    """A thin 64-bit little-endian Mach-O file: its header, load commands,
    segments and sections."""

    def __init__(self, data):
        self.data = data
        if len(data) < 32 or struct.unpack_from("<I", data)[0] != MH_MAGIC_64:
            fail("not a thin 64-bit Mach-O file")
        (_, self.cputype, _, self.filetype, ncmds, self.sizeofcmds, self.flags,
         _) = struct.unpack_from("<IiiIIIII", data)
        self.commands = []  # (cmd, offset of the command)
        self.segments = []  # (name, vmaddr, vmsize, fileoff, filesize)
        self.sections = {}  # (segment, section) -> (addr, size, offset)
        offset = 32
        for _ in range(ncmds):
            cmd, size = struct.unpack_from("<II", data, offset)
            if size < 8 or offset + size > 32 + self.sizeofcmds:
                fail(f"load command {cmd:#x} at {offset} runs past the load commands")
            self.commands.append((cmd, offset))
            if cmd == LC_SEGMENT_64:
                self._segment(offset)
            offset += size

    def _segment(self, offset):
        segname, vmaddr, vmsize, fileoff, filesize, _, _, nsects, _ = \
            struct.unpack_from("<16sQQQQiiII", self.data, offset + 8)
        name = segname.rstrip(b"\0").decode()
        self.segments.append((name, vmaddr, vmsize, fileoff, filesize))
        for i in range(nsects):
            sectname, _, addr, size, section_offset = struct.unpack_from(
                "<16s16sQQI", self.data, offset + 72 + 80 * i)
            self.sections[(name, sectname.rstrip(b"\0").decode())] = (
                addr, size, section_offset)

    def command(self, cmd):
        """The offset of the first load command `cmd`, or None."""
        return next((offset for c, offset in self.commands if c == cmd), None)

    def segment(self, name):
        return next((s for s in self.segments if s[0] == name), None)

    def section(self, segment, section):
        """(address, bytes) of a section, or None."""
        found = self.sections.get((segment, section))
        if not found:
            return None
        addr, size, offset = found
        return addr, self.data[offset:offset + size]

    def read_at(self, address, size):
        for _, vmaddr, _, fileoff, filesize in self.segments:
            if vmaddr <= address and address + size <= vmaddr + filesize:
                start = fileoff + address - vmaddr
                return self.data[start:start + size]
        fail(f"address {address:#x} is in no segment's file contents")

    def image_base(self):
        return self.segment("__TEXT")[1]

    def symbols(self):
        """(name, n_type, n_desc) of each symbol table entry."""
        offset = self.command(LC_SYMTAB)
        if offset is None:
            return []
        symoff, nsyms, stroff, _ = struct.unpack_from("<IIII", self.data, offset + 8)
        entries = []
        for i in range(nsyms):
            strx, n_type, _, n_desc, _ = struct.unpack_from(
                "<IBBHQ", self.data, symoff + 16 * i)
            name = self.data[stroff + strx:self.data.index(b"\0", stroff + strx)]
            entries.append((name.decode(errors="replace"), n_type, n_desc))
        return entries

    def code_directory(self):
        """The offset of the signature and of its code directory."""
        offset = self.command(LC_CODE_SIGNATURE)
        if offset is None:
            fail("no LC_CODE_SIGNATURE")
        signature, _ = struct.unpack_from("<II", self.data, offset + 8)
        magic, _, count = struct.unpack_from(">III", self.data, signature)
        if magic != 0xFADE0CC0:
            fail(f"signature magic {magic:#x}")
        for i in range(count):
            slot, blob = struct.unpack_from(">II", self.data, signature + 12 + 8 * i)
            if slot == 0:
                directory = signature + blob
                if struct.unpack_from(">I", self.data, directory)[0] != 0xFADE0C02:
                    fail("the code directory's magic is wrong")
                return signature, directory
        fail("no code directory")


def uleb128(data, offset):
    value = shift = 0
    while True:
        byte = data[offset]
        offset += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, offset


def sleb128(data, offset):
    value, end = uleb128(data, offset)
    bits = 7 * (end - offset)
    return (value - (1 << bits) if value >> (bits - 1) & 1 else value), end


# --- unwind ----------------------------------------------------------------

def unwind_entries(macho):
    """(function address, encoding) of each entry in __unwind_info, and
    its personality slots and LSDA addresses."""
    found = macho.section("__TEXT", "__unwind_info")
    if not found:
        fail("no __unwind_info")
    _, info = found
    base = macho.image_base()
    (_, common_at, common_count, personality_at, personality_count, index_at,
     index_count) = struct.unpack_from("<7I", info)
    common = struct.unpack_from(f"<{common_count}I", info, common_at)
    personalities = [base + p for p in struct.unpack_from(
        f"<{personality_count}I", info, personality_at)]
    indexes = [struct.unpack_from("<3I", info, index_at + 12 * i)
               for i in range(index_count)]
    lsda_start, lsda_end = indexes[0][2], indexes[-1][2]
    lsdas = [base + struct.unpack_from("<II", info, at)[1]
             for at in range(lsda_start, lsda_end, 8)]
    entries = []
    for function_base, page, _ in indexes[:-1]:  # the last one ends them
        kind, entries_at, count = struct.unpack_from("<IHH", info, page)
        if kind == 2:  # regular: function offset and encoding
            for i in range(count):
                function, encoding = struct.unpack_from("<II", info, page + entries_at + 8 * i)
                entries.append((base + function, encoding))
        elif kind == 3:  # compressed: an offset and an encoding's index
            local_at, _ = struct.unpack_from("<HH", info, page + 8)
            for i in range(count):
                entry = struct.unpack_from("<I", info, page + entries_at + 4 * i)[0]
                index = entry >> 24
                encoding = common[index] if index < common_count else struct.unpack_from(
                    "<I", info, page + local_at + 4 * (index - common_count))[0]
                entries.append((base + function_base + (entry & 0xFFFFFF), encoding))
        else:
            fail(f"second-level page of kind {kind}")
    return entries, personalities, lsdas


def read_pointer(data, offset, encoding, field_address):
    """A DWARF pointer of `encoding` (absolute or pc-relative)."""
    formats = {0x0: "<Q", 0x3: "<I", 0x4: "<Q", 0xB: "<i", 0xC: "<q"}
    form = formats.get(encoding & 0x0F)
    if form is None or encoding & 0x70 not in (0x00, 0x10):
        fail(f"pointer encoding {encoding:#x}")
    value = struct.unpack_from(form, data, offset)[0]
    if encoding & 0x70 == 0x10:
        value = (value + field_address) % (1 << 64)
    return value, offset + struct.calcsize(form)


def fde_covers(eh_frame, address, fde, function):
    """Whether the frame description at `fde` in __eh_frame covers `function`."""
    length, cie_pointer = struct.unpack_from("<II", eh_frame, fde)
    if length in (0, 0xFFFFFFFF) or cie_pointer == 0:
        return False
    cie = fde + 4 - cie_pointer
    version = eh_frame[cie + 8]
    at = eh_frame.index(b"\0", cie + 9)
    augmentation = eh_frame[cie + 9:at].decode()
    _, at = uleb128(eh_frame, at + 1)   # code alignment
    _, at = sleb128(eh_frame, at)       # data alignment
    at = at + 1 if version == 1 else uleb128(eh_frame, at)[1]  # return register
    encoding = 0
    if augmentation.startswith("z"):
        _, at = uleb128(eh_frame, at)
        for letter in augmentation[1:]:
            if letter == "R":
                encoding = eh_frame[at]
                at += 1
            elif letter == "L":
                at += 1
            elif letter == "P":
                _, at = read_pointer(eh_frame, at + 1, eh_frame[at], address + at + 1)
    start, at = read_pointer(eh_frame, fde + 8, encoding, address + fde + 8)
    size, _ = read_pointer(eh_frame, at, encoding & 0x0F, 0)
    return start <= function < start + size


def check_unwind(macho):
    dwarf_mode = {CPU_ARM64: 0x03000000, CPU_X86_64: 0x04000000}[macho.cputype]
    entries, personalities, lsdas = unwind_entries(macho)
    problems = []
    if not personalities:
        problems.append("__unwind_info names no personality routine")
    text_start, text = macho.section("__TEXT", "__text")
    for slot in personalities:
        routine = struct.unpack("<Q", macho.read_at(slot, 8))[0]
        if not text_start <= routine < text_start + len(text):
            problems.append(f"the personality routine {routine:#x} is not in __text")
    tables = macho.section("__TEXT", "__gcc_except_tab")
    if not lsdas:
        problems.append("no function has an LSDA, so no catch or cleanup runs")
    for lsda in lsdas:
        if not tables or not tables[0] <= lsda < tables[0] + len(tables[1]):
            problems.append(f"the LSDA {lsda:#x} is not in __gcc_except_tab")
            break
    deferred = [(f, e) for f, e in entries if e & 0x0F000000 == dwarf_mode]
    eh_frame = macho.section("__TEXT", "__eh_frame")
    if deferred and not eh_frame:
        problems.append(f"{len(deferred)} functions defer to DWARF, and there is no __eh_frame")
    elif deferred:
        uncovered = [f for f, e in deferred
                     if not fde_covers(eh_frame[1], eh_frame[0], e & 0xFFFFFF, f)]
        if uncovered:
            problems.append(f"{len(uncovered)} of {len(deferred)} functions that defer to"
                            f" DWARF are not covered by their frame description, the first"
                            f" at {uncovered[0]:#x}")
    if problems:
        fail(", ".join(problems))


# --- frame pointers ----------------------------------------------------------

# zig builds three functions of the C++ runtime that save x29 without
# setting it: __cxa_begin_catch, std::terminate and __dynamic_cast. Their
# frames are described in DWARF, which the unwind check covers.
ALLOWED_WITHOUT_FRAME_RECORD = 3


def function_starts(macho):
    offset = macho.command(LC_FUNCTION_STARTS)
    if offset is None:
        fail("no LC_FUNCTION_STARTS")
    dataoff, datasize = struct.unpack_from("<II", macho.data, offset + 8)
    starts, address, at = [], macho.image_base(), dataoff
    while at < dataoff + datasize:
        delta, at = uleb128(macho.data, at)
        if delta == 0:
            break
        address += delta
        starts.append(address)
    return starts


def saves_x29(word):
    """STP or STR of x29 relative to sp."""
    base = word >> 5 & 0x1F
    if word & 0xFFC00000 in (0xA9000000, 0xA9800000, 0xA8800000):  # stp x
        return base == 31 and 29 in (word & 0x1F, word >> 10 & 0x1F)
    if word & 0xFFC00000 == 0xF9000000 or word & 0xFFE00400 == 0xF8000400:  # str x
        return base == 31 and word & 0x1F == 29
    return False


def sets_x29(word):
    """add x29, sp, #imm (mov x29, sp included)."""
    return word & 0xFF8003FF == 0x910003FD


def check_frame_pointers(macho):
    if macho.cputype != CPU_ARM64:
        fail("frame records are checked on arm64 code only")
    text_start, text = macho.section("__TEXT", "__text")
    starts = [s for s in function_starts(macho) if text_start <= s < text_start + len(text)]
    without = []
    for start, end in zip(starts, starts[1:] + [text_start + len(text)]):
        words = struct.unpack_from(f"<{(end - start) // 4}I", text, start - text_start)
        if any(map(saves_x29, words)) and not any(map(sets_x29, words)):
            without.append(start)
    if len(without) > ALLOWED_WITHOUT_FRAME_RECORD:
        fail(f"{len(without)} of {len(starts)} functions save x29 and do not set it,"
             f" the first at {without[0]:#x}")


# --- load commands -----------------------------------------------------------

def check_load_commands(macho):
    problems = []
    if macho.command(LC_MAIN) is None:
        problems.append("no LC_MAIN")
    dylinker = macho.command(LC_LOAD_DYLINKER)
    if dylinker is None:
        problems.append("no LC_LOAD_DYLINKER")
    else:
        at = dylinker + struct.unpack_from("<I", macho.data, dylinker + 8)[0]
        name = macho.data[at:macho.data.index(b"\0", at)].decode()
        if name != "/usr/lib/dyld":
            problems.append(f"the dynamic linker is {name}")
    if not macho.flags & MH_PIE:
        problems.append("not PIE")
    if macho.segments[:1] != [("__PAGEZERO", 0, 1 << 32, 0, 0)]:
        problems.append("the first segment is not a __PAGEZERO of 4 GiB")
    uuid = macho.command(LC_UUID)
    if uuid is None or macho.data[uuid + 8:uuid + 24] == bytes(16):
        problems.append("no LC_UUID")
    version = macho.command(LC_BUILD_VERSION)
    if version is None or struct.unpack_from("<I", macho.data, version + 16)[0] == 0:
        problems.append("no SDK version")
    last = max(macho.segments, key=lambda s: s[3])
    if macho.segments[-1][0] != "__LINKEDIT" or last[0] != "__LINKEDIT" or \
            last[3] + last[4] != len(macho.data):
        problems.append("__LINKEDIT is not the last segment, to the end of the file")
    if problems:
        fail(", ".join(problems))


# --- imports -----------------------------------------------------------------

def text_stubs(paths, arch):
    """Each library of the text stubs: install name -> (symbols, re-exported
    libraries) for `arch`."""
    libraries = {}
    for path in paths:
        with open(path) as f:
            for document in f.read().split("--- !tapi-tbd")[1:]:
                name = re.search(r"^install-name:\s*'?([^'\n]+)'?", document, re.M).group(1)
                symbols, reexported = set(), set()
                section, matches = None, False
                # Lists flow over lines: join each "[ ... ]" into one.
                for line in re.sub(r"\[[^\]]*\]", lambda m: m.group(0).replace("\n", " "),
                                   document).splitlines():
                    key = re.match(r"^(\s*)(?:- )?([a-z-]+):\s*(.*)", line)
                    if not key:
                        continue
                    indent, field, value = key.groups()
                    items = {i.strip().strip("'") for i in value.strip("[] ").split(",")}
                    if not indent:
                        section, matches = field, False
                    elif field == "targets":
                        matches = f"{arch}-macos" in items
                    elif matches and section in ("exports", "reexports"):
                        symbols |= items  # the launcher binds no Objective-C
                    elif matches and section == "reexported-libraries":
                        reexported |= items
                libraries[name] = (symbols, reexported)
    return libraries


def exported_by(libraries, name, symbol):
    if name not in libraries:
        return False
    symbols, reexported = libraries[name]
    return symbol in symbols or any(exported_by(libraries, r, symbol) for r in reexported)


def check_imports(macho, stubs):
    arch = {CPU_ARM64: "arm64", CPU_X86_64: "x86_64"}[macho.cputype]
    libraries = text_stubs(stubs, arch)
    ordinals = []
    for cmd, offset in macho.commands:
        if cmd in LIBRARY_COMMANDS:
            at = offset + struct.unpack_from("<I", macho.data, offset + 8)[0]
            ordinals.append(macho.data[at:macho.data.index(b"\0", at)].decode())
    missing = []
    for name, n_type, n_desc in macho.symbols():
        if n_type & 0xE0 or n_type & 0x0E != 0 or not n_type & 1:
            continue  # not an undefined external symbol
        ordinal = n_desc >> 8
        library = ordinals[ordinal - 1] if 1 <= ordinal <= len(ordinals) else None
        if library is None or not exported_by(libraries, library, name):
            missing.append(f"{name} ({library or f'ordinal {ordinal}'})")
    if missing:
        fail(f"{len(missing)} imports are in no stub of their library: {', '.join(missing[:5])}")


# --- signature ---------------------------------------------------------------

CS_ADHOC = 0x2
CS_LINKER_SIGNED = 0x20000
CS_EXECSEG_MAIN_BINARY = 0x1
HASH_SHA256 = 2


def check_signature(macho):
    _, directory = macho.code_directory()
    (_, _, version, flags, _, _, _, _, _, hash_size, hash_type, _, _, _, _, _, _,
     _, exec_base, exec_limit, exec_flags) = struct.unpack_from(
        ">IIIIIIIIIBBBBIIIIQQQQ", macho.data, directory)
    problems = []
    if flags & (CS_ADHOC | CS_LINKER_SIGNED) != CS_ADHOC | CS_LINKER_SIGNED:
        problems.append(f"flags {flags:#x} are not ad hoc and linker-signed")
    if (hash_type, hash_size) != (HASH_SHA256, 32):
        problems.append(f"hash type {hash_type} of {hash_size} bytes, not SHA-256")
    text = macho.segment("__TEXT")
    if version < 0x20400:
        problems.append(f"version {version:#x} has no executable segment fields")
    elif (exec_base, exec_limit) != (text[3], text[4]) or \
            not exec_flags & CS_EXECSEG_MAIN_BINARY:
        problems.append(f"executable segment {exec_base:#x}+{exec_limit:#x} flags"
                        f" {exec_flags:#x}, not __TEXT of a main executable")
    if problems:
        fail(", ".join(problems))


def check_pages(macho):
    """The kernel refuses arm64 code whose pages do not match the hashes in
    its code directory: a signature that is merely present is not enough."""
    signature, directory = macho.code_directory()
    (_, _, _, flags, hash_offset, _, _, code_slots, code_limit, hash_size,
     hash_type, _, page_shift) = struct.unpack_from(">IIIIIIIIIBBBB", macho.data, directory)
    hashes = {1: hashlib.sha1, 2: hashlib.sha256}
    if not flags & CS_ADHOC:
        fail("not signed ad hoc")
    if code_limit != signature:
        fail(f"signature covers {code_limit} bytes, the code ends at {signature}")
    if hash_type not in hashes:
        fail(f"unknown hash type {hash_type}")
    page = 1 << page_shift
    if code_slots != (code_limit + page - 1) // page:
        fail(f"{code_slots} page hashes for {code_limit} bytes")
    for i in range(code_slots):
        at = directory + hash_offset + i * hash_size
        actual = hashes[hash_type](macho.data[i * page:min((i + 1) * page, code_limit)])
        if actual.digest()[:hash_size] != macho.data[at:at + hash_size]:
            fail(f"page {i} does not match its hash")


# --- symbols -----------------------------------------------------------------

def check_stripped(macho):
    debug_map = [n for n, t, _ in macho.symbols() if t & 0xE0]
    local = [n for n, t, _ in macho.symbols() if not t & 0xE0 and not t & 1]
    if debug_map or local:
        example = next((n for n in debug_map if "/" in n), (debug_map + local)[0])
        fail(f"{len(local)} local symbols and {len(debug_map)} debug-map entries,"
             f" such as {example}")


# --- layout ------------------------------------------------------------------

# Room for one more load command after the others: codesign adds
# LC_CODE_SIGNATURE to a slice that has none.
HEADER_ROOM = 16


def check_layout(data):
    magic, count = struct.unpack_from(">II", data)
    if magic != 0xCAFEBABE:
        fail("not a universal file")
    for i in range(count):
        cputype, _, offset, size, align = struct.unpack_from(">iiIII", data, 8 + 20 * i)
        if cputype == CPU_ARM64 and align != 14:
            fail(f"the arm64 slice is aligned at 2^{align}, not at its 16 KiB pages")
        if offset % (1 << align):
            fail(f"the slice of CPU type {cputype:#x} at {offset} is not at 2^{align}")
        macho = MachO(data[offset:offset + size])
        room = min(o for a, s, o in macho.sections.values() if s and o) - 32 - macho.sizeofcmds
        if room < HEADER_ROOM:
            fail(f"the slice of CPU type {cputype:#x} leaves {room} bytes after its load"
                 f" commands, codesign needs {HEADER_ROOM}")


CHECKS = {
    "unwind": check_unwind,
    "frame-pointers": check_frame_pointers,
    "load-commands": check_load_commands,
    "signature": check_signature,
    "pages": check_pages,
    "stripped": check_stripped,
}


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in list(CHECKS) + ["layout", "imports"]:
        sys.exit(__doc__)
    check, path, *stubs = sys.argv[1:]
    with open(path, "rb") as f:
        data = f.read()
    try:
        if check == "layout":
            check_layout(data)
        elif check == "imports":
            check_imports(MachO(data), stubs)
        else:
            CHECKS[check](MachO(data))
    except (Failure, struct.error, IndexError, KeyError, TypeError, ValueError) as error:
        print(f"{path}: {error}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
