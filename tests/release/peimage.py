"""Just enough of the PE format to check what a release carries: the data
directories, the resource tree and the version resource. Every offset read
from the file is checked, so a damaged file fails with a message."""

import struct

RT_VERSION = 16
DIR_RESOURCE = 2
DIR_SECURITY = 4


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        sections, optional_size = self.u16(pe + 6), self.u16(pe + 20)
        self.optional = pe + 24
        magic = self.u16(self.optional)
        if magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header 0x%x" % magic)
        self.is64 = magic == 0x20B
        self.timestamp = self.u32(pe + 8)
        self.checksum_offset = self.optional + 64
        directories = self.optional + (112 if self.is64 else 96)
        self.directory_count = self.u32(directories - 4)
        self.directories = directories
        table = self.optional + optional_size
        self.sections = []
        for i in range(sections):
            at = table + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, vaddr, max(vsize, rsize), raw, rsize))
        # Where the image ends in the file: everything after is appended data.
        self.image_end = max((raw + rsize for _, _, _, raw, rsize in self.sections), default=0)

    def u16(self, at):
        if at + 2 > len(self.data):
            raise PeError("read past the end at 0x%x" % at)
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        if at + 4 > len(self.data):
            raise PeError("read past the end at 0x%x" % at)
        return struct.unpack_from("<I", self.data, at)[0]

    def directory(self, index):
        """(address, size) of a data directory; the security one's address is a file offset."""
        if index >= self.directory_count:
            return 0, 0
        return self.u32(self.directories + 8 * index), self.u32(self.directories + 8 * index + 4)

    def directory_entry_offset(self, index):
        return self.directories + 8 * index

    def offset(self, rva):
        for _, vaddr, size, raw, rsize in self.sections:
            if vaddr <= rva < vaddr + size and rva - vaddr < rsize:
                return raw + rva - vaddr
        raise PeError("address 0x%x is in no section" % rva)

    def resources(self, type_id):
        """Every resource of one numeric type: [(name, language, bytes)]."""
        rva, size = self.directory(DIR_RESOURCE)
        if not size:
            return []
        base = self.offset(rva)

        def entries(table):
            named, ids = self.u16(base + table + 12), self.u16(base + table + 14)
            for i in range(named + ids):
                at = base + table + 16 + 8 * i
                yield self.u32(at), self.u32(at + 4)

        found = []
        for type_key, names in entries(0):
            if type_key != type_id or not names & 0x80000000:
                continue
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise PeError("resource tree deeper than three levels")
                    data_rva, data_size = self.u32(base + leaf), self.u32(base + leaf + 4)
                    at = self.offset(data_rva)
                    if at + data_size > len(self.data):
                        raise PeError("resource data past the end of the file")
                    found.append((name, language, self.data[at:at + data_size]))
        return found


def _version_node(blob, at):
    """One node of a version resource: (key, value, children, end)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    end = at + length
    if length < 6 or end > len(blob):
        raise PeError("version node of bad length at %d" % at)
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if kind == 1:  # text: value_length counts UTF-16 units, the final NUL among them
        value = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        value_end = value_at + 2 * value_length
    else:
        value = blob[value_at:value_at + value_length]
        value_end = value_at + value_length
    children = []
    child = (value_end + 3) & ~3
    while child < end:
        node = _version_node(blob, child)
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def version_info(pe):
    """The fixed part's file and product versions and every string, as a dict."""
    blobs = pe.resources(RT_VERSION)
    if len(blobs) != 1:
        raise PeError("%d version resources, expected one" % len(blobs))
    key, fixed, children, _ = _version_node(blobs[0][2], 0)
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        raise PeError("not a version resource")
    signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", fixed)
    if signature != 0xFEEF04BD:
        raise PeError("fixed file information has a bad signature")

    def four(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    info = {"fixed FileVersion": four(fms, fls), "fixed ProductVersion": four(pms, pls)}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for table, _, strings, _ in tables:
                info["language"] = table
                for string, value, _, _ in strings:
                    info[string] = value
    return info
