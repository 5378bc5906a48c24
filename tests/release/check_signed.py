#!/usr/bin/env python3
"""Checks a signed setup file against the unsigned one it was made from:
the signature verifies, the certificate table is appended after everything
the unsigned file held, signing changed nothing else but the header's
checksum and certificate table entry, and both extract the same files."""

import argparse
import filecmp
import os
import shutil
import subprocess
import sys

import peimage


def differing_ranges(a, b):
    ranges, start = [], None
    for i in range(min(len(a), len(b))):
        if (a[i] != b[i]) != (start is not None):
            if start is None:
                start = i
            else:
                ranges.append((start, i))
                start = None
    if start is not None:
        ranges.append((start, min(len(a), len(b))))
    return ranges


def extract(extractor, setup, dest):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    run = subprocess.run([extractor, setup, dest], capture_output=True, text=True)
    return run.returncode, (run.stdout + run.stderr).strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cafile", required=True, help="the certificate that signed it")
    parser.add_argument("--extractor", required=True, help="kelvra-extract")
    parser.add_argument("--work", required=True)
    parser.add_argument("unsigned")
    parser.add_argument("signed")
    args = parser.parse_args()
    problems = []

    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", args.cafile, "-in", args.signed],
                            capture_output=True, text=True)
    if verify.returncode != 0:
        problems.append("osslsigncode verify failed:\n" + verify.stdout + verify.stderr)

    with open(args.unsigned, "rb") as f:
        unsigned = f.read()
    with open(args.signed, "rb") as f:
        signed = f.read()
    pe = peimage.PeFile(signed)
    table, size = pe.directory(peimage.DIR_SECURITY)
    # The table starts on the first 8-byte boundary after the unsigned bytes
    # and ends the file: the archive before it is untouched.
    if table != (len(unsigned) + 7) & ~7 or table + size != len(signed):
        problems.append("certificate table at %d, %d bytes, in a %d-byte file made from %d bytes"
                        % (table, size, len(signed), len(unsigned)))
    allowed = [(pe.checksum_offset, pe.checksum_offset + 4),
               (pe.directory_entry_offset(peimage.DIR_SECURITY),
                pe.directory_entry_offset(peimage.DIR_SECURITY) + 8)]
    for start, end in differing_ranges(unsigned, signed[:len(unsigned)]):
        if not any(lo <= start and end <= hi for lo, hi in allowed):
            problems.append("signing changed bytes %d to %d of the unsigned file" % (start, end))
    if any(signed[len(unsigned):table]):
        problems.append("the padding before the certificate table is not zero")

    results = []
    for name, path in (("unsigned", args.unsigned), ("signed", args.signed)):
        dest = os.path.join(args.work, "extracted-" + name)
        code, said = extract(args.extractor, path, dest)
        results.append(dest)
        if code != 0:
            problems.append("kelvra-extract %s: exit %d: %s" % (name, code, said))
    compare = filecmp.dircmp(*results)
    if compare.left_only or compare.right_only or compare.diff_files or not compare.common_files:
        problems.append("the signed file extracts differently: %s %s %s"
                        % (compare.left_only, compare.right_only, compare.diff_files))

    for line in problems:
        print(line)
    if not problems:
        print("%s: signature verifies, %d-byte certificate table after the archive, extracts %d files"
              % (args.signed, size, len(compare.common_files)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
