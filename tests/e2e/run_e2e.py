#!/usr/bin/env python3
"""Runs the real setup file under Wine as a user would, and checks the result.

Each scenario gets a copy of one freshly made Wine prefix, starts the setup
from C:\\Downloads, drives the dialog with the keyboard through X, reads
window texts through the Win32 test driver, and then checks what landed on
disk, in the registry and in the Start menu, and the setup's exit code.

Exit status: 0 when every scenario passed, 1 when one failed, 77 when the
run cannot happen here (no 32-bit Wine for a PE32 setup file).
"""
import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import time
import traceback
import zlib
from pathlib import Path

import payload
from winebox import WINE64, Box, is_pe32, log, make_template, start_display, stop_process, unescape

SKIP = 77
DIALOG = "Kelvra 2.0 Setup"
MESSAGE = "Kelvra Setup"
PRODUCT_WINDOW = "Kelvra"
DEFAULT_DESTINATION = r"C:\Program Files\Kelvra"
UNINSTALL_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Kelvra"
CSIDL_PROGRAMS = 2
CSIDL_COMMON_PROGRAMS = 23
ID_DESTINATION = 1004
IDOK, IDYES, IDNO = 1, 6, 7
EXIT_BAD_LINE, EXIT_CANCELLED, EXIT_FAILED, EXIT_RUNNING = 87, 1602, 1603, 1618

INTRO = ("This program will install Kelvra 2.0 on your computer.\n\nKelvra displays the data transfer rate of "
         "your Internet connection, both numerically and as a real-time graph.\n\nPlease close all running "
         "applications before starting the installation.")
ABORT_QUESTION = "Kelvra setup has not been completed yet.\nAre you sure you want to abort it?"
SUCCESS = "Kelvra has been successfully installed."
INVALID_DESTINATION = "Please specify valid destination directory."
CANNOT_CREATE = "Cannot create destination directory."
CORRUPTED = "Cannot read setup file, it's probably corrupted."
WRITE_FAILURE = "Cannot write extracted file, probably disk is full."


class ScenarioAbort(Exception):
    """A step the rest of the scenario depends on did not happen."""


def require(box, value, what):
    if not box.check(bool(value), what):
        raise ScenarioAbort(what)
    return value


# --- steps shared by the scenarios -------------------------------------------

def place_setup(box, setup_file, data=None):
    """Copies the setup file (or damaged bytes of it) where a download lands."""
    target = box.host_path(r"C:\Downloads")
    target.mkdir(parents=True, exist_ok=True)
    target = target / "KelvraSetup.exe"
    if data is None:
        shutil.copyfile(setup_file, target)
    else:
        target.write_bytes(data)
    return target


def open_setup(box, setup):
    process = box.start(setup)
    dialog = require(box, box.wait_window(DIALOG, 120 * box.slow), "the setup dialog appears")
    return process, dialog


def expect_message(box, text, dismiss="Return"):
    """A message box over the dialog with this text; OK only, or Yes and No with No the default."""
    message = box.wait_window(MESSAGE, 60 * box.slow)
    shown = text.replace("\n", "\\n")
    if not box.check(message is not None, f'a "{MESSAGE}" box appears', f'none came to say "{shown}"'):
        return None
    box.check(text in message.texts(), f'it says "{shown}"', f"it says {message.texts()}")
    dialog = box.wait_window(DIALOG, 0)
    box.check(dialog is not None and message.owner == dialog.handle, "the box is owned by the dialog",
              f"owner {message.owner}")
    want = {IDYES: False, IDNO: True} if text == ABORT_QUESTION else {IDOK: True}
    box.check(message.buttons() == want, "its buttons: " + ("Yes, and No as default" if IDNO in want else "OK"),
              str(message.buttons()))
    if dismiss:
        box.keys(MESSAGE, dismiss)
        box.check(box.wait_window(message.handle, 20 * box.slow, gone=True), "the message box closes")
    return message


def dialog_stays_open(box, destination):
    dialog = box.wait_window(DIALOG, 10 * box.slow)
    box.check(dialog is not None, "the dialog stays open")
    if dialog:
        box.check(dialog.control_text(ID_DESTINATION) == destination, "the destination box is unchanged",
                  repr(dialog.control_text(ID_DESTINATION)))
    return dialog


def type_destination(box, text):
    """Selects the whole destination box and types over it."""
    box.driver("focus", DIALOG, ID_DESTINATION)
    time.sleep(0.3)
    if text:
        box.type_text(DIALOG, text)
    else:
        box.keys(DIALOG, "Delete")
    dialog = box.wait_window(DIALOG, 10)
    require(box, dialog and dialog.control_text(ID_DESTINATION) == text, f"the box reads {text!r}")


def expect_exit(box, process, seconds=60, want=0):
    """Wine hands Linux only the low byte of a Windows exit code: 1602 arrives as 66."""
    try:
        code = process.wait(timeout=seconds * box.slow)
    except Exception:
        code = None
    box.check(code == want & 0xFF, f"the setup exits with code {want}", f"exit code {code} (low byte)")


def abort_setup(box, process, by_close_button=False):
    if by_close_button:
        box.driver("close", DIALOG)
    else:
        box.keys(DIALOG, "Escape")
    question = expect_message(box, ABORT_QUESTION, dismiss=None)
    require(box, question, "the abort question appears")
    box.keys(MESSAGE, "y")
    expect_exit(box, process, want=EXIT_CANCELLED)


