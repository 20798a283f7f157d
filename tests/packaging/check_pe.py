#!/usr/bin/env python3
"""Checks the PE headers of the shipped Windows files: what Windows needs to
load them at a random address (ASLR, with 64-bit addresses) with data that
cannot run (DEP), and for kvelmar.exe what it ships: no debug information but
a debug link to the kvelmar.debug beside it, a stack protector linked in, no
DLL but the system's, and no link time in the header.

Usage: check_pe.py PROGRAM.exe INSTALLER.exe

The installer's stub comes prebuilt with Debian's nsis, linked without base
relocations: makensis sets its ASLR flags, but the loader cannot move it.
That is printed, not failed.
"""
import os
import struct
import sys
import zlib

HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001
SECURITY_FLAGS = {"DYNAMIC_BASE": DYNAMIC_BASE, "HIGH_ENTROPY_VA": HIGH_ENTROPY_VA,
                  "NX_COMPAT": NX_COMPAT}
# The run-time libraries that a static link puts inside the program.
RUNTIME_DLLS = ("libssp-0.dll", "libwinpthread-1.dll", "libstdc++-6.dll", "libgcc_s_seh-1.dll")


class Image:
    """The parts of a PE32+ file that the checks read."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError("%s is no PE file" % path)
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s is no PE file" % path)
        (_, sections, self.timestamp, self.symbols_at, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("%s is no 64-bit (PE32+) image" % path)
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i)
                            for i in range(struct.unpack_from("<I", data, optional + 108)[0])]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((self.long_name(name), rva, virtual_size, raw_at, raw_size))

    def strings_at(self):
        return self.symbols_at + 18 * self.symbol_count

    def long_name(self, name):
        # "/n": the name stands at offset n of the COFF string table.
        if name.startswith("/") and self.symbols_at:
            at = self.strings_at() + int(name[1:])
            return self.data[at:self.data.index(b"\0", at)].decode("latin-1")
        return name

    def section(self, name):
        for section, _, size, raw_at, raw_size in self.sections:
            if section == name:
                return self.data[raw_at:raw_at + min(size, raw_size)]
        return None

    def offset(self, rva):
        for _, start, size, raw_at, raw_size in self.sections:
            if start <= rva < start + max(size, raw_size):
                return raw_at + rva - start
        raise ValueError("RVA %#x lies in no section" % rva)

    def imported_dlls(self):
        rva, size = self.directories[1]
        names = []
        at = self.offset(rva) if size else None
        while at is not None:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                break
            name_at = self.offset(name_rva)
            names.append(self.data[name_at:self.data.index(b"\0", name_at)].decode("latin-1"))
            at += 20
        return names

    def symbol_names(self):
        names = set()
        i = 0
        while i < self.symbol_count:
            at = self.symbols_at + 18 * i
            raw = self.data[at:at + 8]
            if raw[:4] == b"\0\0\0\0":
                start = self.strings_at() + struct.unpack_from("<I", raw, 4)[0]
                names.add(self.data[start:self.data.index(b"\0", start)].decode("latin-1"))
            else:
                names.add(raw.rstrip(b"\0").decode("latin-1"))
            i += 1 + self.data[at + 17]  # the symbol and its auxiliary records
        return names


def check_flags(image):
    return ["%s is not set" % name for name, bit in SECURITY_FLAGS.items()
            if not image.dll_characteristics & bit]


def check_program(path):
    image = Image(path)
    faults = check_flags(image)
    if image.characteristics & RELOCS_STRIPPED or not image.directories[5][1]:
        faults.append("the base relocations are stripped: ASLR cannot move the program")
    if image.timestamp != 0:
        faults.append("the header holds a link time (%d): no two builds are the same" % image.timestamp)
    debug = [name for name, *_ in image.sections if name.startswith(".debug")]
    if debug:
        faults.append("debug information is inside: " + ", ".join(debug))
    faults += ["it needs %s beside it" % dll for dll in image.imported_dlls()
               if dll.lower() in RUNTIME_DLLS]
    link = image.section(".gnu_debuglink")
    if link is None:
        faults.append("no debug link")
        return faults
    name = link[:link.index(b"\0")].decode("latin-1")
    crc = struct.unpack_from("<I", link, len(link) - 4)[0]
    debug_path = os.path.join(os.path.dirname(path), name)
    if not os.path.isfile(debug_path):
        faults.append("its debug link names %s, which is not beside it" % name)
        return faults
    with open(debug_path, "rb") as f:
        if zlib.crc32(f.read()) != crc:
            faults.append("its debug link's checksum does not match %s" % name)
    if "__stack_chk_fail" not in Image(debug_path).symbol_names():
        faults.append("no stack protector is linked in (__stack_chk_fail)")
    return faults


def check_installer(path):
    image = Image(path)
    if image.characteristics & RELOCS_STRIPPED:
        print("check_pe: %s: the installer stub of Debian's nsis has no base relocations; "
              "its ASLR flags cannot move it" % os.path.basename(path))
    return check_flags(image)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for path, check in ((sys.argv[1], check_program), (sys.argv[2], check_installer)):
        for fault in check(path):
            print("check_pe: %s: %s" % (os.path.basename(path), fault))
            failed = True
    if not failed:
        print("check_pe: %s and %s: DYNAMIC_BASE, HIGH_ENTROPY_VA and NX_COMPAT set; the program "
              "relocatable, stripped, with its debug link" % tuple(map(os.path.basename, sys.argv[1:])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
