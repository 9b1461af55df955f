#!/usr/bin/python3
"""Draws the window's pictures and writes them beside this script.

    browse-glyph.png        48 x 16, three 16 x 16 frames: normal, hot, pressed
    start-glyph.png         16 x 16, the start button's glyph
    program-icon-N.png      the program icon at 16, 24, 32, 48 and 128 pixels
    reindex.ico             the same five in 32-bit colour, and 16, 32 and 48
                            in 256 colours, for the Windows resource script

Every PNG is 8-bit RGBA with straight (not premultiplied) alpha. Only the
standard library is used, and the drawing is plain integer and float
arithmetic, so a run gives the same pixels everywhere.

    make-pictures.py            write the files
    make-pictures.py --check    compare the pixels of the files on disk with
                                what would be written; exit 1 on a difference
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

TRANSPARENT = (0, 0, 0, 0)


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [TRANSPARENT] * (width * height)

    def get(self, x, y):
        return self.pixels[y * self.width + x]

    def set(self, x, y, rgba):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = rgba

    def paste(self, other, left, top):
        for y in range(other.height):
            for x in range(other.width):
                self.set(left + x, top + y, other.get(x, y))

    def rgba_rows(self):
        rows = []
        for y in range(self.height):
            row = bytearray()
            for x in range(self.width):
                row.extend(self.get(x, y))
            rows.append(bytes(row))
        return rows


def over(dst, src):
    """Straight-alpha source-over of one pixel onto another."""
    sa = src[3] / 255.0
    da = dst[3] / 255.0
    oa = sa + da * (1.0 - sa)
    if oa <= 0.0:
        return TRANSPARENT
    channels = []
    for i in range(3):
        c = (src[i] * sa + dst[i] * da * (1.0 - sa)) / oa
        channels.append(int(round(c)))
    return (channels[0], channels[1], channels[2], int(round(oa * 255.0)))


# ---------------------------------------------------------------- shapes

def inside_polygon(px, py, points):
    """Even-odd test of a point against a closed polygon."""
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > py) != (yj > py):
            cross = xi + (py - yi) * (xj - xi) / (yj - yi)
            if px < cross:
                result = not result
        j = i
    return result


def pixel_set(width, height, test):
    """Pixels whose centres pass `test`."""
    return {(x, y) for y in range(height) for x in range(width) if test(x + 0.5, y + 0.5)}


def edge(pixels):
    """Pixels of a set that touch, side by side, a pixel outside it."""
    return {(x, y) for (x, y) in pixels
            if any((x + dx, y + dy) not in pixels for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))}


# ------------------------------------------------------------ browse glyph

SHEET_FILL = (242, 247, 255, 255)
SHEET_LINE = (58, 110, 192, 255)
SHEET_FOLD = (208, 224, 245, 255)
SHEET_FOLD_LINE = (112, 152, 214, 255)
LENS_FILL = (184, 220, 255, 255)
LENS_SHINE = (245, 251, 255, 255)
LENS_RIM = (31, 79, 154, 255)
HANDLE = (222, 170, 34, 255)
HANDLE_DARK = (150, 104, 8, 255)


def draw_sheet(canvas):
    # Columns 3 to 13, rows 1 to 14, the top-right corner folded down.
    left, top, right, bottom, fold = 3, 1, 13, 14, 4
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            cut = x - (right - fold + 1) > y - top  # beyond the fold's diagonal
            if cut:
                continue
            on_line = x in (left, right) or y in (top, bottom) or x - (right - fold + 1) == y - top
            canvas.set(x, y, SHEET_LINE if on_line else SHEET_FILL)
    # The folded-over flap: a small triangle under the diagonal.
    for y in range(top + 1, top + fold):
        for x in range(right - fold + 1, right + 1):
            d = x - (right - fold + 1)
            if d < y - top:
                on_line = x == right - fold + 1 or y == top + fold - 1
                canvas.set(x, y, SHEET_FOLD_LINE if on_line else SHEET_FOLD)


def draw_magnifier(canvas):
    cx, cy, radius = 9.0, 9.5, 3.6
    lens = pixel_set(16, 16, lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius)
    rim = edge(lens)
    # The handle leaves the lens towards the lower-left corner.
    ax, ay, bx, by = 6.3, 11.7, 1.7, 13.7

    def near_handle(x, y):
        t = ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)
        t = max(0.0, min(1.0, t))
        qx, qy = ax + t * (bx - ax), ay + t * (by - ay)
        return (x - qx) ** 2 + (y - qy) ** 2 <= 0.95 ** 2

    handle = pixel_set(16, 16, near_handle) - lens
    handle_edge = {(x, y) for (x, y) in handle if (x, y + 1) not in handle and (x, y + 1) not in lens}
    for (x, y) in handle:
        canvas.set(x, y, HANDLE_DARK if (x, y) in handle_edge else HANDLE)
    for (x, y) in lens:
        canvas.set(x, y, LENS_RIM if (x, y) in rim else LENS_FILL)
    for (x, y) in ((8, 8), (7, 9), (8, 9)):
        canvas.set(x, y, LENS_SHINE)


def darker_greyer(rgba):
    r, g, b, a = rgba
    if a == 0:
        return rgba
    grey = (r * 30 + g * 59 + b * 11) // 100
    mixed = [(c * 6 + grey * 4) // 10 for c in (r, g, b)]
    return tuple(c * 82 // 100 for c in mixed) + (a,)


def browse_glyph():
    normal = Canvas(16, 16)
    draw_sheet(normal)
    hot = Canvas(16, 16)
    draw_sheet(hot)
    draw_magnifier(hot)
    pressed = Canvas(16, 16)
    pressed.pixels = [darker_greyer(p) for p in hot.pixels]
    strip = Canvas(48, 16)
    for i, frame in enumerate((normal, hot, pressed)):
        strip.paste(frame, 16 * i, 0)
    return strip


# ------------------------------------------------------------- start glyph

ARROW_FILL = (112, 222, 44, 255)
ARROW_LINE = (24, 98, 18, 255)
ARROW_SHINE = (214, 255, 186, 255)


def arrows(width, height, scale):
    """The two arrows as pixel sets, drawn on a 16-unit grid scaled to the size."""
    # Upper: shaft rows 1 to 5 from column 1, head columns 9 to 13, rows 0 to 6.
    right_arrow = [(1, 1), (9, 1), (9, -0.3), (14, 3.5), (9, 7.3), (9, 6), (1, 6)]
    # Lower: head columns 3 to 8, rows 8 to 14; the shaft sweeps up to rows 7
    # to 9 at the right edge.
    left_arrow = [(9, 9), (11.5, 9), (14, 6.6), (16, 6.6), (16, 10.4), (15.2, 10.4),
                  (12.4, 13.9), (9, 13.9), (9, 15.2), (2.6, 11.5), (9, 7.8)]
    upper = pixel_set(width, height, lambda x, y: inside_polygon(x / scale, y / scale, right_arrow))
    lower = pixel_set(width, height, lambda x, y: inside_polygon(x / scale, y / scale, left_arrow))
    # Where the shafts run, in grid units: their tops catch the light.
    shafts = ((1, 9), (9, 16))
    return upper, lower, shafts


def draw_arrows(canvas, upper, lower, shadow_depth, shafts, scale):
    both = upper | lower
    # A soft black shadow under the lower edge of each arrow, fading downwards
    # from 20 to 8 percent.
    strengths = [int(round(51 - 31 * i / (shadow_depth - 1))) for i in range(shadow_depth)]
    for shape in (upper, lower):
        for (x, y) in shape:
            if (x, y + 1) in shape:
                continue
            for depth, alpha in enumerate(strengths, start=1):
                spot = (x, y + depth)
                if spot in both or spot[1] >= canvas.height:
                    break
                if canvas.get(*spot)[3] < alpha:
                    canvas.set(spot[0], spot[1], (0, 0, 0, alpha))
    for shape, (shaft_from, shaft_to) in zip((upper, lower), shafts):
        outline = edge(shape)
        for (x, y) in shape:
            in_shaft = shaft_from * scale <= x + 0.5 < shaft_to * scale - 1
            if (x, y) in outline:
                canvas.set(x, y, ARROW_LINE)
            elif in_shaft and (x, y - 1) in outline and (x, y - 2) not in shape:
                canvas.set(x, y, ARROW_SHINE)
            else:
                canvas.set(x, y, ARROW_FILL)


def start_glyph():
    canvas = Canvas(16, 16)
    upper, lower, shafts = arrows(16, 16, 1.0)
    draw_arrows(canvas, upper, lower, 2, shafts, 1.0)
    return canvas


# ------------------------------------------------------------ program icon

def program_icon(size):
    """A database drum with the two arrows over its lower right, supersampled."""
    samples = 4
    canvas = Canvas(size, size)
    u = size / 16.0

    drum_body = (96, 128, 176)
    drum_top = (160, 190, 228)
    drum_line = (40, 64, 110)
    left, right = 1.0 * u, 11.0 * u
    cx = (left + right) / 2
    rx = (right - left) / 2
    ry = 1.6 * u
    top, bottom = 2.5 * u, 12.5 * u
    line = max(0.6, 0.06 * size)

    def drum_colour(x, y):
        inside_body = left <= x <= right and top <= y <= bottom
        in_bottom_cap = ((x - cx) / rx) ** 2 + ((y - bottom) / ry) ** 2 <= 1.0
        in_top_cap = ((x - cx) / rx) ** 2 + ((y - top) / ry) ** 2 <= 1.0
        if not (inside_body or in_bottom_cap or in_top_cap):
            return None
        near_side = x - left < line or right - x < line
        outer_bottom = in_bottom_cap and ((x - cx) / (rx - line)) ** 2 + ((y - bottom) / (ry - line)) ** 2 > 1.0 \
            and y > bottom
        top_ring = in_top_cap and ((x - cx) / (rx - line)) ** 2 + ((y - top) / (ry - line)) ** 2 > 1.0
        if near_side or outer_bottom or top_ring:
            return drum_line
        if in_top_cap:
            return drum_top
        # Two bands across the body, as a stack of discs.
        for band in (top + (bottom - top) / 3, top + 2 * (bottom - top) / 3):
            d = ((x - cx) / rx) ** 2 + ((y - band) / ry) ** 2
            if y > band and d <= 1.0 and ((x - cx) / rx) ** 2 + ((y - band - line) / ry) ** 2 > 1.0:
                return drum_line
        shade = 0.75 + 0.25 * math.cos((x - cx) / rx * 1.2)
        return tuple(int(c * shade) for c in drum_body)

    for py in range(size):
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = drum_colour(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples)
                    if colour is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if hits:
                canvas.set(px, py, tuple(int(round(acc[i] / hits)) for i in range(3))
                           + (int(round(255 * hits / (samples * samples))),))

    # The arrows, a little smaller, over the drum's lower right.
    box = int(round(size * 0.62))
    arrows_canvas = Canvas(box, box)
    upper, lower, shafts = arrows(box, box, box / 16.0)
    draw_arrows(arrows_canvas, upper, lower, max(2, box // 8), shafts, box / 16.0)
    offset = size - box
    for y in range(box):
        for x in range(box):
            src = arrows_canvas.get(x, y)
            if src[3]:
                canvas.set(offset + x, offset + y, over(canvas.get(offset + x, offset + y), src))
    return canvas


# ------------------------------------------------------------------ files

def png_bytes(canvas):
    raw = b"".join(b"\x00" + row for row in canvas.rgba_rows())

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def png_pixels(data):
    """Size and RGBA rows of a PNG this script wrote (filter 0, no interlace)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos = 8
    width = height = None
    idat = b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                raise ValueError("not 8-bit RGBA without interlace")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = 1 + width * 4
    rows = []
    for y in range(height):
        line = raw[y * stride:(y + 1) * stride]
        if line[0] != 0:
            raise ValueError("filtered rows are not read back")
        rows.append(bytes(line[1:]))
    return width, height, rows


