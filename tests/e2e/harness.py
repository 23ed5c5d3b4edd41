#!/usr/bin/env python3
"""What the end-to-end tests share: Wine, the demo router and nginx on 127.0.0.1, boxwatch, and a test
case with its own application-data folder. run.py sets BIN before the tests are loaded.
"""
import gzip
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tests", "support"))
from records import records  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
ROUTER = os.path.join(ROOT, "demo", "router.py")
BIN = None  # the folder of tarsel.exe, boxwatch.exe and the fixture plugins
ERROR_CAPTION = "Veskaral tarsel Error"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def exit_status(code):
    return code - 256 if code > 127 else code


def wine(args, timeout=60, env=None, cwd=None):
    """Runs a Windows program to its end; returns (exit status as a signed 32-bit number, stdout text).
    Output goes through a file: wine's background processes inherit it and may outlive the program."""
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run([WINE_RUN] + args, cwd=cwd or BIN, env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return exit_status(proc.returncode), out.read().decode("latin-1").replace("\r\n", "\n")


def start_wine(args, env=None, cwd=None):
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen([WINE_RUN] + args, cwd=cwd or BIN, env=env, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.DEVNULL)
    proc.output_file = out
    return proc


def finish(proc, timeout=60):
    proc.wait(timeout=timeout)
    out = proc.output_file
    out.seek(0)
    text = out.read().decode("latin-1").replace("\r\n", "\n")
    out.close()
    return exit_status(proc.returncode), text


def set_app_data(value):
    if value is None:
        wine(["reg", "delete", SHELL_FOLDERS, "/v", "AppData", "/f"])
    else:
        wine(["reg", "add", SHELL_FOLDERS, "/v", "AppData", "/t", "REG_SZ", "/d", value, "/f"])


def read_app_data():
    _, out = wine(["reg", "query", SHELL_FOLDERS, "/v", "AppData"])
    for line in out.splitlines():
        if "AppData" in line and "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


def make_site(folder, plugins):
    """plugins: {remote name: library file in BIN}; writes the gzip files and returns their index lines."""
    os.makedirs(folder, exist_ok=True)
    for name, library in plugins.items():
        with open(os.path.join(BIN, library), "rb") as f:
            data = f.read()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(gzip.compress(data, mtime=0))


def index_lines(folder, version):
    lines = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".gz"):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            lines.append("%u %u %s %s\n" % (zlib.crc32(data), len(data), name, version))
    return "".join(lines)