def programs_folder(box, csidl=None):
    """Where the setup puts its shortcuts in either mode, everyone's Programs folder, or csidl."""
    rc, lines = box.driver("folder", CSIDL_COMMON_PROGRAMS if csidl is None else csidl)
    return require(box, rc == 0 and lines and lines[0], "the Programs folder resolves")


def driver_values(lines):
    return {key: unescape(value) for key, _, value in (line.partition("=") for line in lines)}


def check_installed(box, destination, expected, view):
    """Files, shortcuts and uninstall entry of an install into destination."""
    directory = box.host_path(destination)
    for name, data in expected.items():
        path = payload.find_case_insensitive(directory, name)
        box.check(path is not None and path.read_bytes() == data,
                  f"{destination}\\{name} holds the packed file byte for byte",
                  "missing" if path is None else f"{path.stat().st_size} bytes, want {len(data)}")

    programs = programs_folder(box)
    for link, target, description in [("Kelvra.lnk", "KELVRA.EXE", "Kelvra"),
                                       ("Kelvra Help.lnk", "KELVRA.HLP", "Kelvra Help")]:
        # Under Wine a link's first read just after the install has been
        # seen to fail once with the link in place: read again for a while.
        deadline = time.monotonic() + 10 * box.slow
        while True:
            rc, lines = box.driver("lnk", f"{programs}\\Kelvra\\{link}")
            if rc == 0 or time.monotonic() > deadline:
                break
            time.sleep(0.5)
        values = driver_values(lines)
        want = f"{destination}\\{target}"
        box.check(rc == 0 and values.get("path") == want, f'"{link}" points at {want}', str(values))
        box.check(values.get("description") == description, f'"{link}" is described as "{description}"',
                  str(values))

    command = f'"{destination}\\KELVRA.EXE" /UNINSTALL'
    for name, data in [("DisplayName", "Kelvra"), ("UninstallString", command)]:
        rc, lines = box.driver("reg", view, UNINSTALL_KEY, name)
        values = driver_values(lines)
        box.check(rc == 0 and values.get("type") == "1" and values.get("data") == data
                  and values.get("size") == str(len(data) + 1),
                  f"{name} is the REG_SZ {data}", str(values))


def check_product_started(box, destination):
    window = box.wait_window(PRODUCT_WINDOW, 60 * box.slow)
    want = f"{destination}\\KELVRA.EXE".lower()
    box.check(window is not None and window.exe.lower() == want, f"KELVRA.EXE runs from {destination}",
              window.exe if window else "no Kelvra window")


def check_nothing_installed(box, destinations, view):
    for destination in destinations:
        box.check(not box.host_path(destination).exists(), f"nothing was created at {destination}")
    programs = programs_folder(box)
    box.check(not box.host_path(programs + "\\Kelvra").exists(), "no Start menu folder was made")
    rc, _ = box.driver("key", view, UNINSTALL_KEY)
    box.check(rc == 1, "no uninstall key was written")


def drive_listing(box):
    """Every path under C: outside the Windows directory, for a before/after comparison."""
    root = box.prefix / "drive_c"
    return {str(p.relative_to(root)) for p in root.rglob("*")
            if p.relative_to(root).parts[0].lower() != "windows"}


def install_with_defaults(box, setup, screenshot=None):
    process, dialog = open_setup(box, setup)
    box.check(dialog.control_text(ID_DESTINATION) == DEFAULT_DESTINATION,
              f"the destination box proposes {DEFAULT_DESTINATION}", repr(dialog.control_text(ID_DESTINATION)))
    if screenshot:
        box.screenshot(dialog.rect, screenshot)
        log(f"  saved a screenshot of the dialog to {screenshot}")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    return dialog


# --- scenarios ----------------------------------------------------------------

def scenario_default(box, context):
    """Install with the default destination."""
    setup = place_setup(box, context.setup)
    dialog = install_with_defaults(box, setup, context.screenshot)
    box.check(dialog.caption == DIALOG, "the dialog's caption")
    for control_id, text in [(1, "Install"), (2, "Cancel"), (1005, "&Browse..."), (1006, INTRO)]:
        box.check(dialog.control_text(control_id) == text, f"control {control_id} reads {text[:30]!r}",
                  repr(dialog.control_text(control_id)))
    box.check("Select destination directory:" in dialog.texts(), "the destination label")
    check_product_started(box, DEFAULT_DESTINATION)
    check_installed(box, DEFAULT_DESTINATION, context.expected, context.view)


def scenario_reinstall(box, context):
    """A second install over a damaged first one, with the first's Kelvra still running."""
    setup = place_setup(box, context.setup)
    install_with_defaults(box, setup)
    check_product_started(box, DEFAULT_DESTINATION)
    directory = box.host_path(DEFAULT_DESTINATION)
    for name in context.expected:
        # A new file under the old name: writing into the running KELVRA.EXE's own file (which
        # Windows refuses) would change the code under the running Kelvra.
        path = payload.find_case_insensitive(directory, name)
        path.with_name("older.tmp").write_bytes(b"left over from an older version\n")
        path.with_name("older.tmp").replace(path)
    shortcuts = box.host_path(programs_folder(box) + "\\Kelvra")
    (shortcuts / "Kelvra.lnk").write_bytes(b"not a shortcut")
    (shortcuts / "Kelvra Help.lnk").unlink()

    process, _ = open_setup(box, setup)
    box.check(box.wait_window(PRODUCT_WINDOW, 0, gone=True), "the running Kelvra closed before the dialog")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    check_product_started(box, DEFAULT_DESTINATION)
    check_installed(box, DEFAULT_DESTINATION, context.expected, context.view)


