#!/usr/bin/env python3
"""Checks a signed setup file against the unsigned one it was made from:
the signature verifies, the certificate table is appended after everything
the unsigned file held, signing changed nothing else but the header's
checksum and certificate table entry, and both extract the same files.

A release whose packed programs are signed too (KELVRA.EXE is signed before
it is packed) differs from the unsigned build inside its archive and in the
stub's seal. Then each program that differs must verify and be the unsigned
build's program plus its signature by the same rule, and the setup file
that mksetup makes from the unsigned build's stub and files, with those
signed programs in their places and the release's entry times, must be the
release less its outer signature. No key is needed for any of it."""

import argparse
import calendar
import filecmp
import os
import shutil
import subprocess
import sys

import peimage

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import payload  # noqa: E402


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


def signing_problems(unsigned, signed, what):
    """What signing changed beyond the appended table, the checksum and the table's entry."""
    problems = []
    pe = peimage.PeFile(signed)
    table, size = pe.directory(peimage.DIR_SECURITY)
    # The table starts on the first 8-byte boundary after the unsigned bytes
    # and ends the file: the archive before it is untouched.
    if not size or table != (len(unsigned) + 7) & ~7 or table + size != len(signed):
        problems.append("%s: certificate table at %d, %d bytes, in a %d-byte file made from %d bytes"
                        % (what, table, size, len(signed), len(unsigned)))
    allowed = [(pe.checksum_offset, pe.checksum_offset + 4),
               (pe.directory_entry_offset(peimage.DIR_SECURITY),
                pe.directory_entry_offset(peimage.DIR_SECURITY) + 8)]
    for start, end in differing_ranges(unsigned, signed[:len(unsigned)]):
        if not any(lo <= start and end <= hi for lo, hi in allowed):
            problems.append("%s: signing changed bytes %d to %d of the unsigned file" % (what, start, end))
    if any(signed[len(unsigned):table]):
        problems.append("%s: the padding before the certificate table is not zero" % what)
    return problems, size


def verify(cafile, path):
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", cafile, "-in", path], capture_output=True, text=True)
    return [] if run.returncode == 0 else ["osslsigncode verify %s failed:\n%s%s" % (path, run.stdout, run.stderr)]


def dos_time(packed):
    date, time = packed >> 16, packed & 0xFFFF
    return calendar.timegm((1980 + (date >> 9), (date >> 5) & 15, date & 31,
                            time >> 11, (time >> 5) & 63, (time & 31) * 2))


def repack(args, signed_bytes, release_dir, work):
    """The setup file mksetup makes from the local stub and the release's (checked) files."""
    entries = payload.read_entries(signed_bytes)
    main_header, _ = payload._read_header(signed_bytes, payload.find_archive(signed_bytes))
    first = main_header[0]
    name = main_header[first:main_header.index(0, first)].decode("latin-1")
    out = os.path.join(work, "repacked")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    command = [args.mksetup, "-o", os.path.join(out, name), "--stub", args.stub, "--method", str(entries[0].method)]
    for entry in entries:
        path = os.path.join(release_dir, entry.name)
        when = dos_time(entry.timestamp)
        os.utime(path, (when, when))
        command += ["--text", path] if entry.file_type == 1 else [path]
    env = dict(os.environ, TZ="UTC0")
    env.pop("SOURCE_DATE_EPOCH", None)
    run = subprocess.run(command, env=env, capture_output=True, text=True)
    if run.returncode != 0:
        return None, ["mksetup failed: " + run.stderr]
    with open(os.path.join(out, name), "rb") as f:
        return f.read(), []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cafile", required=True, help="the certificate that signed it")
    parser.add_argument("--extractor", required=True, help="kelvra-extract")
    parser.add_argument("--mksetup", help="mksetup, for a release whose packed programs are signed")
    parser.add_argument("--stub", help="KelvraSetupStub.exe of the unsigned build, likewise")
    parser.add_argument("--work", required=True)
    parser.add_argument("unsigned")
    parser.add_argument("signed")
    args = parser.parse_args()
    problems = verify(args.cafile, args.signed)

    with open(args.unsigned, "rb") as f:
        unsigned = f.read()
    with open(args.signed, "rb") as f:
        signed = f.read()

    results = []
    for name, path in (("unsigned", args.unsigned), ("signed", args.signed)):
        dest = os.path.join(args.work, "extracted-" + name)
        code, said = extract(args.extractor, path, dest)
        results.append(dest)
        if code != 0:
            problems.append("kelvra-extract %s: exit %d: %s" % (name, code, said))
    compare = filecmp.dircmp(*results)
    if compare.left_only or compare.right_only or not compare.common_files:
        problems.append("the signed file extracts other files: %s %s" % (compare.left_only, compare.right_only))
    inner = []
    for program in compare.diff_files:
        with open(os.path.join(results[0], program), "rb") as a, open(os.path.join(results[1], program), "rb") as b:
            found, _ = signing_problems(a.read(), b.read(), program)
        problems += found + verify(args.cafile, os.path.join(results[1], program))
        inner.append(program)

    expected = unsigned
    if inner and not problems:
        if not (args.mksetup and args.stub):
            problems.append("%s signed inside: --mksetup and --stub are needed to rebuild it" % inner)
        else:
            expected, found = repack(args, signed, results[1], args.work)
            problems += found
    size = 0
    if expected is not None and not problems:
        found, size = signing_problems(expected, signed, os.path.basename(args.signed))
        problems += found

    for line in problems:
        print(line)
    if not problems:
        print("%s: signature verifies, %d-byte certificate table after the archive, extracts %d files%s"
              % (args.signed, size, len(compare.common_files),
                 ", signed inside: " + ", ".join(inner) if inner else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