class Router:
    """The demo router on a free port of 127.0.0.1."""

    def __init__(self, folder, version="1.0", extra=()):
        self.dir = tempfile.mkdtemp(prefix="router-")
        self.port_file = os.path.join(self.dir, "port")
        self.log = os.path.join(self.dir, "requests.log")
        self.proc = subprocess.Popen([sys.executable, ROUTER, "--port", "0", "--port-file", self.port_file,
                                      "--folder", folder, "--version", version, "--log", self.log] + list(extra),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.port = None

        def listening():
            if self.proc.poll() is not None:
                raise AssertionError("the demo router ended at its start, status %d" % self.proc.returncode)
            if os.path.exists(self.port_file):
                with open(self.port_file) as f:
                    text = f.read().strip()
                if text:
                    self.port = int(text)
            return self.port is not None
        wait_for(listening, "the demo router's port file")

    def requests(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [line.strip() for line in f if line.strip()]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)


class Nginx:
    """nginx from Debian's packages serving the index at /tarsel and the plugins under /tarsel/."""

    def __init__(self, folder, version):
        self.dir = tempfile.mkdtemp(prefix="nginx-")
        os.chmod(self.dir, 0o755)
        with open(os.path.join(folder, "index.txt"), "w") as f:
            f.write(index_lines(folder, version))
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write("""daemon off; master_process off; pid %(d)s/nginx.pid; error_log %(d)s/error.log;
events {}
http {
  access_log %(d)s/access.log;
  client_body_temp_path %(d)s/body; proxy_temp_path %(d)s/proxy; fastcgi_temp_path %(d)s/fastcgi;
  uwsgi_temp_path %(d)s/uwsgi; scgi_temp_path %(d)s/scgi;
  server {
    listen 127.0.0.1:%(port)d;
    location = /tarsel { default_type text/plain; alias %(site)s/index.txt; }
    location /tarsel/ { default_type application/octet-stream; alias %(site)s/; }
  }
}
""" % {"d": self.dir, "port": self.port, "site": folder})
        self.proc = subprocess.Popen(["nginx", "-p", self.dir, "-c", conf, "-e", os.path.join(self.dir, "stderr.log")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        import socket

        def listening():
            if self.proc.poll() is not None:
                raise AssertionError("nginx ended at its start, status %d" % self.proc.returncode)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_for(listening, "nginx to listen on port %d" % self.port)

    def requests(self):
        path = os.path.join(self.dir, "access.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [line.split('"')[1] for line in f]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)


class TarselCase(unittest.TestCase):
    """Each test gets its own application-data folder, so the cache starts empty."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tarsel-e2e-")
        self.app_data = os.path.join(self.work, "appdata")
        os.makedirs(self.app_data)
        set_app_data(windows_path(self.app_data))
        self.site = os.path.join(self.work, "site")
        self.run_log = os.path.join(self.work, "run.log")
        self.env = dict(os.environ, TARSEL_RUN_LOG=windows_path(self.run_log))
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.stop()
        set_app_data(SAVED_APP_DATA)
        shutil.rmtree(self.work, ignore_errors=True)

    def router(self, version="1.0", extra=()):
        server = Router(self.site, version, extra)
        self.servers.append(server)
        return server

    def tarsel(self, *args, timeout=90, cwd=None):
        # From another folder the program is named by its full path.
        program = windows_path(os.path.join(BIN, "tarsel.exe")) if cwd else "tarsel.exe"
        return wine([program] + list(args), timeout=timeout, env=self.env, cwd=cwd)

    def cache(self, version):
        return os.path.join(self.app_data, "Dunmoral", "tarsel", version)

    def run_calls(self):
        if not os.path.exists(self.run_log):
            return []
        with open(self.run_log) as f:
            return f.read().splitlines()

    def box(self, *args, timeout=90, cwd=None):
        """Runs tarsel.exe while boxwatch waits for the error box, then cancels the connect dialog that
        follows it; returns (status, output, box text)."""
        watcher = start_wine(["boxwatch.exe"] + BOXWATCH_ERROR_BOX)
        canceller = start_wine(["boxwatch.exe", "--timeout", "60", "esc", CONNECT_CAPTION])
        status, out = self.tarsel(*args, timeout=timeout, cwd=cwd)
        _, text = finish(watcher)
        cancelled, said = finish(canceller)
        self.assertEqual(0, cancelled, "no connect dialog after the error box: " + said)
        return status, out, text.rstrip("\r\n")

    def settings_file(self):
        return os.path.join(self.app_data, "Dunmoral", "tarsel", "tarsel.cfg")

    def settings(self):
        with open(self.settings_file(), "rb") as f:
            return records(f.read())


SAVED_APP_DATA = None
CONNECT_CAPTION = "Veskaral tarsel v3.2.8"
BOXWATCH_ERROR_BOX = ["--timeout", "60", "box", ERROR_CAPTION]


def stamp_bytes(line, library):
    """A stamp file's bytes for an index line's fields (checksum, size, name, version) and the path of
    the cached library: the checksum, the CRC-32 of the library's bytes, then the library's size and
    last-write time (100 ns since 1601, as Wine gives it) with the line's size and remote name."""
    with open(library, "rb") as f:
        data = f.read()
    written = os.stat(library).st_mtime_ns // 100 + 116444736000000000
    return b"%d\r\n%d\r\n%d %d %d %s\r\n" % (int(line[0]), zlib.crc32(data), len(data), written, int(line[1]),
                                              line[2].encode())


def lines_of(out, prefixes=("DLLLoader", "DLL ", "getting", "loading", "linking", "lib ", "run ", "file truncated")):
    return [line for line in out.splitlines() if line.startswith(prefixes)]


def kill_program(proc):
    """Kills the Windows program that start_wine began, as a crash or Task Manager would: at once,
    with no clean-up. proc is the time limit's process; the program is its child."""
    for task in os.listdir("/proc/%d/task" % proc.pid):
        with open("/proc/%d/task/%s/children" % (proc.pid, task)) as f:
            for child in f.read().split():
                os.kill(int(child), signal.SIGKILL)


def wait_for(condition, what="the condition", timeout=60):
    """Polls until condition() holds; fails the test naming what it waited for, and how long."""
    start = time.monotonic()
    while not condition():
        if time.monotonic() - start > timeout:
            raise AssertionError("waited %.1f s for %s" % (time.monotonic() - start, what))
        time.sleep(0.1)
    return True


def watch(*args):
    """Runs boxwatch to its end; its time-out, which names the window and the wait, fails the test."""
    status, out = wine(["boxwatch.exe"] + list(args), timeout=120)
    if status != 0:
        raise AssertionError(out.strip() or "boxwatch %s: status %d" % (" ".join(args), status))
    return out.rstrip("\n")


# The resolver refuses this name itself (empty label), so no query leaves the machine.
UNRESOLVABLE_NAME = "no..such.router"
BOXWATCH_CLOSE_PROGRESS = ["--timeout", "60", "press", "127.0.0.1 - Veskaral tarsel", "2"]


def start(bin_dir):
    global BIN, SAVED_APP_DATA
    BIN = os.path.abspath(bin_dir)
    SAVED_APP_DATA = read_app_data()


def bin_file(name):
    return os.path.join(BIN, name)
