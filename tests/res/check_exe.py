#!/usr/bin/env python3
"""Orvane.exe read as a PE file, by a parser of its own: the header flags, the relocation records,
the resources (languages, both icon groups and their images, the version block's fixed part, the
manifest's bytes and elements) and the import table against the allow-list of functions that
Windows XP SP3 exports.

Usage: check_exe.py ORVANE_EXE ICO MANIFEST ALLOW_LIST
"""

import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

EXE_PATH, ICO_PATH, MANIFEST_PATH, ALLOW_LIST_PATH = sys.argv[1:5]
MAX_SIZE = 100 * 1024

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ENGLISH_US = 0x0409
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_32BIT_MACHINE = 0x0100
IMAGE_FILE_DLL = 0x2000
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x8000
IMPORT_DIRECTORY, RESOURCE_DIRECTORY, BASERELOC_DIRECTORY = 1, 2, 5

# (width and height, colour count, bits per pixel) of each image, in the icon groups' order.
ICON_IMAGES = [(32, 16, 4), (16, 16, 4), (48, 0, 8), (32, 0, 8), (16, 0, 8),
               (48, 0, 32), (32, 0, 32), (16, 0, 32)]


class PeFile:
    """The parts of a 32-bit PE image that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        (self.major_os, self.minor_os, _, _, self.major_subsystem,
         self.minor_subsystem) = struct.unpack_from("<6H", data, optional + 40)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directory_count = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directory_count)]
        self.sections = {}
        self.section_table = []
        table = optional + optional_size
        for i in range(sections):
            entry = table + 40 * i
            name = data[entry:entry + 8].rstrip(b"\0").decode("ascii")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
            self.sections[name] = (rva, max(virtual_size, raw_size))
            self.section_table.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def offset(self, rva):
        """The file offset of a relative virtual address."""
        for start, size, raw_offset, raw_size in self.section_table:
            if start <= rva < start + size and rva - start < raw_size:
                return raw_offset + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section's file data")

    def read(self, rva, size):
        start = self.offset(rva)
        return self.data[start:start + size]

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def relocation_blocks(self):
        """(page RVA, entry types) of each base relocation block."""
        rva, size = self.directories[BASERELOC_DIRECTORY]
        blocks, position = [], 0
        while position < size:
            page, block_size = struct.unpack_from("<II", self.read(rva + position, 8))
            if block_size < 8:
                raise ValueError("relocation block shorter than its header")
            entries = struct.unpack(f"<{(block_size - 8) // 2}H",
                                    self.read(rva + position + 8, block_size - 8))
            blocks.append((page, [entry >> 12 for entry in entries]))
            position += block_size
        return blocks

    def resources(self):
        """{(type, name, language): bytes} of every resource; numeric types and names only."""
        root = self.directories[RESOURCE_DIRECTORY][0]
        found = {}

        def entries(directory_rva):
            header = self.read(directory_rva, 16)
            named, numbered = struct.unpack_from("<HH", header, 12)
            for i in range(named + numbered):
                key, target = struct.unpack("<II", self.read(directory_rva + 16 + 8 * i, 8))
                if key & 0x80000000:
                    raise ValueError("resource named by a string; Orvane's are numbered")
                yield key, target

        for type_id, type_target in entries(root):
            for name_id, name_target in entries(root + (type_target & 0x7FFFFFFF)):
                for language, data_entry in entries(root + (name_target & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack("<II", self.read(root + data_entry, 8))
                    found[(type_id, name_id, language)] = self.read(data_rva, size)
        return found

    def imports(self):
        """(dll name, function name) of every import; ordinals come out as '#n'."""
        rva = self.directories[IMPORT_DIRECTORY][0]
        found = []
        while True:
            lookup, _, _, name_rva, address_table = struct.unpack("<5I", self.read(rva, 20))
            if name_rva == 0:
                return found
            dll = self.c_string(name_rva)
            thunk = lookup or address_table
            while True:
                value = struct.unpack("<I", self.read(thunk, 4))[0]
                if value == 0:
                    break
                function = f"#{value & 0xFFFF}" if value & 0x80000000 else self.c_string(value + 2)
                found.append((dll, function))
                thunk += 4
            rva += 20


def ico_images(data):
    """(directory entry fields, image bytes) of each image of a .ico file."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1), "not an icon file"
    images = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        images.append(((width, height, colours, planes, bits), data[offset:offset + size]))
    return images


