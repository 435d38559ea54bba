#!/usr/bin/env python3
"""Writes the winget manifest set of a release (version, installer and default
locale manifests) for the installers in a dist folder:

    winget.py DIST VERSION EPOCH BASE_URL

Every installer's URL is BASE_URL/<file name>; its hash is that of the file in
DIST, the MSIs' product and upgrade codes are read from their Property tables
(msiinfo), the release date is EPOCH's. Written as winget's manifest schema
1.12.0 has them, into DIST/winget/."""
import datetime, hashlib, pathlib, subprocess, sys

SCHEMA = "1.12.0"
PACKAGE = "Osmund.Quillshell"
# The Windows versions each installer starts on: the binaries need Windows 7
# (_WIN32_WINNT 0x0601); on ARM only Windows 11 runs x64 installers.
MIN_OS = {"x64": "6.1.7601", "arm64": "10.0.22000"}

# Exit codes a deployment tool may see (README, "For administrators"); 0 and,
# for the MSI, 3010 and 1641 winget knows as success itself.
NSIS_SUCCESS = [3010]
NSIS_CODES = [(1, "cancelledByUser"), (2, "contactSupport"), (3, "invalidParameter"),
              (4, "contactSupport"), (5, "contactSupport"), (6, "systemNotSupported"),
              (7, "alreadyInstalled"), (8, "installInProgress"), (9, "invalidParameter"), (10, "downgrade")]
MSI_CODES = [(1602, "cancelledByUser"), (1603, "contactSupport"), (1618, "installInProgress"),
             (1633, "systemNotSupported"), (1638, "alreadyInstalled"), (1641, "rebootInitiated")]


def msi_property(msi, name):
    out = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                         capture_output=True, text=True).stdout
    for line in out.replace("\r", "").splitlines():
        key, _, value = line.partition("\t")
        if key == name:
            return value
    sys.exit(f"winget.py: {msi.name} has no {name}")


def q(value):
    # Every scalar quoted: GUIDs start with "{", versions and dates must stay strings.
    return '"' + str(value).replace("\\", "\\\\").replace('"', '\\"') + '"'


def header(kind):
    return (f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{SCHEMA}.schema.json\n"
            f"PackageIdentifier: {PACKAGE}\nPackageVersion: {q(version)}\n")


def codes(success, expected):
    text = ""
    if success:
        text += "  InstallerSuccessCodes:\n" + "".join(f"  - {c}\n" for c in success)
    text += "  ExpectedReturnCodes:\n" + "".join(
        f"  - InstallerReturnCode: {c}\n    ReturnResponse: {r}\n" for c, r in expected)
    return text


if len(sys.argv) != 5:
    sys.exit(__doc__)
dist, version, epoch, base = pathlib.Path(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4].rstrip("/")
date = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).date().isoformat()
out = dist / "winget"
out.mkdir(parents=True, exist_ok=True)

installers = ""
setup = dist / f"quillshell-{version}-setup.exe"
for arch in ("x64", "arm64"):
    # One NSIS installer for both: it installs the DLLs of the machine's Explorer.
    installers += (f"- Architecture: {arch}\n  InstallerType: nullsoft\n"
                   f"  InstallerUrl: {q(base + '/' + setup.name)}\n"
                   f"  InstallerSha256: {hashlib.sha256(setup.read_bytes()).hexdigest().upper()}\n"
                   f"  MinimumOSVersion: {q(MIN_OS[arch])}\n"
                   "  Scope: machine\n  ElevationRequirement: elevatesSelf\n"
                   "  InstallerSwitches:\n    Silent: /S\n    SilentWithProgress: /S\n"
                   "    InstallLocation: /D=<INSTALLPATH>\n    Log: /LOG=<LOGPATH>\n"
                   + codes(NSIS_SUCCESS, NSIS_CODES) +
                   "  UpgradeBehavior: install\n  ProductCode: Quillshell\n"
                   "  AppsAndFeaturesEntries:\n  - DisplayName: Quillshell archive context menu\n"
                   f"    DisplayVersion: {q(version)}\n    ProductCode: Quillshell\n"
                   f"  ReleaseDate: {q(date)}\n")
for arch in ("x64", "arm64"):
    msi = dist / f"quillshell-{version}-{arch}.msi"
    product = msi_property(msi, "ProductCode")
    # A silent per-machine MSI cannot ask for elevation: msiexec must run elevated.
    installers += (f"- Architecture: {arch}\n  InstallerType: wix\n"
                   f"  InstallerUrl: {q(base + '/' + msi.name)}\n"
                   f"  InstallerSha256: {hashlib.sha256(msi.read_bytes()).hexdigest().upper()}\n"
                   f"  MinimumOSVersion: {q(MIN_OS[arch])}\n"
                   "  Scope: machine\n  ElevationRequirement: elevationRequired\n"
                   "  InstallerSwitches:\n    InstallLocation: INSTALLDIR=\"<INSTALLPATH>\"\n"
                   + codes([], MSI_CODES) +
                   f"  UpgradeBehavior: install\n  ProductCode: {q(product)}\n"
                   "  AppsAndFeaturesEntries:\n  - DisplayName: Quillshell\n"
                   f"    DisplayVersion: {q(version)}\n    ProductCode: {q(product)}\n"
                   f"    UpgradeCode: {q(msi_property(msi, 'UpgradeCode'))}\n"
                   f"  ReleaseDate: {q(date)}\n")

files = {
    f"{PACKAGE}.yaml": header("version") + f"DefaultLocale: en-US\nManifestType: version\nManifestVersion: {SCHEMA}\n",
    f"{PACKAGE}.installer.yaml": header("installer") + "Platform:\n- Windows.Desktop\nInstallers:\n" + installers
    + f"ManifestType: installer\nManifestVersion: {SCHEMA}\n",
    f"{PACKAGE}.locale.en-US.yaml": header("defaultLocale") + "PackageLocale: en-US\nPublisher: Osmund\n"
    "PackageName: Quillshell\nLicense: Proprietary\n"
    "ShortDescription: An Explorer context menu that extracts, tests and creates archives.\n"
    f"ManifestType: defaultLocale\nManifestVersion: {SCHEMA}\n",
}
for name, text in files.items():
    (out / name).write_text(text, encoding="utf-8", newline="\n")
