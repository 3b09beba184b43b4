#!/usr/bin/env python3
"""Joins HEIC files of equal tiles into one HEIC whose primary image is a grid
of them, as phones store their photos (512 x 512 tiles): heif-enc writes only
single images.

  heic_grid.py [--irot ANGLE] [--imir MODE] [--icc PROFILE] [--exif TIFF]
               OUT COLUMNS ROWS WIDTH HEIGHT TILE.heic...

The tiles are given row by row; WIDTH x HEIGHT is the picture the grid is cut
to (ISO/IEC 23008-12, 6.6.2.3). Every tile must come from the same encoder
settings: the grid's tiles share the first tile's decoder configuration.
--irot and --imir give the grid the turn (ANGLE quarter turns anticlockwise)
and the mirror (MODE 0 top to bottom, 1 left to right) a phone's photo may
carry. --icc gives the grid a colour profile (a colr box of type prof), and
--exif an Exif item describing it (the EXIF block from its TIFF header on),
as a phone's photo carries them.
"""
import struct
import sys


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


def children(data, start, end):
    """(type, content start, box end) of the boxes in data[start:end]."""
    at = start
    while at < end:
        size, = struct.unpack(">I", data[at:at + 4])
        kind = data[at + 4:at + 8]
        yield kind, at + 8, at + size
        at += size


def read_tile(path):
    """The tile's hvcC box, its width and height, and its coded bytes."""
    data = open(path, "rb").read()
    meta = next((s, e) for k, s, e in children(data, 0, len(data)) if k == b"meta")
    parts = {k: (s, e) for k, s, e in children(data, meta[0] + 4, meta[1])}
    ipco = next((s, e) for k, s, e in children(data, *parts[b"iprp"]) if k == b"ipco")
    props = {k: (s, e) for k, s, e in children(data, *ipco)}
    hvcc = data[props[b"hvcC"][0] - 8:props[b"hvcC"][1]]
    width, height = struct.unpack(">II", data[props[b"ispe"][0] + 4:props[b"ispe"][0] + 12])
    # iloc as heif-enc writes it: version 0, 4-byte offsets and lengths, a
    # base offset of 0 or 4 bytes, one item of one extent.
    s, e = parts[b"iloc"]
    assert data[s] == 0, "unexpected iloc version"
    sizes, base_size = data[s + 4], data[s + 5] >> 4
    assert sizes == 0x44 and base_size in (0, 4), "unexpected iloc field sizes"
    count, = struct.unpack(">H", data[s + 6:s + 8])
    assert count == 1, "a tile must hold one item"
    at = s + 8 + 4
    base = struct.unpack(">I", data[at:at + 4])[0] if base_size else 0
    at += base_size
    extents, offset, length = struct.unpack(">HII", data[at:at + 10])
    assert extents == 1, "a tile must be one extent"
    offset += base
    return hvcc, width, height, data[offset:offset + length]


def main():
    args = sys.argv[1:]
    transforms = b""
    icc = None
    exif = None
    while args[0].startswith("--"):
        if args[0] == "--icc":
            icc = open(args[1], "rb").read()
        elif args[0] == "--exif":
            exif = open(args[1], "rb").read()
        else:
            kind = {"--irot": b"irot", "--imir": b"imir"}[args[0]]
            transforms += box(kind, bytes([int(args[1])]))
        args = args[2:]
    out, columns, rows, width, height = args[0], *map(int, args[1:5])
    tiles = [read_tile(path) for path in args[5:]]
    assert len(tiles) == columns * rows, "COLUMNS x ROWS tiles are needed"
    hvcc, tile_width, tile_height = tiles[0][:3]
    assert all(t[1:3] == (tile_width, tile_height) for t in tiles), "tiles differ in size"
    assert tile_width * columns >= width and tile_height * rows >= height

    grid_id, first_tile = 1, 2
    ids = list(range(first_tile, first_tile + len(tiles)))
    exif_id = first_tile + len(tiles)
    grid_data = struct.pack(">BBBBHH", 0, 0, rows - 1, columns - 1, width, height)
    # An Exif item's data starts with the offset of the TIFF header after it.
    exif_data = struct.pack(">I", 0) + exif if exif is not None else b""

    def infe(item, kind, hidden):
        return full_box(b"infe", 2, 1 if hidden else 0, struct.pack(">HH", item, 0) + kind + b"\0")

    extra = [infe(exif_id, b"Exif", False)] if exif is not None else []
    iinf = full_box(b"iinf", 0, 0, struct.pack(">H", 1 + len(ids) + len(extra)) +
                    infe(grid_id, b"grid", False) + b"".join(infe(i, b"hvc1", True) for i in ids) +
                    b"".join(extra))
    references = box(b"dimg", struct.pack(">HH", grid_id, len(ids)) +
                     b"".join(struct.pack(">H", i) for i in ids))
    if exif is not None:
        references += box(b"cdsc", struct.pack(">HHH", exif_id, 1, grid_id))
    iref = full_box(b"iref", 0, 0, references)
    ispe_tile = full_box(b"ispe", 0, 0, struct.pack(">II", tile_width, tile_height))
    ispe_grid = full_box(b"ispe", 0, 0, struct.pack(">II", width, height))
    colr = box(b"colr", b"prof" + icc) if icc is not None else b""
    ipco = box(b"ipco", hvcc + ispe_tile + ispe_grid + transforms + colr)  # properties 1, 2, ...
    transform_count = transforms.count(b"irot") + transforms.count(b"imir")
    grid_properties = bytes([3] + [0x80 | (4 + i) for i in range(transform_count)])
    if icc is not None:
        grid_properties += bytes([4 + transform_count])
    ipma_entries = struct.pack(">HB", grid_id, len(grid_properties)) + grid_properties
    for i in ids:
        ipma_entries += struct.pack(">HB", i, 2) + bytes([0x80 | 1, 2])
    ipma = full_box(b"ipma", 0, 0, struct.pack(">I", 1 + len(ids)) + ipma_entries)
    iprp = box(b"iprp", ipco + ipma)
    hdlr = full_box(b"hdlr", 0, 0, b"\0\0\0\0pict" + b"\0" * 12 + b"\0")
    pitm = full_box(b"pitm", 0, 0, struct.pack(">H", grid_id))
    ftyp = box(b"ftyp", b"heic" + b"\0\0\0\0" + b"mif1heic")

    def iloc(mdat_start):
        entries = []
        at = mdat_start
        items = [(grid_id, grid_data)] + list(zip(ids, (t[3] for t in tiles)))
        if exif is not None:
            items.append((exif_id, exif_data))
        for item, data in items:
            entries.append(struct.pack(">HHHII", item, 0, 1, at, len(data)))
            at += len(data)
        return full_box(b"iloc", 0, 0, bytes([0x44, 0x00]) + struct.pack(">H", len(entries)) +
                        b"".join(entries))

    # The iloc's size does not depend on the offsets it holds.
    meta_size = len(full_box(b"meta", 0, 0, hdlr + pitm + iloc(0) + iinf + iref + iprp))
    mdat_start = len(ftyp) + meta_size + 8
    meta = full_box(b"meta", 0, 0, hdlr + pitm + iloc(mdat_start) + iinf + iref + iprp)
    mdat = box(b"mdat", grid_data + b"".join(t[3] for t in tiles) + exif_data)
    open(out, "wb").write(ftyp + meta + mdat)


if __name__ == "__main__":
    main()
