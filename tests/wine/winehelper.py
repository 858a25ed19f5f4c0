#!/usr/bin/env python3
"""Hermetic wine prefixes for running Windows test programs on Linux.

Use from Python (put this folder on sys.path):

    from winehelper import WinePrefix

    with WinePrefix() as wine:                  # a fresh prefix, cloned from the template
        wine.map_drive("e", "/tmp/stick")       # E:\\ is a removable drive: GetDriveTypeA
                                                #   gives DRIVE_REMOVABLE ("floppy")
        wine.map_drive("t", build_dir, "hd")    # T:\\ a fixed disk, e.g. to run the exe from
        port = wine.map_com(5)                  # COM5 is a pseudo-terminal; port.read(),
                                                #   port.speed(), port.fd (the test's end)
        result = wine.run(r"T:\\flashdrop.exe", "-t", "0", "fw.uf2", cwd=some_dir)
        # result: subprocess.CompletedProcess, stdout/stderr as bytes (\\r\\n line ends)

    WinePrefix.run(program, *args, cwd=None, env=None, timeout=60, stdin=DEVNULL,
                   stdout=PIPE, stderr=PIPE)
        starts the server on first use; env adds to the environment; `program` is a Windows path, or a host path
        that a mapped drive (or Z:, the host's /) reaches. Exit statuses pass through.
    WinePrefix.set_registry(key, name, value)   a value under HKCU\\... or HKLM\\...: a str is
        REG_SZ, an int REG_DWORD; programs started afterwards see it (HKCU\\Environment
        sets their environment, overriding the variables given on the host).
    WinePrefix.windows_path(host_path)   the path as the program sees it.
    WinePrefix.environ(extra=None)       the environment for running wine tools yourself.
    WinePrefix.start() / stop()          start or stop the prefix's wineserver explicitly.

Drives and COM ports are read when the server starts: mapping one while it runs
restarts it. A dangling drive symlink already counts as a removable drive, so
creating the folder (or the marker file) later plays a drive appearing.

Facts the harness takes care of:
- One template prefix per wine version is created once (wineboot, a few seconds)
  in the cache ($FLASHDROP_WINE_CACHE, else ~/.cache/flashdrop-wine) and cloned per
  prefix in a fraction of a second: drive_c is hard-linked (never change a file of
  drive_c in place), the registry files are copied.
- The wineserver and wine's background services are started with stdout/stderr
  on /dev/null. Started from a process whose output is a pipe they would inherit
  that pipe and hold its reader (ctest, subprocess) until they exit. The server
  is persistent while the prefix is used and ends ten minutes after its last
  process should a test run be killed before stop().
- WINEDEBUG=-all, LC_ALL=C.UTF-8 (LANG alone does not set wine's code page), no
  DISPLAY, and mscoree/mshtml disabled so that no installer dialogs come up.
- COM1 and COM2 are the host's serial ports in every prefix: use COM3 and up.

From the shell (used by ctest to run the unit tests under wine):

    winehelper.py start PREFIX [--drive LETTER=KIND:HOST_PATH ...]
    winehelper.py stop PREFIX
    winehelper.py template              prints the template prefix's path
"""
import argparse
import contextlib
import fcntl
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import tty

DEVNULL = subprocess.DEVNULL
SERVER_LINGER_SECONDS = 600