def group_entries(group):
    """(width, height, colours, planes, bits, size, icon id) of each entry of an icon group."""
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    assert (reserved, kind) == (0, 1), "not an icon group"
    assert len(group) == 6 + 14 * count, "icon group of the wrong length"
    return [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]


def allow_list():
    """{(dll, function)} from the allow-list: one 'dll!Function' a line, '#' starts a comment."""
    allowed = set()
    with open(ALLOW_LIST_PATH, encoding="ascii") as lines:
        for line in lines:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split("!")
                allowed.add((dll.lower(), function))
    return allowed


class OrvaneExeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE_PATH, "rb") as exe:
            cls.data = exe.read()
        cls.pe = PeFile(cls.data)
        cls.resources = cls.pe.resources()
        with open(ICO_PATH, "rb") as ico:
            cls.ico = ico_images(ico.read())

    def test_is_small(self):
        self.assertLessEqual(len(self.data), MAX_SIZE)

    def test_is_a_32_bit_gui_executable_for_windows_xp_on(self):
        pe = self.pe
        self.assertEqual(pe.machine, 0x14C)
        self.assertEqual(pe.magic, 0x10B)
        expected = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE
        self.assertEqual(pe.characteristics & expected, expected)
        self.assertFalse(pe.characteristics & (IMAGE_FILE_DLL | IMAGE_FILE_RELOCS_STRIPPED))
        self.assertEqual(pe.subsystem, 2)
        self.assertEqual((pe.major_os, pe.minor_os), (5, 1))
        self.assertEqual((pe.major_subsystem, pe.minor_subsystem), (5, 1))

    def test_header_asks_for_nx_dynamic_base_and_terminal_services(self):
        wanted = NX_COMPAT | DYNAMIC_BASE | TERMINAL_SERVER_AWARE
        self.assertEqual(self.pe.dll_characteristics & wanted, wanted)

    def test_carries_the_relocation_records_a_moved_base_needs(self):
        rva, size = self.pe.directories[BASERELOC_DIRECTORY]
        self.assertGreater(size, 0)
        self.assertIn(".reloc", self.pe.sections)
        blocks = self.pe.relocation_blocks()
        self.assertTrue(blocks)
        highlow = sum(kinds.count(3) for _, kinds in blocks)
        self.assertGreater(highlow, 0, "no 32-bit address fix-ups")
        # Only 32-bit fix-ups and the padding entries that round a block up.
        self.assertEqual({kind for _, kinds in blocks for kind in kinds} - {0, 3}, set())

    def test_every_resource_is_us_english(self):
        languages = {key: key[2] for key in self.resources if key[2] != ENGLISH_US}
        self.assertEqual(languages, {})

    def test_carries_version_manifest_and_two_icon_groups(self):
        names = lambda kind: sorted(name for t, name, _ in self.resources if t == kind)
        self.assertEqual(names(RT_VERSION), [1])
        self.assertEqual(names(RT_MANIFEST), [1])
        self.assertEqual(names(RT_GROUP_ICON), [107, 108])
        self.assertEqual(len(names(RT_ICON)), 16)

    def test_icon_groups_list_the_eight_images_in_order(self):
        for group_id in (107, 108):
            with self.subTest(group=group_id):
                entries = group_entries(self.resources[(RT_GROUP_ICON, group_id, ENGLISH_US)])
                self.assertEqual([(w, h, colours, planes, bits)
                                  for w, h, colours, _, planes, bits, _, _ in entries],
                                 [(size, size, colours, 1, bits)
                                  for size, colours, bits in ICON_IMAGES])
                for width, _, _, _, _, bits, size, icon_id in entries:
                    image = self.resources[(RT_ICON, icon_id, ENGLISH_US)]
                    self.assertEqual(len(image), size)
                    header = struct.unpack_from("<IiiHH", image, 0)
                    self.assertEqual(header, (40, width, 2 * width, 1, bits))

    def test_both_groups_hold_the_images_of_the_icon_file(self):
        def images(group_id):
            entries = group_entries(self.resources[(RT_GROUP_ICON, group_id, ENGLISH_US)])
            return [self.resources[(RT_ICON, entry[7], ENGLISH_US)] for entry in entries]

        from_file = [image for _, image in self.ico]
        self.assertEqual(images(107), from_file)
        self.assertEqual(images(108), from_file)
        ids = lambda group_id: {entry[7] for entry in group_entries(
            self.resources[(RT_GROUP_ICON, group_id, ENGLISH_US)])}
        self.assertEqual(len(ids(107) | ids(108)), 16, "each group has images of its own")

    def test_version_block_fixed_part(self):
        block = self.resources[(RT_VERSION, 1, ENGLISH_US)]
        self.assertEqual(block[6:6 + 32], "VS_VERSION_INFO\0".encode("utf-16-le"))
        start = block.index(struct.pack("<I", 0xFEEF04BD))
        fields = struct.unpack_from("<13I", block, start)
        (_, struct_version, file_ms, file_ls, product_ms, product_ls, flags_mask, flags, os,
         file_type, subtype, date_ms, date_ls) = fields
        self.assertEqual((file_ms, file_ls), (0x00010000, 0x00010000))
        self.assertEqual((product_ms, product_ls), (0x00010000, 0x00000000))
        self.assertEqual((flags_mask, flags), (0x17, 0))
        self.assertEqual((os, file_type, subtype), (0x00000004, 0x00000001, 0))

    def test_manifest_is_the_file_byte_for_byte(self):
        with open(MANIFEST_PATH, "rb") as manifest:
            expected = manifest.read()
        self.assertEqual(self.resources[(RT_MANIFEST, 1, ENGLISH_US)], expected)

    def test_manifest_asks_only_to_run_as_the_invoker(self):
        text = self.resources[(RT_MANIFEST, 1, ENGLISH_US)].decode("utf-8")
        self.assertFalse(text.lstrip().startswith("<?xml"), "no XML declaration")
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        root = ElementTree.fromstring(text)
        self.assertEqual((root.tag, root.attrib), (v1 + "assembly", {"manifestVersion": "1.0"}))
        path = [v3 + "trustInfo", v3 + "security", v3 + "requestedPrivileges",
                v3 + "requestedExecutionLevel"]
        element = root
        for tag in path:
            children = list(element)
            self.assertEqual([child.tag for child in children], [tag])
            element = children[0]
        self.assertEqual(element.attrib, {"level": "asInvoker", "uiAccess": "false"})
        self.assertEqual(list(element), [])
        self.assertNotIn("Common-Controls", text)

    def test_imports_only_what_windows_xp_exports(self):
        imported = {(dll.lower().removesuffix(".dll"), function)
                    for dll, function in self.pe.imports()}
        allowed = allow_list()
        outside = sorted(f"{dll}!{function}" for dll, function in imported - allowed)
        self.assertEqual(outside, [], "imports outside " + ALLOW_LIST_PATH + ":\n" +
                         "\n".join(outside))
        dlls = {dll for dll, _ in imported}
        self.assertLessEqual(dlls, {"kernel32", "user32", "gdi32", "comdlg32", "msvcrt"})
        unused = sorted(f"{dll}!{function}" for dll, function in allowed - imported)
        if unused:
            print("allowed but not imported now:", " ".join(unused))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
