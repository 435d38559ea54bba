#!/usr/bin/env python3
"""Packs quillshell-modern.msix, the package with external location, from
the manifest template and the logos; the same inputs give the same bytes.

    pack.py --version 1.1.0 --epoch SECONDS [--arch x64|arm64] [--cert CERT.pem] --out FILE.msix
    pack.py --publisher CERT.pem        prints the Publisher for that certificate

The package is a zip laid out as Windows' own packers write it: every file
deflated or stored under a local header without sizes, followed by a data
descriptor (Zip64 sizes); a Zip64 central directory; the files in a fixed
order, then AppxBlockMap.xml (a SHA-256 of every 64 KiB block of every file)
and [Content_Types].xml last. Signing (installer/sign.sh) appends
AppxSignature.p7x and its content type. The one time in the zip is --epoch."""
import argparse
import base64
import hashlib
import os
import struct
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
# The files of the package, in their order: name in the zip, source, deflated.
PAYLOAD = (
    ("AppxManifest.xml", None, True),
    ("Assets/Square150x150Logo.png", "Assets/Square150x150Logo.png", False),
    ("Assets/Square44x44Logo.png", "Assets/Square44x44Logo.png", False),
    ("Assets/StoreLogo.png", "Assets/StoreLogo.png", False),
)
# The Publisher of an unsigned build: Windows 11 registers a package without a
# signature only when asked to (-AllowUnsigned) and only when its Publisher
# holds this OID, which no certificate's subject carries (Learn: "Create an
# unsigned MSIX package").
UNSIGNED_PUBLISHER = "CN=Quillshell Development, OID.2.25.311729368913984317654407730594956997722=1"
BLOCK = 65536

# Attribute names as Windows writes a subject (CertNameToStr, CERT_X500_NAME_STR);
# any other attribute is written "OID.<dotted number>".
X500_NAMES = {
    "2.5.4.3": "CN", "2.5.4.7": "L", "2.5.4.10": "O", "2.5.4.11": "OU",
    "1.2.840.113549.1.9.1": "E", "2.5.4.6": "C", "2.5.4.8": "S", "2.5.4.9": "STREET",
    "2.5.4.12": "T", "2.5.4.42": "G", "2.5.4.43": "I", "2.5.4.4": "SN",
    "0.9.2342.19200300.100.1.25": "DC", "2.5.4.5": "SERIALNUMBER", "2.5.4.13": "Description",
    "2.5.4.17": "PostalCode", "2.5.4.18": "POBox", "2.5.4.20": "Phone",
    "2.5.4.24": "X21Address", "2.5.4.46": "dnQualifier",
}
STRING_TYPES = {0x0C: "utf-8", 0x12: "ascii", 0x13: "ascii", 0x14: "latin-1", 0x16: "ascii",
                0x1A: "ascii", 0x1C: "utf-32-be", 0x1E: "utf-16-be"}


def der(data, pos):
    """(tag, start of contents, end of contents) of the DER element at pos."""
    tag, n = data[pos], data[pos + 1]
    pos += 2
    if n & 0x80:
        count = n & 0x7F
        n = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, pos, pos + n


def children(data, start, end):
    while start < end:
        tag, s, e = der(data, start)
        yield tag, s, e
        start = e


