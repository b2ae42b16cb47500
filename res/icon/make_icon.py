#!/usr/bin/env python3
"""Draws Orvane's application icon and writes it as a Windows .ico file.

The picture: four coloured blocks, the bytes of a word, run as the shaft of an arrow pointing right;
below them the same blocks in reverse order run as an arrow pointing left. The shapes are laid out on
a 16-unit grid, so that at 16, 32 and 48 pixels every block edge falls on a pixel edge and stays sharp.

The file holds eight images, in the order the executable's icon groups list them: 32 and 16 pixels
in 16 colours, 48, 32 and 16 in 256 colours, 48, 32 and 16 in 32-bit colour with alpha. Each image is
a device-independent bitmap followed by its one-bit AND mask. The output depends on nothing but this
script, so the committed file can be checked against a fresh run.

Usage: make_icon.py OUTPUT.ico
"""

import struct
import sys

GRID = 16

# The 16-colour images use the standard VGA palette, whose entries every display can show exactly.
VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Each byte block: fill, edge and highlight in full colour; fill and edge in the VGA palette.
BYTE_COLOURS = [
    {"fill": (226, 62, 52), "edge": (150, 30, 26), "light": (246, 132, 120),
     "vga_fill": (255, 0, 0), "vga_edge": (128, 0, 0)},
    {"fill": (247, 184, 20), "edge": (168, 112, 0), "light": (252, 222, 120),
     "vga_fill": (255, 255, 0), "vga_edge": (128, 128, 0)},
    {"fill": (52, 168, 70), "edge": (24, 104, 38), "light": (130, 214, 140),
     "vga_fill": (0, 255, 0), "vga_edge": (0, 128, 0)},
    {"fill": (48, 110, 226), "edge": (20, 58, 150), "light": (130, 170, 246),
     "vga_fill": (0, 0, 255), "vga_edge": (0, 0, 128)},
]
HEAD = {"fill": (118, 134, 152), "edge": (44, 54, 68), "vga_fill": (128, 128, 128),
        "vga_edge": (0, 0, 0)}

# Shaft blocks of the upper arrow, as [left, right) on the grid; the lower arrow mirrors them.
BLOCK_SPANS = [(0, 2), (3, 5), (6, 8), (9, 11)]
UPPER_BLOCK_ROWS = (2, 6)
HEAD_BASE_X, HEAD_TIP_X = 12, 16
UPPER_HEAD_ROWS = (0.5, 7.5)
LOWER_OFFSET_Y = 8

SUPERSAMPLING = 8


class Block:
    """A byte: a grid-aligned rectangle with a one-pixel edge and highlight from 32 pixels up."""

    def __init__(self, left, top, right, bottom, colours):
        self.left, self.top, self.right, self.bottom = left, top, right, bottom
        self.colours = colours

    def colour_at(self, x, y, scale, palette_only):
        """The colour of pixel (x, y) at `scale` pixels per grid unit, or None outside."""
        left, top = self.left * scale, self.top * scale
        right, bottom = self.right * scale, self.bottom * scale
        if not (left <= x < right and top <= y < bottom):
            return None
        detailed = scale >= 2
        on_edge = detailed and (x in (left, right - 1) or y in (top, bottom - 1))
        if palette_only:
            return self.colours["vga_edge" if on_edge else "vga_fill"]
        if on_edge:
            return self.colours["edge"]
        if detailed and y == top + 1:
            return self.colours["light"]
        return self.colours["fill"]


class Head:
    """An arrow head: a triangle with its base upright at base_x and its tip at tip_x, drawn with a
    one-pixel outline from 32 pixels up so that it stands out on light and dark backgrounds alike."""

    def __init__(self, base_x, tip_x, top, bottom):
        middle = (top + bottom) / 2
        corners = [(base_x, top), (tip_x, middle), (base_x, bottom)]
        if tip_x < base_x:
            corners.reverse()
        # Each edge as a unit normal pointing inwards and an offset: inside where n.p - c >= 0.
        self.edges = []
        for (x0, y0), (x1, y1) in zip(corners, corners[1:] + corners[:1]):
            nx, ny = -(y1 - y0), x1 - x0
            length = (nx * nx + ny * ny) ** 0.5
            nx, ny = nx / length, ny / length
            self.edges.append((nx, ny, nx * x0 + ny * y0))

    def contains(self, gx, gy, inset):
        """Whether grid point (gx, gy) lies inside the triangle, at least `inset` from its edges."""
        return all(nx * gx + ny * gy - c >= inset for nx, ny, c in self.edges)

    def coverage(self, x, y, scale, inset_pixels):
        """The share of pixel (x, y) that the triangle, shrunk by inset_pixels, covers."""
        hits = 0
        for sy in range(SUPERSAMPLING):
            for sx in range(SUPERSAMPLING):
                gx = (x + (sx + 0.5) / SUPERSAMPLING) / scale
                gy = (y + (sy + 0.5) / SUPERSAMPLING) / scale
                hits += self.contains(gx, gy, inset_pixels / scale)
        return hits / (SUPERSAMPLING * SUPERSAMPLING)

    def colour_at(self, x, y, scale, palette_only):
        """Pixel (x, y) as (r, g, b, a), or None outside."""
        outer = self.coverage(x, y, scale, 0)
        if outer == 0:
            return None
        inner = self.coverage(x, y, scale, 1) if scale >= 2 else outer
        if palette_only:
            if outer < 0.5:
                return None
            return HEAD["vga_fill" if inner >= 0.5 else "vga_edge"] + (255,)
        edge, fill = HEAD["edge"], HEAD["fill"]
        share = inner / outer
        colour = tuple(round(f * share + e * (1 - share)) for f, e in zip(fill, edge))
        return colour + (round(outer * 255),)