def icon_palette():
    """256 colours: a 6 x 6 x 6 cube and a grey ramp; entry 0 stands for transparency."""
    palette = [(0, 0, 0)]
    for r in range(6):
        for g in range(6):
            for b in range(6):
                palette.append((r * 51, g * 51, b * 51))
    while len(palette) < 256:
        level = (len(palette) - 217) * 255 // 38
        palette.append((level, level, level))
    return palette


def nearest(palette, rgb):
    best, best_d = 1, None
    for i in range(1, len(palette)):
        p = palette[i]
        d = (p[0] - rgb[0]) ** 2 + (p[1] - rgb[1]) ** 2 + (p[2] - rgb[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def and_mask(canvas, opaque):
    stride = ((canvas.width + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(canvas.height)):
        row = bytearray(stride)
        for x in range(canvas.width):
            if not opaque(canvas.get(x, y)):
                row[x // 8] |= 0x80 >> (x % 8)
        out.extend(row)
    return bytes(out)


def bitmap_header(canvas, bits, colours):
    return struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def icon_image_32(canvas):
    pixels = bytearray()
    for y in reversed(range(canvas.height)):
        for x in range(canvas.width):
            r, g, b, a = canvas.get(x, y)
            pixels.extend((b, g, r, a))
    return bitmap_header(canvas, 32, 0) + bytes(pixels) + and_mask(canvas, lambda p: p[3] > 0)


def icon_image_8(canvas):
    palette = icon_palette()
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    stride = (canvas.width + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(canvas.height)):
        row = bytearray(stride)
        for x in range(canvas.width):
            r, g, b, a = canvas.get(x, y)
            row[x] = nearest(palette, (r, g, b)) if a >= 128 else 0
        pixels.extend(row)
    return bitmap_header(canvas, 8, 256) + table + bytes(pixels) + and_mask(canvas, lambda p: p[3] >= 128)


def ico_bytes(images):
    """images: (canvas, bits) pairs."""
    blobs = [icon_image_32(c) if bits == 32 else icon_image_8(c) for (c, bits) in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (canvas, bits), blob in zip(images, blobs):
        side = canvas.width if canvas.width < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


ICON_SIZES_32 = (16, 24, 32, 48, 128)
ICON_SIZES_8 = (16, 32, 48)


def pictures():
    icons = {size: program_icon(size) for size in ICON_SIZES_32}
    files = {
        "browse-glyph.png": browse_glyph(),
        "start-glyph.png": start_glyph(),
    }
    for size, canvas in icons.items():
        files["program-icon-%d.png" % size] = canvas
    ico = ico_bytes([(icons[s], 8) for s in ICON_SIZES_8] + [(icons[s], 32) for s in ICON_SIZES_32])
    return files, ico


def main(argv):
    files, ico = pictures()
    if argv[1:] == ["--check"]:
        stale = []
        for name, canvas in files.items():
            path = os.path.join(HERE, name)
            try:
                with open(path, "rb") as f:
                    width, height, rows = png_pixels(f.read())
            except (OSError, ValueError) as failure:
                stale.append("%s: %s" % (name, failure))
                continue
            if (width, height, rows) != (canvas.width, canvas.height, canvas.rgba_rows()):
                stale.append(name)
        try:
            with open(os.path.join(HERE, "reindex.ico"), "rb") as f:
                if f.read() != ico:
                    stale.append("reindex.ico")
        except OSError as failure:
            stale.append("reindex.ico: %s" % failure)
        for name in stale:
            print("out of date: " + name, file=sys.stderr)
        return 1 if stale else 0
    if argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    for name, canvas in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(png_bytes(canvas))
    with open(os.path.join(HERE, "reindex.ico"), "wb") as f:
        f.write(ico)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
