"""What a Windows program file says of itself, read straight from the PE
format: its processor, whether its symbol table was stripped, the DLLs it
imports and its version resource (binutils' windres cannot decompile every program's resources)."""
import struct

MACHINES = {0x14C: "win32", 0x8664: "win64"}
RT_VERSION = 16
FIXED_INFO_SIGNATURE = 0xFEEF04BD


class PeFile:
    def __init__(self, path):
        with open(path, "rb") as file:
            self.data = file.read()
        header = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[header:header + 4] != b"PE\0\0":
            raise ValueError(f"{path} is no PE file")
        (machine, sections, _, _, self.symbol_count,
         optional_size) = struct.unpack_from("<HHIIIH", self.data, header + 4)
        self.arch = MACHINES.get(machine, hex(machine))
        optional = header + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        # Data directory 1 is the import table, 2 the resource table.
        self.import_rva = struct.unpack_from("<I", self.data, directories + 1 * 8)[0]
        self.resource_rva = struct.unpack_from("<I", self.data, directories + 2 * 8)[0]
        first_section = optional + optional_size
        # Virtual size, virtual address, raw size, raw offset of each section.
        self.sections = [struct.unpack_from("<IIII", self.data, first_section + 40 * i + 8)
                         for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"address {rva:#x} lies in no section")

    def imports(self):
        """The names of the DLLs the file imports from, as written in it. The
        import table is a run of 20-byte descriptors ended by one of zeros;
        the fourth field of each is the address of the DLL's name."""
        names = []
        if self.import_rva == 0:
            return names
        at = self.offset(self.import_rva)
        while any(struct.unpack_from("<5I", self.data, at)):
            name_at = self.offset(struct.unpack_from("<I", self.data, at + 12)[0])
            names.append(self.data[name_at:self.data.index(b"\0", name_at)].decode("ascii"))
            at += 20
        return names

    def resource(self, type_id):
        """The bytes of the first resource of a type, or None. The table has
        three levels: type, name, language."""
        if self.resource_rva == 0:
            return None
        base = self.offset(self.resource_rva)
        directory = base
        for level in range(3):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            entries = [struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                       for i in range(named + numbered)]
            targets = [target for name, target in entries if level > 0 or name == type_id]
            if not targets:
                return None
            directory = base + (targets[0] & 0x7FFFFFFF)
        address, size = struct.unpack_from("<II", self.data, directory)
        start = self.offset(address)
        return self.data[start:start + size]


class VersionInfo:
    """A VS_VERSIONINFO resource: the fixed numbers and the strings."""

    def __init__(self, blob):
        self.blob = blob
        key, value, children = self.node(0)
        if key != "VS_VERSION_INFO":
            raise ValueError(f"version resource starts with {key!r}")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", value)
        if signature != FIXED_INFO_SIGNATURE:
            raise ValueError("version resource has no fixed part")
        self.file_version = (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF)
        self.product_version = (product_ms >> 16, product_ms & 0xFFFF,
                                product_ls >> 16, product_ls & 0xFFFF)
        self.strings = {}
        self.translations = []
        for block_key, _, block_children in children:
            for table_key, table_value, entries in block_children:
                if block_key == "StringFileInfo":
                    self.strings.update({name: text.decode("utf-16-le").rstrip("\0")
                                         for name, text, _ in entries})
                elif block_key == "VarFileInfo" and table_key == "Translation":
                    self.translations += list(struct.iter_unpack("<HH", table_value))

    def node(self, at):
        """(key, value bytes, children) of the node at `at`; every part of a
        node starts on a four-byte boundary."""
        length, value_length, is_text = struct.unpack_from("<HHH", self.blob, at)
        key_end = at + 6
        while self.blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = self.blob[at + 6:key_end].decode("utf-16-le")
        value_at = align(key_end + 2)
        value_size = value_length * 2 if is_text else value_length
        children = []
        child = align(value_at + value_size)
        while child < at + length:
            child_length = struct.unpack_from("<H", self.blob, child)[0]
            if child_length == 0:
                raise ValueError("version resource holds an empty node")
            children.append(self.node(child))
            child = align(child + child_length)
        return key, self.blob[value_at:value_at + value_size], children


def align(offset):
    return (offset + 3) & ~3
