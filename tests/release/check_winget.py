#!/usr/bin/env python3
"""Checks the package manifest set the win32 build writes: each file valid
against the published schema, and the installer file saying what the setup
file really does (its switches, exit codes, registry entry and hash).
Exit 77 (skipped) when the schemas are not beside the repository."""

import argparse
import glob
import hashlib
import json
import os
import sys

import yaml

from check_version import header_defines

SCHEMAS = {
    "version": "manifest.version.1.10.0.json",
    "defaultLocale": "manifest.defaultLocale.1.10.0.json",
    "installer": "manifest.installer.1.10.0.json",
}


def expected_installer(defines, sha256, url):
    text = lambda name: defines[name].strip('"')
    entry = {
        "DisplayName": text("KELVRA_PRODUCT_NAME"),
        "DisplayVersion": text("KELVRA_DISPLAY_VERSION"),
        "Publisher": text("KELVRA_PUBLISHER"),
        "ProductCode": "Kelvra",
    }
    return [
        ("ManifestVersion", "1.10.0"),
        ("PackageVersion", text("KELVRA_DISPLAY_VERSION")),
        ("InstallerType", "exe"),
        ("Scope", "machine"),
        ("ElevationRequirement", "elevatesSelf"),
        ("ProductCode", "Kelvra"),
        ("InstallerSwitches", {"Silent": "/S", "SilentWithProgress": "/S",
                               "InstallLocation": "/D=<INSTALLPATH>", "Log": "/LOG=<LOGPATH>"}),
        ("ExpectedReturnCodes", [
            {"InstallerReturnCode": 1602, "ReturnResponse": "cancelledByUser"},
            {"InstallerReturnCode": 1618, "ReturnResponse": "installInProgress"},
            {"InstallerReturnCode": 87, "ReturnResponse": "invalidParameter"},
            {"InstallerReturnCode": 3010, "ReturnResponse": "rebootRequiredToFinish"}]),
        ("AppsAndFeaturesEntries", [entry]),
        ("Installers", [{"Architecture": "x86", "InstallerUrl": url, "InstallerSha256": sha256}]),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--schemas", required=True, help="folder of the published JSON schemas")
    parser.add_argument("--header", required=True, help="resources/version.h")
    parser.add_argument("--setup", required=True, help="the setup file the manifest describes")
    parser.add_argument("--url", required=True, help="the InstallerUrl the build was given")
    parser.add_argument("manifests", help="the folder the build wrote")
    args = parser.parse_args()
    if not os.path.isdir(args.schemas):
        print("*** SKIPPED: no package manifest schemas at %s ***" % args.schemas)
        return 77
    import jsonschema

    documents = {}
    problems = []
    for path in sorted(glob.glob(os.path.join(args.manifests, "*.yaml"))):
        with open(path, encoding="utf-8") as f:
            document = yaml.safe_load(f)
        kind = document.get("ManifestType")
        if kind not in SCHEMAS or kind in documents:
            problems.append("%s: unexpected or repeated ManifestType %r" % (path, kind))
            continue
        documents[kind] = document
        with open(os.path.join(args.schemas, SCHEMAS[kind]), encoding="utf-8") as f:
            schema = json.load(f)
        for error in jsonschema.Draft7Validator(schema).iter_errors(document):
            problems.append("%s: %s at %s" % (path, error.message, "/".join(map(str, error.path))))
    problems += ["no %s manifest" % kind for kind in SCHEMAS if kind not in documents]
    if len(documents) == len(SCHEMAS):
        ids = {(d["PackageIdentifier"], d["PackageVersion"]) for d in documents.values()}
        if len(ids) != 1:
            problems.append("the three files name different packages: %s" % sorted(ids))
        defines = header_defines(args.header)
        if documents["defaultLocale"]["Publisher"] != defines["KELVRA_PUBLISHER"].strip('"'):
            problems.append("defaultLocale: Publisher is not the vendor's name in version.h")
        with open(args.setup, "rb") as f:
            sha256 = hashlib.sha256(f.read()).hexdigest().upper()
        installer = documents["installer"]
        for key, want in expected_installer(defines, sha256, args.url):
            if installer.get(key) != want:
                problems.append("installer: %s is %r, expected %r" % (key, installer.get(key), want))
    for line in problems:
        print(line)
    if not problems:
        print("%s: three files valid, installer hash %s" % (args.manifests, sha256))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