def oid(raw):
    arc = min(raw[0] // 40, 2)
    values, v = [arc, raw[0] - 40 * arc], 0
    for b in raw[1:]:
        v = (v << 7) | (b & 0x7F)
        if not b & 0x80:
            values.append(v)
            v = 0
    return ".".join(map(str, values))


def quote(value):
    # CertNameToStr quotes a value that is empty, has white space at either
    # end, or holds one of these; a quotation mark inside is doubled.
    if not value or value != value.strip() or any(c in value for c in ',+="\n<>#;'):
        return '"' + value.replace('"', '""') + '"'
    return value


def tbs_fields(cert_der):
    _, s, e = der(cert_der, 0)                   # Certificate
    _, s, e = der(cert_der, s)                   # TBSCertificate
    fields = list(children(cert_der, s, e))
    return fields[1:] if fields[0][0] == 0xA0 else fields  # without [0] version


def name_der(cert_der, index):
    """The raw issuer (2) or subject (4) of a certificate."""
    _, s, e = tbs_fields(cert_der)[index]
    return cert_der[s:e]


def windows_subject(cert_der):
    """The subject as Windows writes it, which a package's Publisher must equal:
    the last RDN first, "KEY=value" joined with ", " (RFC 4514 order)."""
    name = name_der(cert_der, 4)
    rdns = []
    for _, rs, re_ in children(name, 0, len(name)):  # SET of attributes
        if len(list(children(name, rs, re_))) > 1:
            # Windows writes it "A=x + B=y", which the manifest's Publisher pattern refuses.
            raise ValueError("the certificate's subject has a multi-valued name part (A=x + B=y), which no package "
                             "Publisher can name: sign with a certificate whose subject has one value per part")
        parts = []
        for _, as_, ae in children(name, rs, re_):
            (_, os_, oe), (vtag, vs, ve) = list(children(name, as_, ae))
            key = oid(name[os_:oe])
            if vtag not in STRING_TYPES:
                raise ValueError(f"subject attribute {key} is not a string (tag {vtag:#x})")
            value = name[vs:ve].decode(STRING_TYPES[vtag])
            parts.append(X500_NAMES.get(key, "OID." + key) + "=" + quote(value))
        rdns.append(" + ".join(parts))
    return ", ".join(reversed(rdns))


def publisher(cert_pem):
    """The Publisher for the signing certificate of a PEM file, which may hold
    its chain too, in any order: the one certificate that issued none of the others."""
    with open(cert_pem) as f:
        pem = f.read().split("-----BEGIN CERTIFICATE-----")[1:]
    certs = [base64.b64decode("".join(c.split("-----END CERTIFICATE-----")[0].split())) for c in pem]
    leaves = [c for c in certs if not any(o is not c and name_der(o, 2) == name_der(c, 4) for o in certs)]
    if len(leaves) != 1:
        raise ValueError(f"{cert_pem}: {len(certs)} certificates, {len(leaves)} of them issued none of the others")
    return windows_subject(leaves[0])


def xml_escape(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def deflate_blocks(data):
    """Raw deflate, flushed at every 64 KiB of input so that each block's
    compressed bytes stand alone: (compressed data, compressed size per block)."""
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    out, sizes = b"", []
    for i in range(0, len(data), BLOCK):
        part = z.compress(data[i:i + BLOCK])
        part += z.flush(zlib.Z_FINISH if i + BLOCK >= len(data) else zlib.Z_FULL_FLUSH)
        out += part
        sizes.append(len(part))
    if not data:
        out = z.flush(zlib.Z_FINISH)
    return out, sizes


def dos_time(epoch):
    t = time.gmtime(max(epoch, 315532800))      # zip times start in 1980
    return (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2,
            (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday)


class Zip:
    def __init__(self, epoch):
        self.out, self.central = b"", []
        self.time, self.date = dos_time(epoch)

    def lfh_size(self, name):
        return 30 + len(name.encode())

    def add(self, name, data, compressed):
        raw = name.encode()
        packed = deflate_blocks(data)[0] if compressed else data
        method, crc, offset = (8 if compressed else 0), zlib.crc32(data), len(self.out)
        # Version 4.5 (Zip64), flag 8: the sizes follow in the data descriptor.
        self.out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 8, method, self.time, self.date,
                                0, 0, 0, len(raw), 0) + raw + packed
        self.out += struct.pack("<IIQQ", 0x08074B50, crc, len(packed), len(data))
        zip64 = struct.pack("<HHQQQ", 1, 24, len(data), len(packed), offset)
        self.central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 8, method, self.time,
                                        self.date, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(raw), len(zip64),
                                        0, 0, 0, 0, 0xFFFFFFFF) + raw + zip64)

    def close(self):
        cd = b"".join(self.central)
        start, n = len(self.out), len(self.central)
        end64 = start + len(cd)
        self.out += cd
        self.out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, n, n, len(cd), start)
        self.out += struct.pack("<IIQI", 0x07064B50, 0, end64, 1)
        # Disk numbers 0: what a signed package carries, and what Windows hashes.
        self.out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
        return self.out


