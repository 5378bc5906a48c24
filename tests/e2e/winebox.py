"""The machinery under the end-to-end scenarios: an X display of our own,
Wine prefixes (one template per run, one copy per scenario), the Win32 test
driver, and keyboard input through X.

Every wait here is bounded. Processes are started by this module and ended by
it through their own handles; a scenario's Wine server is ended with
`wineserver -k` in that scenario's prefix only.
"""
import os
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

# The tree's one Wine environment (loaders, debug and DLL settings) and the
# way it makes prefixes live in scripts/wine-env.sh.
WINE_ENV_SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "wine-env.sh"


def read_wine_env():
    listed = subprocess.run(["bash", str(WINE_ENV_SCRIPT), "env"], capture_output=True, text=True, check=True)
    return dict(line.split("=", 1) for line in listed.stdout.splitlines())


WINE_ENV = read_wine_env()
WINE64 = WINE_ENV["KELVRA_WINE64"]
WINE32 = WINE_ENV["KELVRA_WINE32"]
WINESERVER = WINE_ENV["KELVRA_WINESERVER"]

# Wine draws the frame and caption itself instead of leaving them to a window
# manager (there is none on the test display), and a crash must end the
# process instead of opening a debugger dialog that waits for a click.
PREFIX_SETTINGS = [
    (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
    (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
]


def log(message):
    print(time.strftime("%H:%M:%S"), message, flush=True)


def is_pe32(exe):
    """True for a 32-bit PE image, which needs 32-bit Wine."""
    data = Path(exe).read_bytes()[:4096]
    pe = int.from_bytes(data[60:64], "little")
    return int.from_bytes(data[pe + 4:pe + 6], "little") == 0x14C


def loader_for(exe):
    return WINE32 if is_pe32(exe) else WINE64


def display_in_use(number):
    """A lock whose server is gone is stale: Xvfb takes such a display over."""
    try:
        pid = int(Path(f"/tmp/.X{number}-lock").read_text().strip())
    except (OSError, ValueError):
        return Path(f"/tmp/.X11-unix/X{number}").exists()
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def stop_process(process, grace=10):
    """Ends a process this module started: politely, then for certain."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            process.kill()
    process.wait()


def start_display(first=95, last=110):
    """Starts Xvfb on the first free display from `first`; returns (name, process)."""
    for number in range(first, last):
        if display_in_use(number):
            continue
        process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = Path(f"/tmp/.X11-unix/X{number}")
        for _ in range(100):
            if socket.exists() or process.poll() is not None:
                break
            time.sleep(0.1)
        if process.poll() is None and socket.exists():
            return f":{number}", process
        stop_process(process)
    raise RuntimeError("no free X display for Xvfb")


def wine_env(prefix, display, extra_overrides=""):
    env = dict(os.environ)
    overrides = WINE_ENV["WINEDLLOVERRIDES"] + (";" + extra_overrides if extra_overrides else "")
    env.update(WINEPREFIX=str(prefix), WINEDEBUG=WINE_ENV["WINEDEBUG"], WINEDLLOVERRIDES=overrides)
    env.pop("WINEARCH", None)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def run_bounded(command, env, timeout, logfile=None):
    out = open(logfile, "ab") if logfile else subprocess.DEVNULL
    try:
        return subprocess.run(command, env=env, stdout=out, stderr=out, timeout=timeout).returncode
    finally:
        if logfile:
            out.close()


def make_template(prefix, logfile, timeout=1800):
    """Creates a fresh prefix with the settings above; slow (minutes)."""
    prefix = Path(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    Path(logfile).unlink(missing_ok=True)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    env = wine_env(prefix, None)
    try:
        run_bounded(["bash", str(WINE_ENV_SCRIPT), "prefix", str(prefix)], env, timeout, logfile)
        for key, name, kind, data in PREFIX_SETTINGS:
            run_bounded([WINE64, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"], env, 120, logfile)
        run_bounded([WINESERVER, "-w"], env, 120, logfile)
    finally:
        run_bounded([WINESERVER, "-k"], env, 60)
    if not (prefix / "system.reg").exists() or not (prefix / "drive_c" / "windows").is_dir():
        raise RuntimeError(f"wineboot did not make a prefix in {prefix}")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


@dataclass
class Window:
    handle: str            # "#hex", usable as a driver target
    pid: int
    exe: str               # Windows path of the owning program
    class_name: str
    rect: tuple            # left, top, right, bottom in screen pixels
    owner: str
    caption: str
    controls: list = field(default_factory=list)  # (id, class, style, text)

    def texts(self):
        return [text for *_, text in self.controls]

    def control_text(self, control_id):
        for cid, _, _, text in self.controls:
            if cid == control_id:
                return text
        return None

    def buttons(self):
        """Push buttons by id, each with whether it is the default one."""
        return {cid: style & 0xF == 1 for cid, cls, style, _ in self.controls
                if cls == "Button" and style & 0xF in (0, 1)}


def parse_window(lines):
    if not lines:
        return None
    fields = lines[0].split("\t")
    values = dict(f.split("=", 1) for f in fields[1:6])
    window = Window(handle=fields[0], pid=int(values["pid"]), exe=unescape(values["exe"]),
                    class_name=values["class"], rect=tuple(int(v) for v in values["rect"].split(",")),
                    owner=values["owner"], caption=unescape(fields[6] if len(fields) > 6 else ""))
    for line in lines[1:]:
        parts = line.split("\t")
        if len(parts) >= 6:
            window.controls.append((int(parts[0]), parts[1].split("=", 1)[1], int(parts[2].split("=", 1)[1], 16),
                                    unescape(parts[5])))
    return window


@dataclass
class Box:
    """One scenario's world: its own prefix, its processes, its findings."""
    name: str
    prefix: Path
    display: str
    driver_exe: str
    workdir: Path
    slow: int = 1                       # timeout factor; the emulated 32-bit run is slow
    failures: list = field(default_factory=list)
    processes: list = field(default_factory=list)
    extra_overrides: str = ""           # more WINEDLLOVERRIDES, set before the prefix's first start

    @property
    def env(self):
        return wine_env(self.prefix, self.display, self.extra_overrides)

    @property
    def logfile(self):
        return self.workdir / f"{self.name}.log"

    def check(self, condition, what, detail=""):
        if condition:
            log(f"  ok    {what}")
        else:
            log(f"  FAIL  {what}" + (f": {detail}" if detail else ""))
            self.failures.append(what)
        return condition

    def driver(self, *args, timeout=60):
        # Output goes through a file, not a pipe: Wine's own service processes,
        # when this start launches them, inherit the descriptors and would hold
        # a pipe open long after the driver has ended.
        with tempfile.TemporaryFile(dir=self.workdir) as out:
            code = subprocess.run([WINE64, self.driver_exe, *map(str, args)], env=self.env, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", errors="replace").splitlines()

    def wait_window(self, target, seconds, gone=False):
        """The window named target once visible (with its controls), or None."""
        if gone:
            rc, _ = self.driver("gone", target, int(seconds * 1000), timeout=seconds + 60)
            return rc == 0
        rc, lines = self.driver("texts", target, int(seconds * 1000), timeout=seconds + 60)
        return parse_window(lines) if rc == 0 else None

    def wait_owned(self, owner, seconds):
        rc, lines = self.driver("owned", owner, int(seconds * 1000), timeout=seconds + 60)
        return parse_window(lines) if rc == 0 else None

    def start(self, exe, *args):
        logfile = open(self.logfile, "ab")
        process = subprocess.Popen([loader_for(exe), str(exe), *map(str, args)], env=self.env, stdout=logfile,
                                   stderr=subprocess.STDOUT)
        logfile.close()
        self.processes.append(process)
        return process

    def host_path(self, windows_path):
        """The Linux path of a C: path in this prefix, matching existing names in any case."""
        drive, _, rest = windows_path.partition(":")
        assert drive.upper() == "C", windows_path
        path = self.prefix / "drive_c"
        for part in [p for p in rest.split("\\") if p]:
            match = None
            if path.is_dir():
                match = next((c for c in path.iterdir() if c.name.lower() == part.lower()), None)
            path = match or path / part
        return path

    # Keyboard input goes through X to whichever window has the focus, as a
    # user's would; focus_window puts it on the window with that caption.
    def xdotool(self, *args, timeout=30):
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                              timeout=timeout).stdout.split()

    def focus_window(self, caption):
        pattern = "^" + "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in caption) + "$"
        ids = self.xdotool("search", "--onlyvisible", "--name", pattern)
        if ids:
            self.xdotool("windowfocus", "--sync", ids[-1], timeout=10 * self.slow)
        return bool(ids)

    def keys(self, caption, *names):
        self.focus_window(caption)
        self.xdotool("key", "--delay", "100", *names)
        time.sleep(0.3)

    def type_text(self, caption, text):
        self.focus_window(caption)
        self.xdotool("type", "--delay", "15", "--", text, timeout=60 + len(text))
        time.sleep(0.3)

    def screenshot(self, rect, output):
        left, top, right, bottom = rect
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["import", "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                        "+repage", str(output)], env=env, timeout=60, check=True)

    def close(self):
        for process in self.processes:
            stop_process(process)
        run_bounded([WINESERVER, "-k"], self.env, 60)
