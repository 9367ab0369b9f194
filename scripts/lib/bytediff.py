#!/usr/bin/env python3
"""Where two builds of one artifact first differ.

  bytediff.py A B            exit 0 when A and B are the same bytes; else
                             prints the first difference, named down through
                             the containers (ar, gzip, xz, tar, zip) to the
                             header field or section of an ELF or PE file,
                             and exits 1
  bytediff.py --self-test PE ELF
                             crafted pairs made from a real PE and ELF file
                             must be named right; exit 1 when one is not

A small stand-in for diffoscope, which would pull in far more than a check
in CI should: only the formats the release artifacts are made of.
"""
import gzip
import io
import lzma
import struct
import sys
import tarfile
import zipfile


def hexes(x, y):
    return f"{x!r} vs {y!r}" if not isinstance(x, int) else f"0x{x:x} vs 0x{y:x}"


def first_byte(a, b):
    n = min(len(a), len(b))
    for i in range(0, n, 4096):
        if a[i:i + 4096] != b[i:i + 4096]:
            for j in range(i, min(i + 4096, n)):
                if a[j] != b[j]:
                    return j
    return n


# ---- containers -------------------------------------------------------------
def ar_members(data):
    at, out = 8, []
    while at + 60 <= len(data):
        h = data[at:at + 60]
        size = int(h[48:58].decode().strip())
        fields = {"name": h[0:16].decode().strip(), "mtime": h[16:28].decode().strip(),
                  "uid": h[28:34].decode().strip(), "gid": h[34:40].decode().strip(),
                  "mode": h[40:48].decode().strip(), "size": size}
        out.append((fields["name"], fields, data[at + 60:at + 60 + size]))
        at += 60 + size + (size & 1)
    return out


def tar_members(data):
    out = []
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:") as t:
        for m in t.getmembers():
            fields = {k: getattr(m, k) for k in
                      ("mode", "uid", "gid", "uname", "gname", "mtime", "size", "type", "linkname")}
            fields["pax_headers"] = dict(sorted(m.pax_headers.items()))
            content = t.extractfile(m).read() if m.isfile() else b""
            out.append((m.name, fields, content))
    return out


def zip_members(data):
    out = []
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for m in z.infolist():
            fields = {k: getattr(m, k) for k in
                      ("date_time", "external_attr", "create_system", "create_version", "extract_version",
                       "flag_bits", "compress_type", "extra", "comment", "file_size")}
            out.append((m.filename, fields, z.read(m)))
    return out


def members_diff(kind, ma, mb):
    """The first differing member down to its difference; the others named after it."""
    found = []
    for i in range(max(len(ma), len(mb))):
        if i >= len(ma) or i >= len(mb):
            found.append([f"{kind}: member {i + 1} {(ma if i < len(ma) else mb)[i][0]} is in only one of them"])
            break
        (na, fa, ca), (nb, fb, cb) = ma[i], mb[i]
        if na != nb:
            found.append([f"{kind}: member {i + 1} is {na} vs {nb}"])
            break  # the lists part here; what follows is not comparable
        keys = [k for k in fa if fa[k] != fb[k] and k not in ("size", "file_size")]
        if keys:
            found.append([f"{kind} member {na}", f"header field {keys[0]}: {hexes(fa[keys[0]], fb[keys[0]])}"])
        elif ca != cb:
            found.append([f"{kind} member {na}"] + diff(ca, cb))
    if not found:
        return None
    if len(found) > 1:
        found[0][-1] += "".join(f"; and {' > '.join(more)}" for more in found[1:])
    return found[0]


def gzip_diff(a, b):
    # Header: flags, MTIME, extra flags, OS; then optional name.
    fields = [("flags", 3, 4), ("mtime", 4, 8), ("extra flags", 8, 9), ("os", 9, 10)]
    for name, s, e in fields:
        if a[s:e] != b[s:e]:
            return [f"gzip header field {name}: {a[s:e].hex()} vs {b[s:e].hex()}"]
    if a[3] & 8:  # FNAME: the name of the file packed, to its NUL
        na, nb = a[10:a.index(b"\0", 10)], b[10:b.index(b"\0", 10)]
        if na != nb:
            return [f"gzip header field name: {na!r} vs {nb!r}"]
    ua, ub = gzip.decompress(a), gzip.decompress(b)
    if ua == ub:
        return ["gzip stream: the same content, compressed differently"]
    return ["gunzip"] + diff(ua, ub)