def block_map(files, zipw):
    """AppxBlockMap.xml: names with backslashes, as the package sees them."""
    xml = ('<?xml version="1.0" encoding="UTF-8" standalone="no"?>\r\n'
           '<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap" '
           'HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">')
    for name, data, compressed in files:
        xml += (f'<File Name="{xml_escape(name.replace("/", chr(92)))}" Size="{len(data)}" '
                f'LfhSize="{zipw.lfh_size(name)}">')
        sizes = deflate_blocks(data)[1] if compressed else None
        for i in range(0, len(data), BLOCK):
            digest = base64.b64encode(hashlib.sha256(data[i:i + BLOCK]).digest()).decode()
            size = f' Size="{sizes[i // BLOCK]}"' if compressed else ""
            xml += f'<Block Hash="{digest}"{size}/>'
        xml += "</File>"
    return (xml + "</BlockMap>").encode()


CONTENT_TYPES = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
                 '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                 '<Default ContentType="application/vnd.ms-appx.manifest+xml" Extension="xml"/>'
                 '<Default ContentType="image/png" Extension="png"/>'
                 '<Override ContentType="application/vnd.ms-appx.blockmap+xml" PartName="/AppxBlockMap.xml"/>'
                 '</Types>').encode()


def manifest(version, publisher_name, arch):
    with open(os.path.join(HERE, "AppxManifest.xml.in"), encoding="utf-8") as f:
        text = f.read()
    return (text.replace("@VERSION@", version + ".0").replace("@PUBLISHER@", xml_escape(publisher_name))
            .replace("@ARCH@", arch).encode())


def pack(version, epoch, publisher_name, out, arch="x64"):
    files = []
    for name, source, compressed in PAYLOAD:
        if source is None:
            data = manifest(version, publisher_name, arch)
        else:
            with open(os.path.join(HERE, source), "rb") as f:
                data = f.read()
        files.append((name, data, compressed))
    zipw = Zip(epoch)
    for name, data, compressed in files:
        zipw.add(name, data, compressed)
    zipw.add("AppxBlockMap.xml", block_map(files, zipw), True)
    # Deflated: signing rewrites this file deflated, whatever its header says.
    zipw.add("[Content_Types].xml", CONTENT_TYPES, True)
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out + ".tmp", "wb") as f:
        f.write(zipw.close())
    os.replace(out + ".tmp", out)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--publisher", metavar="CERT", help="print the Publisher for this certificate (PEM)")
    p.add_argument("--version", help="x.y.z")
    p.add_argument("--epoch", type=int, default=0, help="the time recorded in the zip (Unix seconds)")
    # The architecture of the DLL in the external location: Windows loads
    # the package's COM server into Explorer, so they must match.
    p.add_argument("--arch", choices=("x64", "arm64"), default="x64", help="the DLL's architecture")
    p.add_argument("--cert", default="", help="the signing certificate (PEM); none: the unsigned Publisher")
    p.add_argument("--out")
    a = p.parse_args()
    if a.publisher:
        try:
            print(publisher(a.publisher))
        except ValueError as e:
            print(f"pack.py: {a.publisher}: {e}", file=sys.stderr)
            return 1
        return 0
    if not a.version or not a.out:
        p.error("--version and --out are needed")
    try:
        name = publisher(a.cert) if a.cert else UNSIGNED_PUBLISHER
    except ValueError as e:
        print(f"pack.py: {a.cert}: {e}", file=sys.stderr)
        return 1
    pack(a.version, a.epoch, name, a.out, a.arch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