def scenario_cancel(box, context):
    """Esc answered No changes nothing; the close button answered Yes ends the setup, writing nothing."""
    setup = place_setup(box, context.setup)
    before = drive_listing(box)
    process, dialog = open_setup(box, setup)
    box.keys(DIALOG, "Escape")
    expect_message(box, ABORT_QUESTION)  # Return takes the default answer, No
    after_no = dialog_stays_open(box, DEFAULT_DESTINATION)
    if after_no:
        box.check(after_no.controls == dialog.controls, "the dialog's controls are as they were")
    abort_setup(box, process, by_close_button=True)
    check_nothing_installed(box, [DEFAULT_DESTINATION], context.view)
    added = drive_listing(box) - before
    box.check(not added, "nothing was added under C:", ", ".join(sorted(added)[:10]))


def scenario_destinations(box, context):
    """Refused destinations keep the dialog open; then one with spaces and a trailing backslash installs."""
    setup = place_setup(box, context.setup)
    box.host_path(r"C:\My Apps").mkdir()
    # 251 characters: fits the box, but not with the program's name after it.
    too_long = "C:\\" + "\\".join(["Very Long Folder Name"] * 11) + "\\Longer"
    refused = [("", INVALID_DESTINATION), ("C:", INVALID_DESTINATION),
               (r"C:\No Such Parent\Kelvra", CANNOT_CREATE), (too_long, INVALID_DESTINATION)]
    process, _ = open_setup(box, setup)
    for destination, message in refused:
        log(f"  destination {destination[:40]!r}")
        type_destination(box, destination)
        box.keys(DIALOG, "Return")
        expect_message(box, message)
        dialog_stays_open(box, destination)
    box.check(not box.host_path(r"C:\No Such Parent").exists(), "a missing parent is not created")
    box.check(not box.host_path(r"C:\Very Long Folder Name").exists(), "nothing is created for a too-long destination")

    destination = r"C:\My Apps\Kelvra"
    type_destination(box, destination + "\\")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    check_product_started(box, destination)
    check_installed(box, destination, context.expected, context.view)


def damaged_setup(box, context, damage):
    data = bytearray(Path(context.setup).read_bytes())
    entries = payload.read_entries(bytes(data))
    setup = place_setup(box, context.setup, damage(data, entries))
    process, _ = open_setup(box, setup)
    box.keys(DIALOG, "Return")
    expect_message(box, CORRUPTED)
    dialog_stays_open(box, DEFAULT_DESTINATION)
    abort_setup(box, process)
    programs = programs_folder(box)
    box.check(not box.host_path(programs + "\\Kelvra").exists(), "no Start menu folder was made")
    box.check(box.driver("key", context.view, UNINSTALL_KEY)[0] == 1, "no uninstall key was written")