# ---- executables ------------------------------------------------------------
# Each file is cut into named header regions and sections, (name, start,
# end) in the file; a header region listed first wins where two overlap.
def located(offset, regions, a, b):
    """Names the region holding offset; a short field's values too."""
    for name, s, e in regions:
        if s <= offset < e:
            values = f": {a[s:e].hex()} vs {b[s:e].hex()}" if e - s <= 8 else ""
            return f"{name}, byte 0x{offset - s:x} of it (file offset 0x{offset:x}){values}"
    return f"file offset 0x{offset:x}, in no section (sizes {len(a)} vs {len(b)})"


def pe_layout(d):
    pe = struct.unpack_from("<I", d, 0x3C)[0]
    coff = pe + 4
    nsect, opt_size = struct.unpack_from("<H", d, coff + 2)[0], struct.unpack_from("<H", d, coff + 16)[0]
    opt = coff + 20
    wide = 16 if struct.unpack_from("<H", d, opt)[0] == 0x20B else 0
    fields = [(f"PE COFF header field {n}", coff + s, coff + e) for n, s, e in
              [("Machine", 0, 2), ("NumberOfSections", 2, 4), ("TimeDateStamp", 4, 8),
               ("PointerToSymbolTable", 8, 12), ("NumberOfSymbols", 12, 16), ("Characteristics", 18, 20)]]
    fields += [(f"PE optional header field {n}", opt + s, opt + e) for n, s, e in
               [("AddressOfEntryPoint", 16, 20), ("CheckSum", 64, 68), ("DllCharacteristics", 70, 72)]]
    dirs = opt + 96 + wide
    for i, n in enumerate(["export", "import", "resource", "exception", "certificate", "base relocation", "debug"]):
        fields.append((f"PE data directory {n}", dirs + 8 * i, dirs + 8 * i + 8))
    fields.append(("PE optional header", opt, opt + opt_size))
    table = opt + opt_size
    sections = []
    for i in range(nsect):
        e = table + 40 * i
        name = d[e:e + 8].rstrip(b"\0").decode(errors="replace")
        raw_size, raw_at = struct.unpack_from("<II", d, e + 16)
        fields.append((f"PE section table entry {name}", e, e + 40))
        sections.append((name, raw_at, raw_at + raw_size))
    fields.append(("PE headers", 0, table + 40 * nsect))
    return fields, sections


def elf_layout(d):
    wide = d[4] == 2
    h = struct.unpack_from("<HHIQQQIHHHHHH" if wide else "<HHIIIIIHHHHHH", d, 16)
    phoff, shoff, ehsize, phentsize, phnum, shentsize, shnum, shstrndx = h[4], h[5], h[7], h[8], h[9], h[10], h[11], h[12]
    fields = [("ELF header", 0, ehsize), ("ELF program headers", phoff, phoff + phentsize * phnum),
              ("ELF section header table", shoff, shoff + shentsize * shnum)]
    shs = [struct.unpack_from("<IIQQQQIIQQ" if wide else "<IIIIIIIIII", d, shoff + shentsize * i) for i in range(shnum)]
    sections = []
    for sh in shs:
        name_at = shs[shstrndx][4] + sh[0]
        name = d[name_at:d.index(b"\0", name_at)].decode(errors="replace")
        if sh[1] != 8:  # SHT_NOBITS takes no room in the file
            sections.append((name or "(unnamed)", sh[4], sh[4] + sh[5]))
    return fields, sections


def exe_diff(kind, layout_of, a, b):
    at = first_byte(a, b)
    try:
        (fa, sa), (_, sb) = layout_of(a), layout_of(b)
    except (struct.error, ValueError, IndexError):
        return [f"{kind} file offset 0x{at:x} (its headers do not parse)"]
    where = located(at, fa + [(f"{kind} section {n}", s, e) for n, s, e in sa], a, b)
    # The sections whose bytes differ, in file order: a header field that
    # differs before them (a checksum, a size) follows from them.
    in_b = {n: (s, e) for n, s, e in sb}
    differing = [n for n, s, e in sorted(sa, key=lambda x: x[1])
                 if n in in_b and a[s:e] != b[in_b[n][0]:in_b[n][1]]]
    if not differing or where.startswith(f"{kind} section {differing[0]},"):
        return [f"first differing byte in {where}"]
    also = f" (then {', '.join(differing[1:])})" if len(differing) > 1 else ""
    return [f"first differing {kind} section {differing[0]}{also}; first differing byte in {where}"]


