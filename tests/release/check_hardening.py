#!/usr/bin/env python3
"""Fails unless each built program carries the loader's protections: a
relocatable image with no-execute data, terminal-server aware, no exception
handlers of its own in a PE32 file (or a SafeSEH table), and subsystem
version 6.0. With --signed-setup, the KELVRA.EXE packed inside that setup
file must carry a signature too."""

import argparse
import os
import subprocess
import sys
import tempfile

import peimage

DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x400, 0x8000
DIR_LOAD_CONFIG = 10


def problems_of(path):
    with open(path, "rb") as f:
        pe = peimage.PeFile(f.read())
    flags = pe.u16(pe.optional + 70)
    found = []
    for bit, name in [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"),
                      (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")]:
        if not flags & bit:
            found.append("%s: no %s" % (path, name))
    if not pe.is64 and not flags & NO_SEH:
        # The load configuration's SEHandlerTable sits at byte 64 of it.
        rva, size = pe.directory(DIR_LOAD_CONFIG)
        if size < 72 or not pe.u32(pe.offset(rva) + 64):
            found.append("%s: neither NO_SEH nor a SafeSEH table" % path)
    version = (pe.u16(pe.optional + 48), pe.u16(pe.optional + 50))
    if version != (6, 0):
        found.append("%s: subsystem version %d.%d, not 6.0" % ((path,) + version))
    return found


def packed_program_signed(setup, extractor):
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([extractor, setup, out + "/"], capture_output=True, text=True)
        program = os.path.join(out, "KELVRA.EXE")
        if run.returncode != 0 or not os.path.exists(program):
            return ["%s: cannot extract KELVRA.EXE: %s" % (setup, run.stdout + run.stderr)]
        with open(program, "rb") as f:
            table, size = peimage.PeFile(f.read()).directory(peimage.DIR_SECURITY)
        return [] if table and size else ["%s: the packed KELVRA.EXE is not signed" % setup]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--signed-setup", help="a signed setup file whose KELVRA.EXE must be signed")
    parser.add_argument("--extractor", help="kelvra-extract, for --signed-setup")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    problems = [p for path in args.programs for p in problems_of(path)]
    if args.signed_setup:
        problems += packed_program_signed(args.signed_setup, args.extractor)
    for line in problems:
        print(line)
    if not problems:
        print("hardened: " + ", ".join(args.programs))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