def _base_environ(prefix=None, extra=None):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "POSIXLY_CORRECT"):
        env.pop(name, None)
    env.update({
        "WINEDEBUG": "-all",
        "LC_ALL": "C.UTF-8",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    if prefix is not None:
        env["WINEPREFIX"] = str(prefix)
    env.update(extra or {})
    return env


def _quiet(command, env, timeout=120):
    """Runs a wine tool with no output reaching us, so nothing holds our pipes."""
    return subprocess.run(command, env=env, stdin=DEVNULL, stdout=DEVNULL,
                          stderr=DEVNULL, timeout=timeout).returncode


def cache_root():
    root = os.environ.get("FLASHDROP_WINE_CACHE") or os.path.join(
        os.path.expanduser("~"), ".cache", "flashdrop-wine")
    os.makedirs(root, exist_ok=True)
    return root


def _wine_version():
    out = subprocess.run(["wine", "--version"], env=_base_environ(), capture_output=True,
                         text=True, timeout=60).stdout.strip()
    return "".join(c if c.isalnum() or c in ".-" else "_" for c in out) or "wine"


def template_prefix():
    """The template prefix for the installed wine, created on first use."""
    root = cache_root()
    path = os.path.join(root, "template-" + _wine_version())
    with open(os.path.join(root, "template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isfile(os.path.join(path, "system.reg")):
            return path
        work = tempfile.mkdtemp(prefix="template-new-", dir=root)
        try:
            env = _base_environ(work)
            _quiet(["wineserver", "-p"], env)
            status = _quiet(["wineboot", "-i"], env, timeout=300)
            _quiet(["wineserver", "-k"], env)
            _quiet(["wineserver", "-w"], env)
            if status != 0 or not os.path.isfile(os.path.join(work, "system.reg")):
                raise RuntimeError(f"wineboot -i failed with status {status}")
            os.rename(work, path)
        except BaseException:
            shutil.rmtree(work, ignore_errors=True)
            raise
    return path


def clone_template(dest):
    """Makes `dest` (which must not exist or be empty) a prefix like the template."""
    template = template_prefix()
    os.makedirs(dest, exist_ok=True)
    same_fs = os.stat(template).st_dev == os.stat(dest).st_dev
    subprocess.run(["cp", "-a" + ("l" if same_fs else ""), os.path.join(template, "drive_c"),
                    os.path.join(dest, "drive_c")], check=True)
    for name in os.listdir(template):
        source = os.path.join(template, name)
        if name == "drive_c":
            continue
        if os.path.isdir(source) and not os.path.islink(source):
            shutil.copytree(source, os.path.join(dest, name), symlinks=True)
        else:
            shutil.copy2(source, os.path.join(dest, name), follow_symlinks=False)


def _set_drive_type(prefix, letter, kind):
    """Records the drive type under [Software\\Wine\\Drives] in system.reg."""
    path = os.path.join(prefix, "system.reg")
    with open(path, encoding="utf-8", newline="") as f:
        lines = f.read().split("\n")
    header = "[Software\\\\Wine\\\\Drives]"
    entry = f'"{letter}:"="{kind}"'
    at = next((i for i, line in enumerate(lines) if line.startswith(header)), None)
    if at is None:
        lines += ["", header, entry]
    else:
        end = at + 1
        while end < len(lines) and lines[end].strip():
            end += 1
        lines[at + 1:end] = [line for line in lines[at + 1:end]
                             if not line.startswith(f'"{letter}:"=')] + [entry]
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("\n".join(lines))


def map_drive(prefix, letter, host_path, kind="floppy"):
    """Maps `letter`: to `host_path`; kind "floppy" is a removable drive, "hd" a fixed one."""
    letter = letter.lower().rstrip(":")
    link = os.path.join(prefix, "dosdevices", letter + ":")
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.path.abspath(host_path), link)
    _set_drive_type(prefix, letter, kind)


def start_server(prefix, linger=SERVER_LINGER_SECONDS):
    env = _base_environ(prefix)
    _quiet(["wineserver", f"-p{linger}"], env)
    _quiet(["wine", "cmd", "/c", "exit"], env)  # starts the services, output to /dev/null


def stop_server(prefix):
    env = _base_environ(prefix)
    _quiet(["wineserver", "-k"], env)
    _quiet(["wineserver", "-w"], env)


class PtyPort:
    """A COM port played by a pseudo-terminal; the test holds the other end (fd)."""

    def __init__(self):
        self.fd, self._slave = pty.openpty()
        tty.setraw(self._slave)
        self.path = os.ttyname(self._slave)

    def read(self, size=4096, timeout=1.0):
        """The bytes that arrive within `timeout` seconds of the last one."""
        data = b""
        while select.select([self.fd], [], [], timeout)[0]:
            chunk = os.read(self.fd, size)
            if not chunk:
                break
            data += chunk
        return data

    def speed(self):
        """The line speed the program set, as termios reports it (e.g. termios.B9600)."""
        return termios.tcgetattr(self._slave)[5]

    def close(self):
        for fd in (self.fd, self._slave):
            with contextlib.suppress(OSError):
                os.close(fd)


class WinePrefix:
    def __init__(self, path=None):
        self._own_dir = path is None
        self.path = path
        self._running = False
        self._ports = []

    def __enter__(self):
        if self.path is None:
            parent = os.path.join(cache_root(), "prefixes")
            os.makedirs(parent, exist_ok=True)
            self.path = tempfile.mkdtemp(prefix="prefix-", dir=parent)
        clone_template(self.path)
        return self

    def __exit__(self, *exc):
        self.stop()
        for port in self._ports:
            port.close()
        if self._own_dir:
            shutil.rmtree(self.path, ignore_errors=True)
        return False

    def environ(self, extra=None):
        return _base_environ(self.path, extra)

    def start(self):
        if not self._running:
            start_server(self.path)
            self._running = True

    def stop(self):
        if self._running:
            stop_server(self.path)
            self._running = False

    def _changed(self):
        if self._running:  # the server reads drives and ports when it starts
            self.stop()
            self.start()

    def map_drive(self, letter, host_path, kind="floppy"):
        map_drive(self.path, letter, host_path, kind)
        self._changed()

    def map_com(self, number):
        if number < 3:
            raise ValueError("COM1 and COM2 are the host's serial ports in every prefix")
        port = PtyPort()
        link = os.path.join(self.path, "dosdevices", f"com{number}")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(port.path, link)
        self._ports.append(port)
        self._changed()
        return port

    def set_registry(self, key, name, value):
        self.start()
        kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
        status = _quiet(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                        self.environ())
        if status != 0:
            raise RuntimeError(f"wine reg add {key} /v {name} failed with status {status}")

    def windows_path(self, host_path):
        """The host path as a Windows program sees it, through the mapped drives."""
        host_path = os.path.abspath(host_path)
        devices = os.path.join(self.path, "dosdevices")
        best = ("z", "/")
        for name in sorted(os.listdir(devices)):
            if len(name) != 2 or name[1] != ":":
                continue
            target = os.path.realpath(os.path.join(devices, name))
            if (host_path == target or host_path.startswith(target.rstrip("/") + "/")) \
                    and len(target) > len(best[1]):
                best = (name[0], target)
        rest = os.path.relpath(host_path, best[1])
        rest = "" if rest == "." else rest.replace("/", "\\")
        return f"{best[0].upper()}:\\{rest}"

    def run(self, program, *args, cwd=None, env=None, timeout=60, stdin=DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE):
        self.start()
        if os.path.isabs(program) and os.path.exists(program):
            program = self.windows_path(program)
        return subprocess.run(["wine", program, *args], cwd=cwd, env=self.environ(env),
                              stdin=stdin, stdout=stdout, stderr=stderr, timeout=timeout)


def main(argv):
    parser = argparse.ArgumentParser(description="wine prefixes for the tests")
    sub = parser.add_subparsers(dest="command", required=True)
    start = sub.add_parser("start", help="clone the template into PREFIX and start its server")
    start.add_argument("prefix")
    start.add_argument("--drive", action="append", default=[],
                       help="LETTER=KIND:HOST_PATH, KIND floppy (removable) or hd")
    stop = sub.add_parser("stop", help="stop PREFIX's server and remove PREFIX")
    stop.add_argument("prefix")
    sub.add_parser("template", help="print the template prefix's path")
    options = parser.parse_args(argv)

    if options.command == "template":
        print(template_prefix())
    elif options.command == "start":
        if os.path.lexists(options.prefix):
            stop_server(options.prefix)
            shutil.rmtree(options.prefix)
        clone_template(options.prefix)
        for spec in options.drive:
            letter, _, rest = spec.partition("=")
            kind, _, host_path = rest.partition(":")
            os.makedirs(host_path, exist_ok=True)
            map_drive(options.prefix, letter, host_path, kind)
        start_server(options.prefix)
    elif options.command == "stop":
        stop_server(options.prefix)
        shutil.rmtree(options.prefix, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
