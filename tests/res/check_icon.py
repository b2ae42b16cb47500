#!/usr/bin/env python3
"""The committed icon file is what its generator draws now: a change to the drawing that was not
regenerated, or a file edited by hand, fails here and names the images that differ.

Usage: check_icon.py MAKE_ICON_PY COMMITTED_ICO
"""

import runpy
import struct
import sys


def images(data):
    """(width, bits per pixel, bytes) of each image of an .ico file."""
    count = struct.unpack_from("<H", data, 4)[0]
    found = []
    for i in range(count):
        width, _, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        found.append((width, bits, data[offset:offset + size]))
    return found


def main():
    generator_path, committed_path = sys.argv[1:3]
    fresh = runpy.run_path(generator_path)["icon_file"]()
    with open(committed_path, "rb") as committed_file:
        committed = committed_file.read()
    if fresh == committed:
        print(f"{committed_path}: {len(images(committed))} images, as generated")
        return 0
    print(f"{committed_path} differs from what {generator_path} generates; run it to regenerate.")
    old, new = images(committed), images(fresh)
    if len(old) != len(new):
        print(f"  {len(old)} images committed, {len(new)} generated")
    for index, (was, now) in enumerate(zip(old, new)):
        if was != now:
            print(f"  image {index + 1}: committed {was[0]} px {was[1]} bpp, generated "
                  f"{now[0]} px {now[1]} bpp, contents differ")
    return 1


if __name__ == "__main__":
    sys.exit(main())
