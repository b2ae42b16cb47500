#!/usr/bin/env python3
"""The Windows executable read as a PE file with Debian's pefile: the header flags, time stamp and
checksum, the relocation records, the resources (languages, both icon groups and their images, the
version block's fixed part, the manifest's bytes and elements) and the imports: from the system's
DLLs only, and for the 32-bit Orvane.exe only functions that Windows XP SP3 exports, from the
allow-list.

Usage: check_exe.py BITS EXE ICO MANIFEST ALLOW_LIST   (BITS: 32 for Orvane.exe, 64 for Orvane64.exe)
"""

import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

BITS = int(sys.argv[1])
EXE_PATH, ICO_PATH, MANIFEST_PATH, ALLOW_LIST_PATH = sys.argv[2:6]
MAX_SIZE = 100 * 1024

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ENGLISH_US = 0x0409
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_32BIT_MACHINE = 0x0100
IMAGE_FILE_DLL = 0x2000
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x8000
SYSTEM_DLLS = {"kernel32", "user32", "gdi32", "msvcrt"}

# What tells the two builds apart: machine, optional header magic, the oldest Windows of the kind
# (XP; XP x64 for 64 bits), and the kind of address fix-up (HIGHLOW, DIR64).
BUILD = {
    32: {"machine": 0x14C, "magic": 0x10B, "windows": (5, 1), "fixup": 3},
    64: {"machine": 0x8664, "magic": 0x20B, "windows": (5, 2), "fixup": 10},
}[BITS]

# (width and height, colour count, bits per pixel) of each image, in the icon groups' order.
ICON_IMAGES = [(32, 16, 4), (16, 16, 4), (48, 0, 8), (32, 0, 8), (16, 0, 8),
               (48, 0, 32), (32, 0, 32), (16, 0, 32)]


def resources(pe):
    """{(type, name, language): bytes} of every resource; numeric types and names only."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                if kind.id is None or name.id is None:
                    raise ValueError("resource named by a string; Orvane's are numbered")
                data = language.data.struct
                found[(kind.id, name.id, language.id)] = pe.get_data(data.OffsetToData, data.Size)
    return found


def imports(pe):
    """(dll name without '.dll', lower case; function name) of every import, ordinals as '#n'."""
    return {(entry.dll.decode("ascii").lower().removesuffix(".dll"),
             function.name.decode("ascii") if function.name else f"#{function.ordinal}")
            for entry in pe.DIRECTORY_ENTRY_IMPORT for function in entry.imports}


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
        cls.pe = pefile.PE(data=cls.data)
        cls.resources = resources(cls.pe)
        with open(ICO_PATH, "rb") as ico:
            cls.ico = ico_images(ico.read())

    def test_is_small(self):
        self.assertLessEqual(len(self.data), MAX_SIZE)

    def test_is_a_gui_executable_for_the_oldest_windows_of_its_kind(self):
        header, optional = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Machine, BUILD["machine"])
        self.assertEqual(optional.Magic, BUILD["magic"])
        self.assertTrue(header.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE)
        self.assertEqual(bool(header.Characteristics & IMAGE_FILE_32BIT_MACHINE), BITS == 32)
        self.assertFalse(header.Characteristics & (IMAGE_FILE_DLL | IMAGE_FILE_RELOCS_STRIPPED))
        self.assertEqual(optional.Subsystem, 2)
        self.assertEqual((optional.MajorOperatingSystemVersion,
                          optional.MinorOperatingSystemVersion), BUILD["windows"])
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion),
                         BUILD["windows"])

    def test_header_asks_for_nx_dynamic_base_and_terminal_services(self):
        wanted = NX_COMPAT | DYNAMIC_BASE | TERMINAL_SERVER_AWARE
        self.assertEqual(self.pe.OPTIONAL_HEADER.DllCharacteristics & wanted, wanted)

    def test_header_holds_no_build_time_and_a_true_checksum(self):
        # A rebuild of the same sources gives the same bytes; a checksum, where one is set, is then
        # still the file's own.
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        self.assertIn(self.pe.OPTIONAL_HEADER.CheckSum, (0, self.pe.generate_checksum()))

    def test_carries_the_relocation_records_a_moved_base_needs(self):
        blocks = getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])
        self.assertTrue(blocks)
        kinds = [entry.type for block in blocks for entry in block.entries]
        self.assertGreater(kinds.count(BUILD["fixup"]), 0, "no address fix-ups")
        # Only fix-ups of the build's address size and the padding entries that round a block up.
        self.assertEqual(set(kinds) - {0, BUILD["fixup"]}, set())

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

    def test_imports_only_from_the_system_dlls(self):
        # The common dialogs are loaded when Browse is first used, never imported.
        self.assertLessEqual({dll for dll, _ in imports(self.pe)}, SYSTEM_DLLS)

    @unittest.skipUnless(BITS == 32, "the allow-list holds Windows XP's 32-bit exports")
    def test_imports_only_what_windows_xp_exports(self):
        imported = imports(self.pe)
        allowed = allow_list()
        outside = sorted(f"{dll}!{function}" for dll, function in imported - allowed)
        self.assertEqual(outside, [], "imports outside " + ALLOW_LIST_PATH + ":\n" +
                         "\n".join(outside))
        unused = sorted(f"{dll}!{function}" for dll, function in allowed - imported)
        if unused:
            print("allowed but not imported now:", " ".join(unused))

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[6:], verbosity=2)