def artwork():
    """The blocks and heads of both arrows."""
    blocks, heads = [], []
    upper_top, upper_bottom = UPPER_BLOCK_ROWS
    for (left, right), colours in zip(BLOCK_SPANS, BYTE_COLOURS):
        blocks.append(Block(left, upper_top, right, upper_bottom, colours))
        blocks.append(Block(GRID - right, upper_top + LOWER_OFFSET_Y, GRID - left,
                            upper_bottom + LOWER_OFFSET_Y, colours))
    head_top, head_bottom = UPPER_HEAD_ROWS
    heads.append(Head(HEAD_BASE_X, HEAD_TIP_X, head_top, head_bottom))
    heads.append(Head(GRID - HEAD_BASE_X, GRID - HEAD_TIP_X, head_top + LOWER_OFFSET_Y,
                      head_bottom + LOWER_OFFSET_Y))
    return blocks, heads


def render(size, palette_only):
    """Rows of (r, g, b, a) pixels, top row first. palette_only draws in VGA colours with hard edges."""
    scale = size // GRID
    blocks, heads = artwork()
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            pixel = (0, 0, 0, 0)
            for block in blocks:
                colour = block.colour_at(x, y, scale, palette_only)
                if colour:
                    pixel = colour + (255,)
            for head in heads:
                colour = head.colour_at(x, y, scale, palette_only)
                if colour:
                    pixel = colour
            row.append(pixel)
        rows.append(row)
    return rows


def row_stride(width, bits):
    """Bytes per bitmap row: rows are padded to whole 32-bit words."""
    return (width * bits + 31) // 32 * 4


def pack_indexed(rows, palette, bits):
    """The rows, bottom row first, as packed palette indices of `bits` bits each."""
    data = bytearray()
    per_byte = 8 // bits
    for row in reversed(rows):
        line = bytearray(row_stride(len(row), bits))
        for x, pixel in enumerate(row):
            index = palette.index(pixel[:3]) if pixel[3] else 0
            shift = (per_byte - 1 - x % per_byte) * bits
            line[x // per_byte] |= index << shift
        data += line
    return bytes(data)


def pack_bgra(rows):
    """The rows, bottom row first, as 32-bit BGRA pixels with the colour premultiplied nowhere."""
    data = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            if a == 0:
                r = g = b = 0
            data += bytes((b, g, r, a))
    return bytes(data)


def pack_mask(rows, opaque_from):
    """The AND mask, bottom row first: a set bit lets the background show through."""
    data = bytearray()
    for row in reversed(rows):
        line = bytearray(row_stride(len(row), 1))
        for x, pixel in enumerate(row):
            if pixel[3] < opaque_from:
                line[x // 8] |= 0x80 >> (x % 8)
        data += line
    return bytes(data)


def dib(size, bits):
    """One icon image: BITMAPINFOHEADER, palette if any, colour bits, AND mask."""
    if bits == 32:
        rows = render(size, palette_only=False)
        palette, pixels = [], pack_bgra(rows)
        mask = pack_mask(rows, opaque_from=1)
    else:
        rows = render(size, palette_only=(bits == 4))
        rows = [[p[:3] + (255 if p[3] >= 128 else 0,) for p in row] for row in rows]
        if bits == 4:
            palette = VGA_PALETTE
        else:
            palette = sorted({p[:3] for row in rows for p in row if p[3]} | {(0, 0, 0)})
            palette += [(0, 0, 0)] * (256 - len(palette))
        pixels = pack_indexed(rows, palette, bits)
        mask = pack_mask(rows, opaque_from=128)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    colour_table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + colour_table + pixels + mask


IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]


def icon_file():
    """The whole .ico: ICONDIR, one ICONDIRENTRY per image, then the images."""
    images = [dib(size, bits) for size, bits in IMAGES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for (size, bits), image in zip(IMAGES, images):
        colours = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as output:
        output.write(icon_file())


if __name__ == "__main__":
    main()
