"""What a setup file carries, read straight from its appended archive.

The end-to-end checks compare the installed files with the product's own
files; this module says which file each archive entry came from and what it
must look like on disk (text entries gain CR before every LF). It also finds
the byte ranges of entry data, so that a test can damage a copy of the setup
file in a known place. It reads only what a well-formed setup file holds and
raises ValueError on anything else.
"""
import zlib
from dataclasses import dataclass
from pathlib import Path

HEADER_ID = b"\x60\xea"
MAX_BASIC_HEADER = 2600
SCAN_LIMIT = 500_000


@dataclass
class Entry:
    name: str          # file-name part of the stored name
    file_type: int     # 0 binary, 1 text
    host_os: int
    method: int
    crc: int           # CRC-32 of the decoded data
    size: int          # decoded size in bytes
    data_offset: int   # first byte of the compressed data in the setup file
    data_size: int     # compressed size in bytes
    timestamp: int = 0  # packed DOS date and time


def _u16(data, pos):
    return int.from_bytes(data[pos:pos + 2], "little")


def _u32(data, pos):
    return int.from_bytes(data[pos:pos + 4], "little")


def find_archive(data):
    """Offset of the main header: the first id pair whose size and CRC hold."""
    end = min(len(data) - 2, SCAN_LIMIT)
    pos = 0
    while True:
        pos = data.find(HEADER_ID, pos)
        if pos < 0 or pos >= end:
            raise ValueError("no archive in the setup file")
        size = _u16(data, pos + 2)
        if 0 < size <= MAX_BASIC_HEADER and pos + 8 + size <= len(data):
            if zlib.crc32(data[pos + 4:pos + 4 + size]) == _u32(data, pos + 4 + size):
                return pos
        pos += 1


def _read_header(data, pos):
    """Returns (basic header bytes or None at the end marker, next position)."""
    if data[pos:pos + 2] != HEADER_ID:
        raise ValueError(f"no header id at {pos}")
    size = _u16(data, pos + 2)
    if size == 0:
        return None, pos + 4
    basic = data[pos + 4:pos + 4 + size]
    if len(basic) != size or zlib.crc32(basic) != _u32(data, pos + 4 + size):
        raise ValueError(f"damaged header at {pos}")
    pos += 8 + size
    extended = _u16(data, pos)
    pos += 2
    while extended:
        pos += extended + 4
        extended = _u16(data, pos)
        pos += 2
    return basic, pos


def read_entries(data):
    basic, pos = _read_header(data, find_archive(data))
    entries = []
    while True:
        basic, data_offset = _read_header(data, pos)
        if basic is None:
            return entries
        first = basic[0]
        stored = basic[first:basic.index(0, first)]
        entry_pos = _u16(basic, 24)
        entry = Entry(name=stored[entry_pos:].decode("latin-1"), file_type=basic[6], host_os=basic[3],
                      method=basic[5], crc=_u32(basic, 20), size=_u32(basic, 16),
                      data_offset=data_offset, data_size=_u32(basic, 12), timestamp=_u32(basic, 8))
        entries.append(entry)
        pos = data_offset + entry.data_size


def on_disk(entry, source):
    """The bytes an install must leave for an entry packed from source."""
    if entry.file_type != 1:
        return source
    if entry.host_os != 2:
        source = bytes(b & 0x7F for b in source)
    return source.replace(b"\n", b"\r\n")


def find_case_insensitive(directory, name):
    directory = Path(directory)
    if not directory.is_dir():
        return None
    for child in directory.iterdir():
        if child.name.lower() == name.lower():
            return child
    return None


def expected_files(setup_file, source_dirs):
    """Maps each entry's name to the bytes it must have after an install.

    Each entry is matched to a file of the same name (any case) in one of
    source_dirs whose size and CRC-32 are those the archive records, so a
    stale payload file cannot pass for the packed one.
    """
    expected = {}
    for entry in read_entries(Path(setup_file).read_bytes()):
        candidates = [child for directory in map(Path, source_dirs) if directory.is_dir()
                      for child in directory.iterdir() if child.name.lower() == entry.name.lower()]
        for path in candidates:
            source = path.read_bytes()
            if len(source) == entry.size and zlib.crc32(source) == entry.crc:
                expected[entry.name] = on_disk(entry, source)
                break
        else:
            raise ValueError(f"no file in {source_dirs} matches the packed entry {entry.name}")
    return expected
