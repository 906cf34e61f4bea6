#!/usr/bin/env python3
"""Draws kelvo's built-in pictures: resources/setup.ico (the setup program's
icon, 32x32 and 16x16 in 16 colours) and resources/wizard.bmp (the side
picture of the wizard, 8 bits per pixel). Both show the same motif, an arrow
going down into an open box, so the output is the same on every run.

    python3 scripts/make-default-art.py [OUTPUT_FOLDER]   (default: resources)
"""
import struct
import sys
from pathlib import Path

# The side picture fills the frame's picture area: 84 x 160 dialog units at
# 8-point MS Sans Serif and 96 dpi (6 x 13 pixel base units).
PICTURE_WIDTH, PICTURE_HEIGHT = 126, 260

# The motif, in a 32 x 32 design grid; y grows downwards.
LEFT_FLAP = [(6, 16), (15, 16), (11, 11), (2, 11)]
RIGHT_FLAP = [(16, 16), (25, 16), (29, 11), (20, 11)]
BOX_FRONT = [(6, 16), (26, 16), (26, 30), (6, 30)]
ARROW = [(13, 1), (19, 1), (19, 9), (23, 9), (16, 17), (9, 9), (13, 9)]


def inside(polygon, x, y):
    """Even-odd test of the point (x, y) against the polygon."""
    result = False
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def rasterise(polygon, size, scale, offset=(0.0, 0.0)):
    """The pixels of a size[0] x size[1] grid whose centres lie in the polygon,
    the design grid being scaled by `scale` and moved by `offset` pixels."""
    ox, oy = offset
    return {(x, y) for y in range(size[1]) for x in range(size[0])
            if inside(polygon, (x + 0.5 - ox) / scale, (y + 0.5 - oy) / scale)}


def edge(pixels):
    """The pixels of a shape that touch its outside (4-neighbourhood)."""
    return {(x, y) for (x, y) in pixels
            if any(n not in pixels for n in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)))}


# ---------------------------------------------------------------------------
# Icon: 4 bits per pixel with the standard 16-colour palette.

VGA_PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
               (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
               (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, OLIVE, NAVY, BLUE, YELLOW = 0, 3, 4, 12, 11


def icon_pixels(size):
    """Colour index per pixel (None = transparent), later shapes in front."""
    scale = size / 32
    layers = [(LEFT_FLAP, YELLOW, BLACK), (RIGHT_FLAP, YELLOW, BLACK), (ARROW, BLUE, NAVY), (BOX_FRONT, OLIVE, BLACK)]
    image = {}
    for polygon, fill, outline in layers:
        shape = rasterise(polygon, (size, size), scale)
        border = edge(shape)
        for p in shape:
            image[p] = outline if p in border else fill
    return image


def row_padding(byte_count):
    return (4 - byte_count % 4) % 4


def icon_image(size):
    """One icon image: header, palette, colour bits and mask, rows bottom-up."""
    image = icon_pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA_PALETTE)
    colours, mask = b"", b""
    for y in reversed(range(size)):
        row = [image.get((x, y), BLACK) for x in range(size)]
        packed = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        colours += packed + b"\0" * row_padding(len(packed))
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (0 if (x, y) in image else 1)
        mask_row = bits.to_bytes(size // 8, "big")
        mask += mask_row + b"\0" * row_padding(len(mask_row))
    return header + palette + colours + mask


def icon_file(sizes):
    images = [icon_image(s) for s in sizes]
    directory_size = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = directory_size
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


# ---------------------------------------------------------------------------
# Side picture: 8 bits per pixel. Entries 0-9 and 246-255 hold the static
# system colours, which a 256-colour display keeps for itself; the picture
# uses only the entries between them.

SYSTEM_LOW = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
              (192, 192, 192), (192, 220, 192), (166, 202, 240)]
SYSTEM_HIGH = [(255, 251, 240), (160, 160, 164), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
               (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
FIRST_FREE_ENTRY = len(SYSTEM_LOW)
GRADIENT_STEPS = 78  # three layers of 78 fit the 236 free entries
TOP_COLOUR, BOTTOM_COLOUR = (10, 20, 90), (30, 140, 150)
LAYER_TINTS = [0.0, 0.22, 0.5]  # background, box, arrow and outlines: blended with white
BAYER_4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def gradient_colour(step, tint):
    t = step / (GRADIENT_STEPS - 1)
    base = [a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR)]
    return tuple(round(c + (255 - c) * tint) for c in base)


def picture_palette():
    free = [gradient_colour(step, tint) for tint in LAYER_TINTS for step in range(GRADIENT_STEPS)]
    unused = [(0, 0, 0)] * (256 - len(SYSTEM_LOW) - len(free) - len(SYSTEM_HIGH))
    return SYSTEM_LOW + free + unused + SYSTEM_HIGH


def picture_layers():
    """Layer number per pixel: the motif, 3.5 times the design size, near the bottom."""
    scale = 3.5
    offset = ((PICTURE_WIDTH - 32 * scale) / 2, PICTURE_HEIGHT - 32 * scale - 24)
    size = (PICTURE_WIDTH, PICTURE_HEIGHT)
    layers = {}
    for polygon, fill, outline in [(LEFT_FLAP, 1, 2), (RIGHT_FLAP, 1, 2), (ARROW, 2, 2), (BOX_FRONT, 1, 2)]:
        shape = rasterise(polygon, size, scale, offset)
        border = edge(shape)
        for p in shape:
            layers[p] = outline if p in border else fill
    return layers


def picture_index(x, y, layer):
    """Palette entry of a pixel: its row's place in the gradient, dithered
    between two neighbouring steps so no bands show."""
    exact = y * (GRADIENT_STEPS - 1) / (PICTURE_HEIGHT - 1)
    step = int(exact)
    if exact - step > (BAYER_4[y % 4][x % 4] + 0.5) / 16:
        step += 1
    return FIRST_FREE_ENTRY + layer * GRADIENT_STEPS + min(step, GRADIENT_STEPS - 1)


def bitmap_file():
    palette = picture_palette()
    assert len(palette) == 256
    layers = picture_layers()
    stride = PICTURE_WIDTH + row_padding(PICTURE_WIDTH)
    pixels = b""
    for y in reversed(range(PICTURE_HEIGHT)):
        row = bytes(picture_index(x, y, layers.get((x, y), 0)) for x in range(PICTURE_WIDTH))
        pixels += row + b"\0" * (stride - PICTURE_WIDTH)
    colour_table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    bits_offset = 14 + 40 + len(colour_table)
    info = struct.pack("<IiiHHIIiiII", 40, PICTURE_WIDTH, PICTURE_HEIGHT, 1, 8, 0, len(pixels), 3780, 3780, 256, 0)
    file_header = struct.pack("<2sIHHI", b"BM", bits_offset + len(pixels), 0, 0, bits_offset)
    return file_header + info + colour_table + pixels


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources")
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "setup.ico").write_bytes(icon_file([32, 16]))
    (folder / "wizard.bmp").write_bytes(bitmap_file())


if __name__ == "__main__":
    main()
