#!/usr/bin/env python3
"""Writes Brenvik.ico: a handset with a download arrow, as a 32x32 and a 16x16 image of
16 colours (4 bits per pixel, the standard Windows palette, with a transparency mask).

The icon is committed; run this only to change it:  make-icon.py dialog/res/Brenvik.ico
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, DARK_CYAN, SILVER, GRAY, LIME, CYAN, WHITE, DARK_GREEN = 0, 4, 6, 7, 8, 10, 14, 15, 2
CLEAR = None


def handset(size):
    """Pixels (rows top to bottom) of the large picture, drawn on a 32-unit grid."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):  # inclusive corners on the 32 grid
        for y in range(int(y0 * s), int((y1 + 1) * s)):
            for x in range(int(x0 * s), int((x1 + 1) * s)):
                px[y][x] = colour

    rect(8, 1, 23, 30, BLACK)        # outline
    rect(9, 2, 22, 29, SILVER)       # body
    rect(21, 3, 22, 28, GRAY)        # shaded edge
    rect(10, 4, 20, 17, DARK_CYAN)   # screen frame
    rect(11, 5, 19, 16, CYAN)        # screen
    for row in range(3):             # keypad
        for col in range(3):
            rect(11 + col * 3, 20 + row * 3, 12 + col * 3, 21 + row * 3, NAVY)
    rect(14, 6, 16, 10, DARK_GREEN)  # arrow shaft
    for i in range(4):               # arrow head
        rect(12 + i, 11 + i, 18 - i, 11 + i, DARK_GREEN)
    rect(15, 6, 15, 13, LIME)        # highlight
    # Rounded corners.
    for x, y in ((8, 1), (23, 1), (8, 30), (23, 30)):
        rect(x, y, x, y, CLEAR)
    return px


# The small image, drawn pixel by pixel: scaling the large one loses the arrow.
SMALL = [
    "....kkkkkkkk....",
    "...kssssssssk...",
    "...kttttttgsk...",
    "...ktcc2ccggk...",
    "...ktcc2ccggk...",
    "...kt22222tgk...",
    "...ktc222ctgk...",
    "...ktcc2cctgk...",
    "...kttttttggk...",
    "...kssssssssk...",
    "...ksnsnsnsgk...",
    "...kssssssssk...",
    "...ksnsnsnsgk...",
    "...kssssssssk...",
    "...kssssssggk...",
    "....kkkkkkkk....",
]
SMALL_COLOURS = {".": CLEAR, "k": BLACK, "s": SILVER, "g": GRAY, "t": DARK_CYAN,
                 "c": CYAN, "2": DARK_GREEN, "n": NAVY}


def small():
    return [[SMALL_COLOURS[ch] for ch in row] for row in SMALL]


def dib(px):
    size = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    and_mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(px):  # bottom-up
        nibbles = [0 if c is None else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b"\0" * ((-len(line)) % 4)
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    return header + palette + bytes(xor) + bytes(and_mask)


def main():
    images = [dib(handset(32)), dib(small())]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
