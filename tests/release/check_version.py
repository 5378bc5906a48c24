#!/usr/bin/env python3
"""Fails unless a built program carries the version resource a release
needs: the product, company, versions and copyright of version.h, and its
own description and file name; its manifest names the same version."""

import argparse
import re
import sys

import peimage

RT_MANIFEST = 24


def header_defines(path):
    with open(path, encoding="utf-8") as f:
        return dict(re.findall(r'^#define (\w+) (.+?)\s*$', f.read(), re.M))


def expected(defines, description, filename):
    text = lambda name: defines[name].strip('"')
    display = text("KELVRA_DISPLAY_VERSION")
    four = "%s.%s.0.0" % (defines["KELVRA_VERSION_MAJOR"], defines["KELVRA_VERSION_MINOR"])
    if not (four + ".").startswith(display + "."):
        sys.exit("version.h: %s and %s disagree" % (display, four))
    return {
        "fixed FileVersion": four,
        "fixed ProductVersion": four,
        "language": "040904B0",
        "CompanyName": text("KELVRA_PUBLISHER"),
        "FileDescription": description,
        "FileVersion": display,
        "LegalCopyright": text("KELVRA_COPYRIGHT"),
        "OriginalFilename": filename,
        "ProductName": text("KELVRA_PRODUCT_NAME"),
        "ProductVersion": display,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--header", required=True, help="resources/version.h")
    parser.add_argument("--description", required=True)
    parser.add_argument("--filename", required=True, help="the OriginalFilename expected")
    parser.add_argument("program")
    args = parser.parse_args()
    want = expected(header_defines(args.header), args.description, args.filename)
    with open(args.program, "rb") as f:
        try:
            pe = peimage.PeFile(f.read())
            got = peimage.version_info(pe)
        except peimage.PeError as e:
            sys.exit("%s: %s" % (args.program, e))
    manifests = pe.resources(RT_MANIFEST)
    identity = re.search(rb'<assemblyIdentity[^>]* version="([^"]+)"', manifests[0][2] if manifests else b"")
    got["manifest version"] = identity.group(1).decode() if identity else None
    want["manifest version"] = want["fixed FileVersion"]
    wrong = ["%s: %r, expected %r" % (k, got.get(k), v) for k, v in want.items() if got.get(k) != v]
    for line in wrong:
        print("%s: %s" % (args.program, line))
    if not wrong:
        print("%s: %s %s by %s" % (args.program, got["ProductName"], got["ProductVersion"], got["CompanyName"]))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
