#!/usr/bin/env python3
"""Checks a release's winget manifest set as winget and its community
repository read it: every file against winget's published JSON schema of its
ManifestType, and every installer against the release: its file and SHA-256,
both installer families for every architecture, the MSIs' product and upgrade
codes as their Property tables (msiinfo) hold them, the documented exit codes.

    winget_check.py DIST VERSION   (exit 1 on a fault)"""
import hashlib, json, pathlib, subprocess, sys
try:
    import jsonschema, yaml
except ImportError as e:
    sys.exit(f"FAIL: needs python3-jsonschema and python3-yaml (scripts/lib.sh installs them): {e}")

dist, version = pathlib.Path(sys.argv[1]), sys.argv[2]
schemas = pathlib.Path(__file__).resolve().parent / "winget-schemas"
faults = []
docs = {}
for f in sorted((dist / "winget").glob("*.yaml")):
    doc = yaml.safe_load(f.read_text(encoding="utf-8"))
    docs[doc.get("ManifestType")] = doc
    schema = schemas / f"manifest.{doc.get('ManifestType')}.{doc.get('ManifestVersion')}.json"
    if not schema.exists():
        faults.append(f"{f.name}: no schema {schema.name}")
        continue
    for e in jsonschema.Draft7Validator(json.loads(schema.read_text(encoding="utf-8"))).iter_errors(doc):
        faults.append(f"{f.name}: {'/'.join(map(str, e.path)) or '(top)'}: {e.message}")
if sorted(docs) != ["defaultLocale", "installer", "version"]:
    faults.append(f"the set is {sorted(docs)}, not version, installer and defaultLocale")
for doc in docs.values():
    if doc.get("PackageVersion") != version or doc.get("ManifestVersion") != "1.12.0":
        faults.append(f"{doc.get('ManifestType')}: version {doc.get('PackageVersion')}, schema {doc.get('ManifestVersion')}")


def prop(msi, name):
    out = subprocess.run(["msiinfo", "export", str(msi), "Property"], capture_output=True, text=True).stdout
    return dict(l.split("\t", 1) for l in out.replace("\r", "").splitlines() if "\t" in l).get(name)


# The exit codes each installer documents (README) and what winget must make of them.
nsis = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}
msi_codes = {1602, 1603, 1618, 1633, 1638, 1641}
seen = set()
for i in docs.get("installer", {}).get("Installers", []):
    kind, arch = i.get("InstallerType"), i.get("Architecture")
    seen.add((kind, arch))
    what = f"{kind} {arch}"
    name = i.get("InstallerUrl", "").rsplit("/", 1)[-1]
    expected = {"nullsoft": f"quillshell-{version}-setup.exe", "wix": f"quillshell-{version}-{arch}.msi"}.get(kind)
    if name != expected or not (dist / name).is_file():
        faults.append(f"{what}: URL names {name!r}, not {expected}")
        continue
    if i.get("InstallerSha256", "").lower() != hashlib.sha256((dist / name).read_bytes()).hexdigest():
        faults.append(f"{what}: InstallerSha256 is not that of {name}")
    if i.get("Scope") != "machine" or i.get("UpgradeBehavior") != "install" or not i.get("ElevationRequirement") \
            or not i.get("MinimumOSVersion") or not i.get("ReleaseDate"):
        faults.append(f"{what}: Scope, UpgradeBehavior, ElevationRequirement, MinimumOSVersion or ReleaseDate")
    codes = {c["InstallerReturnCode"] for c in i.get("ExpectedReturnCodes") or []}
    switches = i.get("InstallerSwitches") or {}
    arp = (i.get("AppsAndFeaturesEntries") or [{}])[0]
    if kind == "nullsoft":
        if switches.get("Silent") != "/S" or switches.get("InstallLocation") != "/D=<INSTALLPATH>" \
                or switches.get("Log") != "/LOG=<LOGPATH>" \
                or i.get("InstallerSuccessCodes") != [3010] or codes != nsis \
                or i.get("ProductCode") != "Quillshell" or arp.get("ProductCode") != "Quillshell":
            faults.append(f"{what}: switches, success codes (3010), exit codes {sorted(codes)} or product code")
    else:
        product, upgrade = prop(dist / name, "ProductCode"), prop(dist / name, "UpgradeCode")
        if not product or i.get("ProductCode") != product or arp.get("ProductCode") != product \
                or arp.get("UpgradeCode") != upgrade or arp.get("DisplayVersion") != version:
            faults.append(f"{what}: codes {i.get('ProductCode')}/{arp.get('UpgradeCode')}, the MSI's {product}/{upgrade}")
        if switches.get("InstallLocation") != 'INSTALLDIR="<INSTALLPATH>"' or codes != msi_codes:
            faults.append(f"{what}: INSTALLDIR= or exit codes {sorted(codes)}")
missing = {(k, a) for k in ("nullsoft", "wix") for a in ("x64", "arm64")} - seen
if missing:
    faults.append(f"no installer for {sorted(missing)}")
for f in faults:
    print(f"FAIL: winget: {f}")
print(f"winget manifests: {len(docs)} files, {len(seen)} installers, {len(faults)} fault(s)")
sys.exit(1 if faults else 0)