def diff(a, b):
    """None when equal, else the path to the first difference."""
    if a == b:
        return None
    if a[:8] == b"!<arch>\n" and b[:8] == b"!<arch>\n":
        return members_diff("ar", ar_members(a), ar_members(b))
    if a[:2] == b"\x1f\x8b" and b[:2] == b"\x1f\x8b":
        return gzip_diff(a, b)
    if a[:6] == b"\xfd7zXZ\0" and b[:6] == b"\xfd7zXZ\0":
        ua, ub = lzma.decompress(a), lzma.decompress(b)
        return ["xz stream: the same content, compressed differently"] if ua == ub else ["unxz"] + diff(ua, ub)
    if a[257:262] == b"ustar" and b[257:262] == b"ustar":
        return members_diff("tar", tar_members(a), tar_members(b)) or ["tar: the same members, other bytes"]
    if a[:4] == b"PK\x03\x04" and b[:4] == b"PK\x03\x04":
        return members_diff("zip", zip_members(a), zip_members(b)) or ["zip: the same members, other bytes"]
    if a[:2] == b"MZ" and b[:2] == b"MZ":
        return exe_diff("PE", pe_layout, a, b)
    if a[:4] == b"\x7fELF" and b[:4] == b"\x7fELF":
        return exe_diff("ELF", elf_layout, a, b)
    if b"\0" not in a and b"\0" not in b:
        try:
            la, lb = a.decode().split("\n"), b.decode().split("\n")
        except UnicodeDecodeError:
            pass
        else:
            n = next((i for i in range(min(len(la), len(lb))) if la[i] != lb[i]), min(len(la), len(lb)))
            show = lambda lines: repr(lines[n][:120]) if n < len(lines) else "(no such line)"
            return [f"text line {n + 1}: {show(la)} vs {show(lb)}"]
    return [f"byte 0x{first_byte(a, b):x} (sizes {len(a)} vs {len(b)})"]


# ---- the check of the check -------------------------------------------------
def self_test(pe_path, elf_path):
    pe, elf = open(pe_path, "rb").read(), open(elf_path, "rb").read()

    def flipped(data, offset):
        return data[:offset] + bytes([data[offset] ^ 1]) + data[offset + 1:]

    def text(layout):
        return next(s for n, s, e in layout[1] if n == ".text") + 100

    stamp = struct.unpack_from("<I", pe, 0x3C)[0] + 8
    pe_text, elf_text = text(pe_layout(pe)), text(elf_layout(elf))

    def tar_gz(entries, mtime=0):
        buf = io.BytesIO()
        with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT) as t:
            for name, data in entries:
                info = tarfile.TarInfo(name)
                info.size, info.mtime = len(data), mtime
                t.addfile(info, io.BytesIO(data))
        return gzip.compress(buf.getvalue(), mtime=0)

    def ar(entries):
        out = b"!<arch>\n"
        for name, data in entries:
            out += f"{name:<16}{0:<12}{0:<6}{0:<6}{'100644':<8}{len(data):<10}`\n".encode() + data
            out += b"\n" if len(data) & 1 else b""
        return out

    def zipped(entries, date=(2026, 1, 1, 0, 0, 0)):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                z.writestr(zipfile.ZipInfo(name, date), data)
        return buf.getvalue()

    def deb(binary, mtime=0):
        return ar([("debian-binary", b"2.0\n"), ("data.tar.gz", tar_gz([("./usr/bin/rilvano", binary)], mtime))])

    cases = [
        ("PE time stamp", pe, flipped(pe, stamp), "TimeDateStamp"),
        ("PE code", pe, flipped(pe, pe_text), "PE section .text"),
        ("ELF code in a .deb", deb(elf), deb(flipped(elf, elf_text)),
         "ar member data.tar.gz > gunzip > tar member ./usr/bin/rilvano > first differing byte in ELF section .text"),
        ("tar member time in a .deb", deb(elf), deb(elf, 1), "tar member ./usr/bin/rilvano > header field mtime"),
        ("zip member time", zipped([("r/rilvano.exe", pe)]), zipped([("r/rilvano.exe", pe)], (2026, 1, 1, 0, 0, 2)),
         "zip member r/rilvano.exe > header field date_time"),
        ("exe in a zip", zipped([("r/README.txt", b"x"), ("r/rilvano.exe", pe)]),
         zipped([("r/README.txt", b"x"), ("r/rilvano.exe", flipped(pe, pe_text))]), "zip member r/rilvano.exe > first differing byte in PE section .text"),
        ("the same bytes", pe, bytes(pe), None),
    ]
    failed = 0
    for what, a, b, want in cases:
        got = diff(a, b)
        said = " > ".join(got) if got else None
        if (want is None and said is not None) or (want is not None and (said is None or want not in said)):
            print(f"bytediff self-test: {what}: said {said!r}, wanted {want!r}", file=sys.stderr)
            failed += 1
    if not failed:
        print(f"bytediff: self-test passed: {len(cases)} crafted pairs named right")
    return 1 if failed else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "--self-test":
        return self_test(argv[2], argv[3])
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    a, b = open(argv[1], "rb").read(), open(argv[2], "rb").read()
    where = diff(a, b)
    if where is None:
        return 0
    print(" > ".join(where))
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
