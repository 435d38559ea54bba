#!/usr/bin/env python3
"""Checks quillshell-modern.msix as Windows reads it, with nothing of the
packer: every file's blocks against AppxBlockMap.xml (SHA-256 of each 64 KiB,
compressed sizes, local header sizes), the content types, and the manifest's
identity and the class it declares.

    msix_check.py PACKAGE VERSION PUBLISHER ARCH signed|unsigned
        (VERSION x.y.z, ARCH x64 or arm64; exit 1 on a fault)"""
import base64
import hashlib
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

CLSID = "3C79CCA4-8665-480D-B49E-041DB86690E3"
NS = {
    "b": "http://schemas.microsoft.com/appx/2010/blockmap",
    "t": "http://schemas.openxmlformats.org/package/2006/content-types",
    "f": "http://schemas.microsoft.com/appx/manifest/foundation/windows10",
    "uap": "http://schemas.microsoft.com/appx/manifest/uap/windows10",
    "uap10": "http://schemas.microsoft.com/appx/manifest/uap/windows10/10",
    "desktop4": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/4",
    "desktop5": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/5",
    "com": "http://schemas.microsoft.com/appx/manifest/com/windows10",
}
# Not in the block map: the block map, the content types and the signature.
FOOTPRINT = {"AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x"}
faults = []


def check(ok, what):
    if not ok:
        faults.append(what)


def main(path, version, publisher, arch, signing):
    raw = open(path, "rb").read()
    z = zipfile.ZipFile(path)
    names = z.namelist()
    signed = "AppxSignature.p7x" in names
    check(signing in ("signed", "unsigned"), f"signed or unsigned, not {signing!r}")
    check(signed == (signing == "signed"), f"the package is {'signed' if signed else 'unsigned'}, not {signing}")
    check(z.testzip() is None, "a file's CRC does not match")
    check(names[-3 if signed else -2:] == ["AppxBlockMap.xml", "[Content_Types].xml"] + (["AppxSignature.p7x"] if signed else []),
          f"the footprint files are not last, in order: {names}")

    bm = ET.fromstring(z.read("AppxBlockMap.xml"))
    check(bm.get("HashMethod") == "http://www.w3.org/2001/04/xmlenc#sha256", "the block map does not hash with SHA-256")
    mapped = set()
    for f in bm.findall("b:File", NS):
        # The package's paths with backslashes, as Windows' packaging API writes them.
        check("/" not in f.get("Name"), f"{f.get('Name')}: a block map name with a slash")
        name = f.get("Name").replace("\\", "/")
        mapped.add(name)
        info = z.getinfo(name)
        data = z.read(name)
        sig, _, _, _, _, _, _, _, _, n, m = struct.unpack_from("<IHHHHHIIIHH", raw, info.header_offset)
        check(sig == 0x04034B50 and int(f.get("LfhSize")) == 30 + n + m, f"{name}: LfhSize {f.get('LfhSize')} is not {30 + n + m}")
        check(int(f.get("Size")) == len(data), f"{name}: Size {f.get('Size')} is not {len(data)}")
        blocks = f.findall("b:Block", NS)
        check(len(blocks) == (len(data) + 65535) // 65536, f"{name}: {len(blocks)} blocks")
        for i, b in enumerate(blocks):
            digest = base64.b64encode(hashlib.sha256(data[i * 65536:(i + 1) * 65536]).digest()).decode()
            check(b.get("Hash") == digest, f"{name}: block {i} has another hash")
        sizes = [b.get("Size") for b in blocks]
        if info.compress_type == zipfile.ZIP_DEFLATED:
            check(None not in sizes and sum(map(int, sizes)) == info.compress_size,
                  f"{name}: block sizes {sizes} do not add up to {info.compress_size}")
        else:
            check(sizes == [None] * len(blocks), f"{name}: a stored file's blocks have sizes")
    check(mapped == set(names) - FOOTPRINT, f"the block map lists {sorted(mapped)}, the package holds {names}")

    check(z.getinfo("[Content_Types].xml").compress_type == zipfile.ZIP_DEFLATED, "[Content_Types].xml is stored")
    ct = ET.fromstring(z.read("[Content_Types].xml"))
    types = {("ext", d.get("Extension")): d.get("ContentType") for d in ct.findall("t:Default", NS)}
    types.update({("part", o.get("PartName")): o.get("ContentType") for o in ct.findall("t:Override", NS)})
    expected = {("ext", "xml"): "application/vnd.ms-appx.manifest+xml", ("ext", "png"): "image/png",
                ("part", "/AppxBlockMap.xml"): "application/vnd.ms-appx.blockmap+xml"}
    if signed:
        expected[("part", "/AppxSignature.p7x")] = "application/vnd.ms-appx.signature"
    check(types == expected, f"content types {types}")

    m = ET.fromstring(z.read("AppxManifest.xml"))
    ident = m.find("f:Identity", NS)
    # The installers find, remove and register the package by this name.
    check(ident.get("Name") == "Quillshell.Modern", f"Name {ident.get('Name')!r} is not 'Quillshell.Modern'")
    check(ident.get("Version") == version + ".0", f"Version {ident.get('Version')}")
    check(ident.get("Publisher") == publisher, f"Publisher {ident.get('Publisher')!r} is not {publisher!r}")
    check(ident.get("ProcessorArchitecture") == arch, f"ProcessorArchitecture {ident.get('ProcessorArchitecture')}, not {arch}")
    check(m.findtext("f:Properties/uap10:AllowExternalContent", namespaces=NS) == "true", "no external content")
    app = m.find("f:Applications/f:Application", NS)
    check(app.get(f"{{{NS['uap10']}}}TrustLevel") == "mediumIL" and app.get(f"{{{NS['uap10']}}}RuntimeBehavior") == "win32App",
          "the application is not a medium-integrity Win32 one")
    check(app.find("uap:VisualElements", NS).get("AppListEntry") == "none", "the application is listed")
    menus = app.findall("f:Extensions/desktop4:Extension/desktop4:FileExplorerContextMenus/desktop5:ItemType", NS)
    check(sorted((t.get("Type"), t.find("desktop5:Verb", NS).get("Clsid")) for t in menus) == [("*", CLSID), ("Directory", CLSID)],
          "the menus of files and folders do not name the class")
    classes = app.findall("f:Extensions/com:Extension/com:ComServer/com:SurrogateServer/com:Class", NS)
    check([(c.get("Id"), c.get("Path"), c.get("ThreadingModel")) for c in classes] == [(CLSID, "quillshell-modern.dll", "STA")],
          "the class is not quillshell-modern.dll's, STA")
    for fault in faults:
        print(f"FAIL: {path}: {fault}")
    if not faults:
        print(f"{path}: block map, content types and manifest as expected ({'signed' if signed else 'unsigned'}, {publisher})")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