def scenario_flipped_byte(box, context):
    """A setup file with one byte of an entry's data flipped."""
    def flip(data, entries):
        largest = max(entries, key=lambda e: e.data_size)
        data[largest.data_offset + largest.data_size // 2] ^= 0xFF
        return bytes(data)
    damaged_setup(box, context, flip)


def scenario_cut_short(box, context):
    """A setup file cut short in the middle of its last entry."""
    def cut(data, entries):
        last = entries[-1]
        return bytes(data[:last.data_offset + last.data_size // 2])
    damaged_setup(box, context, cut)


def scenario_running_kelvra(box, context):
    """A Kelvra started before the setup gets the exit message and is gone before the dialog."""
    setup = place_setup(box, context.setup)
    old = box.host_path(r"C:\Old Kelvra")
    old.mkdir()
    shutil.copyfile(context.product, old / "KELVRA.EXE")
    running = box.start(old / "KELVRA.EXE")
    window = require(box, box.wait_window(PRODUCT_WINDOW, 60 * box.slow), "the old Kelvra runs")
    box.check(window.exe.lower() == r"c:\old kelvra\kelvra.exe", "it runs from C:\\Old Kelvra", window.exe)
    process, _ = open_setup(box, setup)
    box.check(box.wait_window(PRODUCT_WINDOW, 0, gone=True), "its window is gone when the dialog appears")
    try:
        code = running.wait(timeout=30 * box.slow)
    except Exception:
        code = None
    box.check(code == 0, "the old Kelvra exited with code 0", f"exit code {code}")
    abort_setup(box, process)


def scenario_hung_window(box, context):
    """A hung window elsewhere on the desktop does not hold the setup back for long."""
    setup = place_setup(box, context.setup)
    box.start(context.driver, "hang", 600_000)
    require(box, box.wait_window("Hung Window", 60 * box.slow), "a window that stops answering is up")
    time.sleep(6)   # the system calls a window hung after five seconds without reading messages
    started = time.monotonic()
    process, _ = open_setup(box, setup)
    waited = time.monotonic() - started
    log(f"  the dialog came after {waited:.1f} s")
    box.check(waited < 60 * box.slow, "the dialog came within a minute, not after the hung window's ten")
    abort_setup(box, process)


def scenario_browse(box, context):
    """The folder browser starts at the box's folder and its choice replaces the box's text."""
    setup = place_setup(box, context.setup)
    inner = box.host_path(r"C:\Browse Here") / "Inner"
    inner.mkdir(parents=True)
    process, _ = open_setup(box, setup)
    type_destination(box, r"C:\Browse Here\Inner")
    wanted = ["Inner", "Browse Here"]

    def browse(keys, want, check_selection=True, opener=("Tab", "space")):
        box.driver("focus", DIALOG, ID_DESTINATION)
        box.keys(DIALOG, *opener)   # from the destination box to Browse..., and press it
        browser = box.wait_owned(DIALOG, 30 * box.slow)
        if not box.check(browser is not None, "the folder browser opens"):
            return
        box.check("Please select directory:" in browser.texts(), "the browser shows its title line",
                  str(browser.texts()))
        # The browser fills its tree and applies the initial selection after
        # it has appeared; keys sent before then would act on no selection.
        deadline = time.monotonic() + (10 if check_selection else 3) * box.slow
        while True:
            rc, labels = box.driver("tree", browser.handle)
            if labels[:2] == wanted or time.monotonic() > deadline:
                break
            time.sleep(0.5)
        log(f"  browser selection, innermost first: {labels}")
        if check_selection:
            box.check(labels[:2] == wanted, r"the browser opens with C:\Browse Here\Inner selected", str(labels))
        if "Left" in keys:   # arrows act on the tree only when it has the focus
            tree = next((cid for cid, cls, *_ in browser.controls if cls == "SysTreeView32"), None)
            box.driver("focus", browser.handle, tree)
            time.sleep(0.3)
        box.keys(browser.caption, *keys)
        box.check(box.wait_window(browser.handle, 20 * box.slow, gone=True), "the browser closes")
        # The box is filled once the browser has returned; on a loaded machine
        # the first read can come before that, so it is read again for a while.
        deadline = time.monotonic() + 10 * box.slow
        while True:
            dialog = box.wait_window(DIALOG, 10)
            text = dialog and dialog.control_text(ID_DESTINATION)
            if text == want or time.monotonic() > deadline:
                break
            time.sleep(0.5)
        box.check(text == want, f"the box then reads {want}", repr(text))

    # Wine's browser ignores the initial selection the first time it is ever
    # opened in a fresh prefix; that first opening is the cancelled one.
    browse(["Escape"], r"C:\Browse Here\Inner", check_selection=False)
    browse(["Return"], r"C:\Browse Here\Inner", opener=("alt+b",))  # Browse's access key
    browse(["Left", "Return"], r"C:\Browse Here")  # Left climbs to the parent folder

    box.driver("focus", DIALOG, ID_DESTINATION)
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    check_installed(box, r"C:\Browse Here", context.expected, context.view)


def tree_bytes(directory):
    """Every file below directory (relative name -> bytes), folders as None."""
    return {str(p.relative_to(directory)): (p.read_bytes() if p.is_file() else None)
            for p in sorted(Path(directory).rglob("*"))}


def scenario_damaged_over_install(box, context):
    """A damaged setup file run over a working install leaves every installed file as it was."""
    setup = place_setup(box, context.setup)
    install_with_defaults(box, setup)
    check_product_started(box, DEFAULT_DESTINATION)
    directory = box.host_path(DEFAULT_DESTINATION)
    # Files of an older version: a setup that replaced any of them before
    # failing would show here, even where it writes the same bytes again.
    for name in context.expected:
        payload.find_case_insensitive(directory, name).write_bytes(f"{name} of an older version\n".encode())
    (directory / "NOTES.TXT").write_bytes(b"the user's own notes\n")
    before = tree_bytes(directory)

    data = bytearray(Path(context.setup).read_bytes())
    last = payload.read_entries(bytes(data))[-1]
    data[last.data_offset + last.data_size // 2] ^= 0xFF
    log(f"  damaged one byte of {last.name}, the last entry")
    setup = place_setup(box, context.setup, bytes(data))
    process, _ = open_setup(box, setup)
    box.keys(DIALOG, "Return")
    expect_message(box, CORRUPTED)
    dialog_stays_open(box, DEFAULT_DESTINATION)
    abort_setup(box, process)
    after = tree_bytes(directory)
    changed = sorted(name for name in before.keys() | after.keys() if before.get(name) != after.get(name))
    box.check(not changed, "every installed file is byte for byte as before, and nothing was added",
              ", ".join(changed[:10]))
    # The intact file then replaces the older version and leaves nothing of its own behind.
    install_with_defaults(box, place_setup(box, context.setup))
    check_installed(box, DEFAULT_DESTINATION, context.expected, context.view)
    names = sorted(p.name.upper() for p in directory.iterdir())
    box.check(names == sorted([n.upper() for n in context.expected] + ["NOTES.TXT"]),
              "the folder holds the entries and the user's notes, nothing else", ", ".join(names))
    box.check((directory / "NOTES.TXT").read_bytes() == b"the user's own notes\n", "the user's notes are untouched")


def mount_tiny_drive(box, context, size):
    """A tmpfs of this size as drive T:, or None (loudly) where mounting is not allowed."""
    mount_point = context.workdir / f"tiny-{box.name}"
    subprocess.run(["umount", "-l", str(mount_point)], stderr=subprocess.DEVNULL, check=False)
    mount_point.mkdir(parents=True, exist_ok=True)
    # Writable by its owner only: the setup refuses a drive whose root anyone may change.
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=755", "tmpfs", str(mount_point)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    if done.returncode != 0:
        log("*" * 72 + f"\n*** SKIPPED: cannot mount a tmpfs for drive T: ({done.stdout.strip()});"
            " the tiny-drive scenario needs root ***\n" + "*" * 72)
        return None
    (box.prefix / "dosdevices" / "t:").symlink_to(mount_point)
    return mount_point


def scenario_tiny_drive(box, context):
    """A destination on a drive too small for the files: the write-failure message, nothing left behind."""
    total = sum(len(data) for data in context.expected.values())
    size = 16 * 1024
    mount_point = mount_tiny_drive(box, context, size)
    if mount_point is None:
        return
    try:
        box.check(total > size, f"the files ({total} bytes) do not fit the {size // 1024} KiB drive")
        setup = place_setup(box, context.setup)
        process, _ = open_setup(box, setup)
        type_destination(box, r"T:\Kelvra")
        box.keys(DIALOG, "Return")
        expect_message(box, WRITE_FAILURE)
        dialog_stays_open(box, r"T:\Kelvra")
        left = sorted(str(p.relative_to(mount_point)) for p in mount_point.rglob("*"))
        box.check(left in ([], ["Kelvra"]), "T: holds no file, temporary or other: at most the empty folder",
                  ", ".join(left[:10]))
        # The user picks another destination and presses Install again.
        type_destination(box, r"C:\Kelvra")
        box.keys(DIALOG, "Return")
        expect_message(box, SUCCESS)
        expect_exit(box, process)
        check_installed(box, r"C:\Kelvra", context.expected, context.view)
    finally:
        box.close()
        subprocess.run(["umount", "-l", str(mount_point)], check=False)


SCENARIOS = {
    "default": scenario_default,
    "reinstall": scenario_reinstall,
    "cancel": scenario_cancel,
    "destinations": scenario_destinations,
    "flipped-byte": scenario_flipped_byte,
    "cut-short": scenario_cut_short,
    "running-kelvra": scenario_running_kelvra,
    "browse": scenario_browse,
    "hung-window": scenario_hung_window,
    "damaged-over-install": scenario_damaged_over_install,
    "tiny-drive": scenario_tiny_drive,
}


# --- unattended deployment, exit codes, one setup at a time, any script -------

SETUP_IN_DOWNLOADS = r"C:\Downloads\KelvraSetup.exe"
ALREADY_RUNNING = "Kelvra Setup is already running."
USAGE_START = "Usage: KelvraSetup.exe [/S] [/LOG=file] [/D=path]"
PUBLISHER = "Kelvra Software"


def run_watched(box, command_line, seconds=120):
    """Runs the command line exactly as written; returns its exit code and every window it showed."""
    _, lines = box.driver("runwatch", int(seconds * 1000 * box.slow), command_line,
                          timeout=seconds * box.slow + 60)
    exits = [line[5:] for line in lines if line.startswith("exit=")]
    code = exits[-1] if exits else "none"
    return (int(code) if code.isdigit() else code), [line for line in lines if line.startswith("#")]


def expect_silent_run(box, command_line, want, what):
    code, windows = run_watched(box, command_line)
    box.check(code == want, f"{what}: exit code {want}", f"exit code {code}")
    box.check(not windows, f"{what}: no window at all", "; ".join(windows))


def read_log(box, windows_path):
    path = box.host_path(windows_path)
    return path.read_bytes().decode("utf-8", errors="replace") if path.exists() else ""


def uninstall_values(box):
    values = {}
    for name in ["DisplayName", "UninstallString", "DisplayVersion", "Publisher", "DisplayIcon", "InstallLocation",
                 "EstimatedSize", "NoModify", "NoRepair", "QuietUninstallString"]:
        rc, lines = box.driver("reg", 32, UNINSTALL_KEY, name)
        fields = driver_values(lines)
        values[name] = (int(fields.get("type", 0)), fields.get("data")) if rc == 0 else None
    return values


def check_deployed(box, destination, expected, csidl):
    """Files, the shortcuts in the Programs folder csidl, and every value of the uninstall entry."""
    directory = box.host_path(destination)
    total = 0
    for name, data in expected.items():
        path = payload.find_case_insensitive(directory, name)
        box.check(path is not None and path.read_bytes() == data,
                  f"{destination}\\{name} is installed", "missing")
        total += path.stat().st_size if path else 0
    rc, lines = box.driver("folder", csidl)
    programs = require(box, rc == 0 and lines and lines[0], f"Programs folder {csidl} resolves")
    for link, target in [("Kelvra.lnk", "KELVRA.EXE"), ("Kelvra Help.lnk", "KELVRA.HLP")]:
        rc, lines = box.driver("lnk", f"{programs}\\Kelvra\\{link}")
        path = driver_values(lines).get("itempath")
        box.check(rc == 0 and path == f"{destination}\\{target}", f'"{link}" in {programs} points at {target}', path)
    program = f"{destination}\\KELVRA.EXE"
    want = {"DisplayName": (1, "Kelvra"), "UninstallString": (1, f'"{program}" /UNINSTALL'),
            "DisplayVersion": (1, "2.0"), "Publisher": (1, PUBLISHER), "DisplayIcon": (1, f"{program},0"),
            "InstallLocation": (1, destination), "EstimatedSize": (4, str(-(-total // 1024))),
            "NoModify": (4, "1"), "NoRepair": (4, "1"), "QuietUninstallString": (1, f'"{program}" /UNINSTALL /S')}
    got = uninstall_values(box)
    for name, value in want.items():
        box.check(got[name] == value, f"{name} is {value[1]}", str(got[name]))


def scenario_silent(box, context):
    """/S: no window, exit 0, everyone's shortcuts and every uninstall value; /D= as launchers quote it; bad lines exit 87."""
    setup = place_setup(box, context.setup)
    before = drive_listing(box)
    for line in [f"{SETUP_IN_DOWNLOADS} /S /X", f"{SETUP_IN_DOWNLOADS} /S /?",
                 f'{SETUP_IN_DOWNLOADS} -s /D="C:\\Kelvra']:
        expect_silent_run(box, line, EXIT_BAD_LINE, line)
    box.check(drive_listing(box) == before and box.driver("key", 32, UNINSTALL_KEY)[0] == 1,
              "the bad lines changed nothing")

    expect_silent_run(box, f'"{SETUP_IN_DOWNLOADS}" /S /LOG=C:\\kelvra.log', 0, "/S")
    check_deployed(box, DEFAULT_DESTINATION, context.expected, CSIDL_COMMON_PROGRAMS)
    box.check(not box.host_path(programs_folder(box, CSIDL_PROGRAMS) + "\\Kelvra").exists(),
              "the user's own Start menu is untouched")
    box.check(box.wait_window(PRODUCT_WINDOW, 3) is None, "Kelvra was not started")
    text = read_log(box, r"C:\kelvra.log")
    for line in [f'command line: "{SETUP_IN_DOWNLOADS}" /S /LOG=C:\\kelvra.log',
                 f"destination: {DEFAULT_DESTINATION}", f"installed: {DEFAULT_DESTINATION}\\KELVRA.EXE (",
                 "shortcuts in ", "uninstall entry: written", "result: 0 installed"]:
        box.check(line in text, f"the log says {line!r}", text[-300:])

    # Missing parents are created; the entry follows the last install.
    for form, destination in [(r"/S /D=C:\Deploy Here\Kelvra App", r"C:\Deploy Here\Kelvra App"),
                              (r'-s "/D=C:\Deploy Here\Quoted Whole"', r"C:\Deploy Here\Quoted Whole"),
                              (r'/S /d="C:\Deploy There\Quoted Value" ', r"C:\Deploy There\Quoted Value")]:
        expect_silent_run(box, f"{SETUP_IN_DOWNLOADS} {form}", 0, form)
        box.check(payload.find_case_insensitive(box.host_path(destination), "KELVRA.EXE") is not None,
                  f"installed into {destination}")
    check_deployed(box, r"C:\Deploy There\Quoted Value", context.expected, CSIDL_COMMON_PROGRAMS)
    listed = subprocess.run([WINE64, "uninstaller", "--list"], env=box.env, capture_output=True, text=True,
                            timeout=120).stdout
    box.check("Kelvra" in listed.split("|||"), "Wine's Add/Remove Programs lists Kelvra", listed)


def scenario_silent_refusals(box, context):
    """/S into bad destinations: 1603 and nothing created; a damaged setup file: 1603, no window, no entry."""
    place_setup(box, context.setup)
    log_file = r"C:\refused.log"
    before = drive_listing(box)
    refused = ["C:", "Kelvra Relative", r"C:\Downloads\KelvraSetup.exe\Kelvra", r"C:\New Parent\Bad|Name\Kelvra",
               r"Q:\Kelvra", "C:\\" + "\\".join(["Very Long Folder Name"] * 12)]
    for destination in refused:
        expect_silent_run(box, f"{SETUP_IN_DOWNLOADS} /S /LOG={log_file} /D={destination}", EXIT_FAILED,
                          f"/D={destination[:40]}")
    added = drive_listing(box) - before - {"refused.log"}
    box.check(not added, "nothing was created", ", ".join(sorted(added)[:10]))
    text = read_log(box, log_file)
    box.check(text.count("result: 1603 install failed") == len(refused), "the log gives each 1603",
              text[-400:])

    data = bytearray(Path(context.setup).read_bytes())
    largest = max(payload.read_entries(bytes(data)), key=lambda e: e.data_size)
    data[largest.data_offset + largest.data_size // 2] ^= 0xFF
    box.host_path(r"C:\Downloads\Damaged.exe").write_bytes(bytes(data))
    expect_silent_run(box, rf"C:\Downloads\Damaged.exe /S /LOG={log_file}", EXIT_FAILED, "a damaged setup file")
    text = read_log(box, log_file)
    box.check(re.search(r"result: 1603 install failed \(XR_[A-Z_]+ 0xE00000[0-9A-F]{2}\)", text) is not None,
              "the log's result names the extraction failure", text[-300:])
    box.check(box.driver("key", 32, UNINSTALL_KEY)[0] == 1, "no uninstall key was written")
    rc, lines = box.driver("folder", CSIDL_COMMON_PROGRAMS)
    box.check(not box.host_path(lines[0] + "\\Kelvra").exists(), "no Start menu folder was made")


def expect_lone_box(box, text):
    """A message box of its own (no dialog behind it) saying text, OK only; dismissed."""
    message = box.wait_window(MESSAGE, 60 * box.slow)
    if not box.check(message is not None, f'a "{MESSAGE}" box appears'):
        return
    box.check(any(t.startswith(text) for t in message.texts()), f'it says "{text}"', str(message.texts()))
    box.check(message.buttons() == {IDOK: True}, "with OK only", str(message.buttons()))
    box.keys(MESSAGE, "Return")
    box.check(box.wait_window(message.handle, 20 * box.slow, gone=True), "the box closes")


def scenario_exit_codes(box, context):
    """Interactive: /? and a bad switch show the usage; a second setup gets 1618; cancel 1602; /D= fills the box."""
    setup = place_setup(box, context.setup)
    for argument, want in [("/?", 0), ("/X", EXIT_BAD_LINE)]:
        process = box.start(setup, argument)
        expect_lone_box(box, USAGE_START)
        expect_exit(box, process, want=want)

    typed = r"C:\Typed Kelvra"
    first = box.start(setup, f"/D={typed}")
    dialog = require(box, box.wait_window(DIALOG, 120 * box.slow), "the setup dialog appears")
    box.check(dialog.control_text(ID_DESTINATION) == typed, f"the box holds /D= {typed}",
              repr(dialog.control_text(ID_DESTINATION)))
    second = box.start(setup)
    expect_lone_box(box, ALREADY_RUNNING)
    expect_exit(box, second, want=EXIT_RUNNING)
    expect_silent_run(box, f"{SETUP_IN_DOWNLOADS} /S", EXIT_RUNNING, "a silent second setup")
    abort_setup(box, first)
    check_nothing_installed(box, [typed], 32)

    process = box.start(setup, r"/LOG=C:\interactive.log", f"/D={typed}")
    require(box, box.wait_window(DIALOG, 120 * box.slow), "the setup dialog appears again")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    check_product_started(box, typed)
    check_deployed(box, typed, context.expected, CSIDL_COMMON_PROGRAMS)
    started = [line for line in read_log(box, r"C:\interactive.log").splitlines() if line.startswith("started:")]
    log(f"  the log: {started}")
    box.check(len(started) == 1, "the log says how Kelvra was started", str(started))


def scenario_unicode(box, context):
    """A setup file in a folder named in several scripts installs into a destination named in several."""
    folder = "C:\\Загрузки ダウンロード Λήψεις"
    destination = "C:\\Kelvra Программа 软件 Ωμέγα"
    host_folder = box.host_path(folder)
    host_folder.mkdir(parents=True)
    setup = host_folder / "KelvraSetup.exe"
    shutil.copyfile(context.setup, setup)
    process = box.start(setup, rf"/LOG=C:\unicode.log", f"/D={destination}")
    require(box, box.wait_window(DIALOG, 120 * box.slow), "the setup dialog appears")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    box.check(box.wait_window(PRODUCT_WINDOW, 60 * box.slow) is not None, "Kelvra runs")
    check_deployed(box, destination, context.expected, CSIDL_COMMON_PROGRAMS)
    text = read_log(box, r"C:\unicode.log")
    box.check(f"setup file: {folder}\\KelvraSetup.exe" in text, "the log names the setup file's own folder",
              text[:300])


def scenario_shell_fallback(box, context):
    """Without the desktop shell's automation the installed Kelvra is not started elevated; the log says so."""
    # No COM server process: the shell's window list cannot be reached.
    box.extra_overrides = "rpcss.exe=d"
    setup = place_setup(box, context.setup)
    destination = r"C:\Fallback Kelvra"
    process = box.start(setup, r"/LOG=C:\fallback.log", f"/D={destination}")
    require(box, box.wait_window(DIALOG, 120 * box.slow), "the setup dialog appears")
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    box.check(box.wait_window(PRODUCT_WINDOW, 5) is None, "Kelvra was not started")
    started = [line for line in read_log(box, r"C:\fallback.log").splitlines() if "started:" in line]
    log(f"  the log: {started}")
    box.check(len(started) == 1 and started[0].startswith("not started:") and "elevated" in started[0],
              "the log says it was not started, as it would have run elevated", str(started))


def renamed_entry(data, old, new):
    """The setup file with one entry's stored name changed (same length) and its header CRC mended."""
    data = bytearray(data)
    at = data.index(old.encode() + b"\0")
    header = data.rindex(payload.HEADER_ID, 0, at)
    size = int.from_bytes(data[header + 2:header + 4], "little")
    data[at:at + len(new)] = new.encode()
    crc = zlib.crc32(bytes(data[header + 4:header + 4 + size]))
    data[header + 4 + size:header + 8 + size] = crc.to_bytes(4, "little")
    return bytes(data)


def scenario_swapped_file(box, context):
    """The setup file renamed and replaced by another setup while the dialog is open installs nothing of it."""
    setup = place_setup(box, context.setup)
    other = renamed_entry(Path(context.setup).read_bytes(), "LICENSE.TXT", "PLANTED.TXT")
    require(box, [e.name for e in payload.read_entries(other)].count("PLANTED.TXT") == 1, "a substitute is made")
    process, _ = open_setup(box, setup)
    moved = subprocess.run([WINE64, "cmd", "/c", "move", SETUP_IN_DOWNLOADS, r"C:\Downloads\Moved.exe"],
                           env=box.env, capture_output=True, timeout=120)
    box.check(not box.host_path(r"C:\Downloads\Moved.exe").exists(), "Windows refuses to rename the open file",
              moved.stdout.decode(errors="replace"))
    # Past Windows' own checks, as a file system shared with another machine could be changed.
    setup.rename(setup.with_name("Renamed.exe"))
    setup.write_bytes(other)
    box.keys(DIALOG, "Return")
    expect_message(box, SUCCESS)
    expect_exit(box, process)
    check_installed(box, DEFAULT_DESTINATION, context.expected, context.view)
    box.check(payload.find_case_insensitive(box.host_path(DEFAULT_DESTINATION), "PLANTED.TXT") is None,
              "nothing of the substitute was installed")

    # Started from the substitute, the stub's seal refuses its archive.
    process, _ = open_setup(box, setup)
    box.keys(DIALOG, "Return")
    expect_message(box, CORRUPTED)
    abort_setup(box, process)
    box.check(payload.find_case_insensitive(box.host_path(DEFAULT_DESTINATION), "PLANTED.TXT") is None,
              "a setup file whose archive is not its own installs nothing")


SCENARIOS.update({
    "shell-fallback": scenario_shell_fallback,
    "swapped-file": scenario_swapped_file,
    "silent": scenario_silent,
    "silent-refusals": scenario_silent_refusals,
    "exit-codes": scenario_exit_codes,
    "unicode": scenario_unicode,
})


# --- the run --------------------------------------------------------------------

def run_scenario(name, context):
    log(f"scenario {name}: {SCENARIOS[name].__doc__}")
    prefix = context.workdir / f"prefix-{name}"
    shutil.rmtree(prefix, ignore_errors=True)
    (context.workdir / f"{name}.log").unlink(missing_ok=True)
    subprocess.run(["cp", "-a", str(context.template), str(prefix)], check=True, timeout=600)
    box = Box(name=name, prefix=prefix, display=context.display, driver_exe=str(context.driver),
              workdir=context.workdir, slow=context.slow)
    started = time.monotonic()
    try:
        SCENARIOS[name](box, context)
    except ScenarioAbort:
        pass
    except Exception:  # a harness fault must fail the scenario, not the whole run
        box.failures.append("harness error")
        log(traceback.format_exc())
    finally:
        box.close()
    verdict = "FAIL" if box.failures else "PASS"
    log(f"scenario {name}: {verdict} in {time.monotonic() - started:.0f} s")
    if box.failures:
        log(f"  left {prefix} and {box.logfile} for a look")
    elif not context.keep:
        shutil.rmtree(prefix, ignore_errors=True)
    return not box.failures


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--setup", required=True, help="the setup file under test")
    parser.add_argument("--driver", required=True, help="the x86-64 Win32 test driver")
    parser.add_argument("--product", required=True, help="KELVRA.EXE as built, for the running-Kelvra scenario")
    parser.add_argument("--payload-dir", action="append", required=True,
                        help="where the packed files came from (repeatable)")
    parser.add_argument("--workdir", required=True, help="scratch space for prefixes and logs")
    parser.add_argument("--scenario", action="append", choices=sorted(SCENARIOS),
                        help="run only these (repeatable); default all")
    parser.add_argument("--screenshot", help="save the dialog as a PNG here")
    parser.add_argument("--emulator-script", help="run this first for a PE32 setup; a failure skips the run")
    parser.add_argument("--reuse-template", action="store_true", help="keep an existing template prefix")
    parser.add_argument("--keep", action="store_true", help="keep every scenario's prefix")
    return parser.parse_args()


def main():
    context = parse_args()
    started = time.monotonic()
    context.workdir = Path(context.workdir).resolve()
    context.workdir.mkdir(parents=True, exist_ok=True)
    pe32 = is_pe32(context.setup)
    context.view = 32  # the setup pins the uninstall entry to the 32-bit view at either width
    context.slow = 10 if pe32 else 1
    if pe32:
        if not Path("/usr/lib/wine/wine").exists() or (
                context.emulator_script and subprocess.run([context.emulator_script]).returncode != 0):
            print("*" * 72 + "\n*** SKIPPED: 32-bit Wine cannot run here, so the PE32 setup file was not"
                  " run ***\n" + "*" * 72, flush=True)
            return SKIP
    context.expected = payload.expected_files(context.setup, context.payload_dir)
    log(f"setup {context.setup}: {len(context.expected)} entries: {', '.join(context.expected)}")

    # A whole-suite run may hand every build tree one template to share (made
    # by whichever run comes first); otherwise each run makes its own.
    shared = os.environ.get("KELVRA_E2E_TEMPLATE")
    context.template = Path(shared).resolve() if shared else context.workdir / "template"
    context.template.parent.mkdir(parents=True, exist_ok=True)
    with open(f"{context.template}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not ((shared or context.reuse_template) and (context.template / "system.reg").exists()):
            log(f"making a fresh Wine prefix in {context.template} (takes minutes)")
            make_template(context.template, context.workdir / "template.log")
            log(f"prefix ready after {time.monotonic() - started:.0f} s")

    context.display, xvfb = start_display()
    log(f"Xvfb on display {context.display}")
    try:
        names = context.scenario or list(SCENARIOS)
        results = {name: run_scenario(name, context) for name in names}
    finally:
        stop_process(xvfb)
    for name, passed in results.items():
        log(f"{'PASS' if passed else 'FAIL'}  {name}")
    log(f"{sum(results.values())} of {len(results)} scenarios passed in {time.monotonic() - started:.0f} s")
    return 0 if all(results.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
