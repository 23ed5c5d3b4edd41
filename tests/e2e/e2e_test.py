#!/usr/bin/env python3
"""End-to-end tests of tarsel.exe under Wine, against the demo router and against nginx on 127.0.0.1.

usage: e2e_test.py BIN_DIR   (BIN_DIR holds tarsel.exe, boxwatch.exe and the fixture plugins)
Needs the environment of scripts/wine-session.sh (DISPLAY, WINEPREFIX, a running wineserver).
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

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
ROUTER = os.path.join(ROOT, "demo", "router.py")
BIN = None
ERROR_CAPTION = "Veskaral tarsel Error"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def _status(code):
    return code - 256 if code > 127 else code


def wine(args, timeout=60, env=None, cwd=None):
    """Runs a Windows program to its end; returns (exit status as a signed 32-bit number, stdout text).
    Output goes through a file: wine's background processes inherit it and may outlive the program."""
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run([WINE_RUN] + args, cwd=cwd or BIN, env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return _status(proc.returncode), out.read().decode("latin-1").replace("\r\n", "\n")


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
    return _status(proc.returncode), text


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
        for _ in range(100):
            if os.path.exists(self.port_file):
                with open(self.port_file) as f:
                    text = f.read().strip()
                if text:
                    self.port = int(text)
                    break
            time.sleep(0.1)

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
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)

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
        self.assertEqual(0, finish(canceller)[0], "no connect dialog after the error box")
        return status, out, text.rstrip("\r\n")

    def settings_file(self):
        return os.path.join(self.app_data, "Dunmoral", "tarsel", "tarsel.cfg")

    def settings(self):
        with open(self.settings_file(), "rb") as f:
            return records(f.read())


SAVED_APP_DATA = None
CONNECT_CAPTION = "Veskaral tarsel v3.2.8"
BOXWATCH_ERROR_BOX = ["--timeout", "60", "box", ERROR_CAPTION]


def stamp_bytes(index_crc, library):
    """A stamp file's bytes: the index line's checksum, then the CRC-32 of the library's bytes."""
    return b"%d\r\n%d\r\n" % (int(index_crc), zlib.crc32(library))


def lines_of(out, prefixes=("DLLLoader", "DLL ", "getting", "loading", "linking", "lib ", "run ", "file truncated")):
    return [line for line in out.splitlines() if line.startswith(prefixes)]


class RouterTest(TarselCase):
    def test_first_run_downloads_everything_then_second_run_only_reads_the_index(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        router = self.router("2.5")
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "secret")
        self.assertEqual(-1, status, out)
        sizes = {n: os.path.getsize(os.path.join(self.site, n)) for n in os.listdir(self.site)}
        self.assertEqual([
            "DLLLoader::fetch",
            "getting /tarsel",
            "DLL panel.dll ver=2.5 size=%d" % sizes["panel.dll.gz"],
            "DLL system.dll ver=2.5 size=%d" % sizes["system.dll.gz"],
            # the index's last line first
            "loading system.dll.gz", "getting /tarsel/system.dll.gz",
            "loading panel.dll.gz", "getting /tarsel/panel.dll.gz",
            "linking .\\system.dll", "lib .\\system.dll loaded",
            "linking .\\panel.dll", "lib .\\panel.dll loaded",
            "run withrun: instance=1 address=127.0.0.1 login=admin password=secret",
        ], lines_of(out))
        self.assertEqual(["withrun|127.0.0.1|admin|secret"], self.run_calls())
        self.assertFalse(os.path.exists(self.settings_file()))  # no dialog, no settings
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0",
                          "GET /tarsel/panel.dll.gz HTTP/1.0"], router.requests())

        cache = self.cache("2.5")
        self.assertEqual(["panel.crc", "panel.dll", "system.crc", "system.dll"], sorted(os.listdir(cache)))
        index = {line.split()[2]: line.split() for line in index_lines(self.site, "2.5").splitlines()}
        for stem, library in (("panel", "withrun.dll"), ("system", "norun.dll")):
            with open(os.path.join(cache, stem + ".dll"), "rb") as f, open(os.path.join(BIN, library), "rb") as g:
                data = g.read()
                self.assertEqual(data, f.read())
            with open(os.path.join(cache, stem + ".crc"), "rb") as f:
                self.assertEqual(stamp_bytes(index[stem + ".dll.gz"][0], data), f.read())

        # Stamps are renewed at every connection that finds the plugin current.
        old = time.time() - 5 * 86400
        for stamp in ("panel.crc", "system.crc"):
            os.utime(os.path.join(cache, stamp), (old, old))
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "secret")
        self.assertEqual(-1, status, out)
        self.assertEqual([], [line for line in out.splitlines() if line.startswith("loading")])
        self.assertEqual(["GET /tarsel HTTP/1.0"], router.requests()[3:])
        for stamp in ("panel.crc", "system.crc"):
            self.assertGreater(os.path.getmtime(os.path.join(cache, stamp)), time.time() - 600)
        self.assertEqual(2, len(self.run_calls()))

    def test_a_changed_index_line_downloads_that_plugin_again(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        router = self.router()
        self.assertEqual(-1, self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")[0])
        make_site(self.site, {"panel.dll.gz": "withrun2.dll"})
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual(["loading panel.dll.gz"], [l for l in out.splitlines() if l.startswith("loading")])
        self.assertEqual(["withrun|127.0.0.1|admin|pw", "withrun2|127.0.0.1|admin|pw"], self.run_calls())

    def test_the_index_missing_on_the_router_is_reported_in_the_box(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router(extra=["--index-status", "404"])
        status, out, text = self.box("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(1, status, out)
        self.assertEqual("Could not fetch /tarsel from 127.0.0.1 (port %d): Not Found" % router.port, text)
        self.assertEqual([], self.run_calls())

    def test_the_progress_window_is_gone_before_the_error_shows(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router(extra=["--index-status", "404"])
        tarsel = start_wine(["tarsel.exe", "127.0.0.1:%d" % router.port, "admin", "pw"], env=self.env)
        status, text = wine(["boxwatch.exe", "--timeout", "60", "text", ERROR_CAPTION, "65535"])
        self.assertEqual(0, status)
        self.assertIn("Not Found", text)
        status, text = wine(["boxwatch.exe", "--timeout", "0", "text", "Veskaral tarsel", "203"])
        self.assertEqual(2, status, "progress window still open: " + text)
        self.assertEqual(0, wine(["boxwatch.exe", "--timeout", "10", "box", ERROR_CAPTION])[0])
        self.assertEqual(0, wine(["boxwatch.exe", "--timeout", "60", "esc", CONNECT_CAPTION])[0])
        self.assertEqual(1, finish(tarsel)[0])

    def test_no_plugin_with_run_is_fatal(self):
        make_site(self.site, {"system.dll.gz": "norun.dll"})
        router = self.router()
        watcher = start_wine(["boxwatch.exe"] + BOXWATCH_MISSING_BOX)
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        _, text = finish(watcher)
        self.assertEqual(1, status, out)
        self.assertEqual("Missing Veskaral tarsel plugins", text.rstrip("\r\n"))
        self.assertIn("lib .\\system.dll loaded", out)

    def test_closing_the_progress_dialog_during_a_slow_download_ends_with_status_1(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router(extra=["--rate", "4000"])
        watcher = start_wine(["boxwatch.exe"] + BOXWATCH_CLOSE_PROGRESS)
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        watcher_status, _ = finish(watcher)
        self.assertEqual(0, watcher_status)
        self.assertEqual(1, status, out)
        self.assertIn("loading panel.dll.gz", out)
        self.assertNotIn("linking", out)
        self.assertFalse(os.path.exists(os.path.join(self.cache("1.0"), "panel.crc")))
        self.assertEqual([], self.run_calls())


class FailureTest(TarselCase):
    def test_invalid_ports(self):
        for port in ("", "0", "65536", "80x", "1:2"):
            status, out, text = self.box("127.0.0.1:" + port, "admin", "pw")
            self.assertEqual(1, status, port)
            self.assertEqual("Invalid port - " + port, text)
            self.assertNotIn("getting", out)

    def test_refused_connection(self):
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        status, out, text = self.box("127.0.0.1:%d" % port, "admin", "pw")
        self.assertEqual(1, status, out)
        self.assertTrue(text.startswith("Could not "), text)
        self.assertIn("127.0.0.1 (", text)
        self.assertTrue(text.endswith(" %d) - connection refused (web server is not running)!" % port), text)

    def test_unresolvable_name(self):
        status, out, text = self.box(UNRESOLVABLE_NAME, "admin", "pw")
        self.assertEqual(1, status, out)
        self.assertEqual("Invalid address - " + UNRESOLVABLE_NAME, text)



MAGIC = b"\x0f\x10\xc0\xbe"


def records(data):
    """A record file's records, each a list of (key, value bytes)."""
    assert data[:4] == MAGIC, data[:4]
    result, fields, i = [], [], 4
    while i + 2 <= len(data):
        (length,) = struct.unpack_from("<H", data, i)
        i += 2
        if length == 0:
            result.append(fields)
            fields = []
            continue
        k = data[i]
        fields.append((data[i + 1:i + 1 + k].decode("latin-1"), data[i + 1 + k:i + length]))
        i += length
    return result


def encode(*records_):
    data = MAGIC
    for fields in records_:
        for key, value in fields:
            data += struct.pack("<HB", 1 + len(key) + len(value), len(key)) + key.encode() + value
        data += b"\0\0"
    return data


def addr(host, login, note=None, keep=False, pwd=None):
    fields = [("type", b"addr"), ("host", host.encode()), ("login", login.encode())]
    if note is not None:
        fields.append(("note", note.encode()))
    fields.append(("keep-pwd", b"\1" if keep else b"\0"))
    if keep and pwd is not None:
        fields.append(("pwd", pwd.encode()))
    return fields


def field(record, key):
    return next((value for k, value in record if k == key), None)


def integer(record, key):
    return struct.unpack("<i", field(record, key))[0]


class Screen:
    """The user at the Xvfb screen: keys and clicks through xdotool; boxwatch reads the dialog."""

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "80"] + list(keys), check=True)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "40", text], check=True)

    def fill(self, mnemonic, text):
        """Alt and the label's letter moves to its field and selects what it holds."""
        self.keys("alt+" + mnemonic)
        self.type(text)

    def click(self, x, y):
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        time.sleep(0.8)  # never two clicks close enough to count as a double-click

    def wait(self, caption):
        status, _ = wine(["boxwatch.exe", "--timeout", "60", "text", caption, "1"])
        assert status == 0, "no window " + caption
        time.sleep(0.5)  # activated and focused

    def text(self, control, caption=CONNECT_CAPTION):
        return wine(["boxwatch.exe", "--timeout", "30", "text", caption, str(control)])[1].rstrip("\n")

    def wait_text(self, control, expected, caption=CONNECT_CAPTION):
        text = None
        for _ in range(20):
            text = self.text(control, caption)
            if text == expected:
                break
            time.sleep(0.25)
        return text

    def rect(self, control):
        _, out = wine(["boxwatch.exe", "--timeout", "30", "rect", CONNECT_CAPTION, str(control)])
        return [int(n) for n in out.split()]


ADDRESS, LOGIN, PASSWORD, NOTE, LIST = 200, 201, 202, 218, 213
EXPORT_CAPTION, IMPORT_CAPTION = "Export Addresses To", "Import Addresses From"


class ConnectDialogTest(TarselCase):
    """The connect dialog as a user meets it: started without arguments, typed into and clicked."""

    def setUp(self):
        super().setUp()
        self.screen = Screen()

    def start(self, *args):
        proc = start_wine(["tarsel.exe"] + list(args), env=self.env)
        self.screen.wait(CONNECT_CAPTION)
        return proc

    def write_settings(self, *records_):
        os.makedirs(os.path.dirname(self.settings_file()), exist_ok=True)
        with open(self.settings_file(), "wb") as f:
            f.write(encode(*records_))

    def test_fields_typed_connect_and_are_saved(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router()
        proc = self.start()
        self.assertEqual("admin", self.screen.text(LOGIN))
        self.screen.type("pw1")  # the password field has the focus
        self.screen.fill("c", "127.0.0.1:%d" % router.port)
        self.screen.fill("l", "root")
        self.screen.fill("n", "lab")
        self.screen.keys("Return")  # Enter in the note field connects
        status, out = finish(proc)
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|root|pw1"], self.run_calls())
        window = self.settings()[0]
        self.assertEqual([b"window", b"addr"], [v for k, v in window if k == "type"])
        self.assertEqual(addr("127.0.0.1:%d" % router.port, "root", "lab", True, "pw1")[1:],
                         [(k, v) for k, v in window if k in ("host", "login", "note", "keep-pwd", "pwd")])
        self.assertEqual([100, 80, 150, 0, 1], [integer(window, k) for k in (
            "list-col-0", "list-col-1", "list-col-2", "list-sort", "list-ascend")])
        left, top, right, bottom = struct.unpack("<4i", field(window, "bounds"))
        self.assertEqual((1280 - right, 1024 - bottom), (left, top))  # centred on the screen
        self.assertEqual(1, len(self.settings()))

    def test_a_failed_attempt_brings_the_dialog_back_filled_then_corrected(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router()
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        closed = s.getsockname()[1]
        s.close()
        proc = start_wine(["tarsel.exe", "127.0.0.1:%d" % closed, "admin", "pw"], env=self.env)
        status, text = wine(["boxwatch.exe"] + BOXWATCH_ERROR_BOX)
        self.assertIn("connection refused", text)
        self.screen.wait(CONNECT_CAPTION)
        self.assertEqual("127.0.0.1:%d" % closed, self.screen.text(ADDRESS))
        self.assertEqual("admin", self.screen.text(LOGIN))
        self.screen.fill("c", "127.0.0.1:%d" % router.port)
        self.screen.keys("Return")
        status, out = finish(proc)
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|admin|pw"], self.run_calls())  # the password came back too
        self.assertEqual(b"127.0.0.1:%d" % router.port, field(self.settings()[0], "host"))

    def test_escape_ends_with_status_1_and_saves_the_typed_fields(self):
        proc = self.start("10.0.0.7:8080")
        self.assertEqual("10.0.0.7:8080", self.screen.text(ADDRESS))
        self.screen.type("secret")
        self.screen.keys("alt+k")  # the password is not to be kept
        self.screen.keys("Escape")
        status, out = finish(proc)
        self.assertEqual(1, status, out)
        self.assertEqual("", out)
        self.assertEqual([], self.run_calls())
        self.assertEqual(addr("10.0.0.7:8080", "admin", "", False)[1:],
                         [(k, v) for k, v in self.settings()[0] if k in ("host", "login", "note", "keep-pwd", "pwd")])

    def test_address_book_sorted_by_login_is_there_on_the_next_start(self):
        proc = self.start()
        for host, login in (("10.0.0.2", "zed"), ("10.0.0.1", "amy"), ("10.0.0.3", "Zoe")):
            self.screen.fill("c", host)
            self.screen.fill("l", login)
            self.screen.keys("alt+s")
        left, top, _, _ = self.screen.rect(LIST)
        for _ in range(2):  # the login column's header: ascending, then descending
            self.screen.click(left + 140, top + 10)
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        saved = self.settings()
        self.assertEqual((1, 0), (integer(saved[0], "list-sort"), integer(saved[0], "list-ascend")))
        self.assertEqual([b"zed", b"amy", b"Zoe"], [field(r, "login") for r in saved[1:]])  # as added

        proc = self.start()
        self.screen.keys("alt+n", "Tab", "Home")  # to the list: the first item is selected and shown
        self.assertEqual("zed", self.screen.wait_text(LOGIN, "zed"))
        self.assertEqual("10.0.0.2", self.screen.text(ADDRESS))
        self.screen.keys("End")
        self.assertEqual("Zoe", self.screen.wait_text(LOGIN, "Zoe"))  # byte order: upper case first
        self.screen.keys("alt+r")  # Remove: the selection moves to the new last item
        self.assertEqual("amy", self.screen.wait_text(LOGIN, "amy"))
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        saved = self.settings()
        self.assertEqual((1, 0), (integer(saved[0], "list-sort"), integer(saved[0], "list-ascend")))
        self.assertEqual([b"zed", b"amy"], [field(r, "login") for r in saved[1:]])

    def test_double_click_on_an_entry_that_keeps_its_password_connects(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router()
        self.write_settings(addr("127.0.0.1:%d" % router.port, "ops", "rack 2", True, "kept"))
        proc = self.start()
        left, top, _, _ = self.screen.rect(LIST)
        subprocess.run(["xdotool", "mousemove", str(left + 30), str(top + 28), "click", "--repeat", "2",
                        "--delay", "100", "1"], check=True)
        status, out = finish(proc)
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|ops|kept"], self.run_calls())
        self.assertEqual(b"rack 2", field(self.settings()[0], "note"))  # saved before connecting

    def choose(self, item):
        """Opens the Tools menu from the keyboard and picks the item at that position (1 to 5)."""
        self.screen.keys("alt+t")
        time.sleep(0.5)
        self.screen.keys(*(["Down"] * (item - (1 if item > 3 else 0))), "Return")

    def file_dialog(self, caption, path):
        self.screen.wait(caption)
        self.screen.keys("ctrl+a")
        self.screen.type(windows_path(path))
        self.screen.keys("Return")

    def test_export_then_import_through_the_file_dialogs(self):
        book = [addr("10.0.0.1", "admin", "lab", True, "pw"), addr("router.lan:8080", "root", "")]
        self.write_settings([("type", b"window"), ("list-sort", struct.pack("<i", 1))], *book)
        exported = os.path.join(self.work, "book.tsl")
        proc = self.start()

        self.choose(4)  # Export, cancelled
        self.screen.wait(EXPORT_CAPTION)
        self.screen.keys("Escape")
        self.choose(4)
        self.file_dialog(EXPORT_CAPTION, exported)
        self.choose(1)  # Clear All Addresses
        self.choose(5)  # Import, a file that is not an address book
        bad = os.path.join(self.work, "bad.tsl")
        with open(bad, "wb") as f:
            f.write(MAGIC[:3])
        watcher = start_wine(["boxwatch.exe", "--timeout", "60", "box", "Import Error"])
        self.file_dialog(IMPORT_CAPTION, bad)
        self.assertEqual("Could not import addresses from bad.tsl - bad file!", finish(watcher)[1].strip())
        self.choose(5)
        self.file_dialog(IMPORT_CAPTION, exported)
        self.screen.keys("Escape")
        status, out = finish(proc)
        self.assertEqual(1, status, out)

        with open(exported, "rb") as f:
            self.assertEqual(encode(*book), f.read())
        self.assertEqual(book, self.settings()[1:])
        self.assertEqual(["GetSaveFileName failed"], out.splitlines())

    def test_export_that_cannot_be_written_says_so(self):
        self.write_settings(addr("10.0.0.1", "admin"))
        target = os.path.join(self.work, "locked.tsl")
        with open(target, "wb") as f:
            f.write(b"old")
        # Immutable: the new file is written beside it, but cannot take its place.
        if subprocess.run(["chattr", "+i", target], stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("chattr +i needs root and an ext file system")
        try:
            proc = self.start()
            watcher = start_wine(["boxwatch.exe", "--timeout", "60", "box", "Import Error"])
            self.choose(4)
            self.file_dialog(EXPORT_CAPTION, target)
            self.screen.keys("Return")  # yes, replace it
            self.assertEqual("Could not export addresses to locked.tsl!", finish(watcher)[1].strip())
            self.screen.keys("Escape")
            self.assertEqual(1, finish(proc)[0])
        finally:
            subprocess.run(["chattr", "-i", target])

    def test_a_settings_file_too_large_for_memory_gives_the_defaults(self):
        os.makedirs(os.path.dirname(self.settings_file()))
        with open(self.settings_file(), "wb") as f:
            f.write(MAGIC + b"\1\0\0" * (100 * 1000 * 1000))  # 300 MB of empty fields, one record
        proc = self.start()
        self.assertEqual("admin", self.screen.text(LOGIN))
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        self.assertEqual(b"admin", field(self.settings()[0], "login"))

    def test_a_failed_attempt_gives_back_the_folder_it_started_in(self):
        os.makedirs(self.site)
        index = os.path.join(self.work, "index.txt")
        with open(index, "w") as f:
            f.write("1 100 ghost.dll.gz 1.0\n")  # not on the router: fails once the version folder is current
        router = self.router(extra=["--index-file", index])
        downloads = os.path.join(self.work, "downloads")
        for folder in (downloads, self.cache("1.0")):  # either would be the file dialog's first folder if current
            os.makedirs(folder)
            with open(os.path.join(folder, "old.tsl"), "wb") as f:
                f.write(MAGIC)
        proc = start_wine([windows_path(os.path.join(BIN, "tarsel.exe")), "127.0.0.1:%d" % router.port, "admin", "pw"],
                          env=self.env, cwd=downloads)
        self.assertIn("ghost.dll.gz", wine(["boxwatch.exe"] + BOXWATCH_ERROR_BOX)[1])
        self.screen.wait(CONNECT_CAPTION)
        self.choose(4)
        self.screen.wait(EXPORT_CAPTION)
        self.screen.type("book.tsl")
        self.screen.keys("Return")
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        self.assertEqual(["book.tsl", "old.tsl"], sorted(os.listdir(downloads)))


class DirectLinkTest(TarselCase):
    def test_direct_entry_gets_the_host_as_typed_and_nothing_is_fetched(self):
        status, out = self.tarsel("no.such.router:8080", "admin", "pw", "--", "withrun.dll")
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|no.such.router|admin|pw"], self.run_calls())
        self.assertNotIn("getting", out)
        self.assertFalse(os.path.exists(os.path.join(self.app_data, "Dunmoral")))

    def test_direct_link_without_run_makes_a_normal_connection(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router()
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw", "--", "norun.dll")
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|admin|pw"], self.run_calls())
        self.assertEqual("GET /tarsel HTTP/1.0", router.requests()[0])


class NginxTest(TarselCase):
    def test_plugins_from_a_third_party_web_server(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        server = Nginx(self.site, "7.1")
        self.servers.append(server)
        for run in range(2):
            status, out = self.tarsel("127.0.0.1:%d" % server.port, "root", "")  # "" for an empty password
            self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|root|", "withrun|127.0.0.1|root|"], self.run_calls())
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0",
                          "GET /tarsel/panel.dll.gz HTTP/1.0", "GET /tarsel HTTP/1.0"], server.requests())
        self.assertEqual(["panel.crc", "panel.dll", "system.crc", "system.dll"], sorted(os.listdir(self.cache("7.1"))))


def kill_program(proc):
    """Kills the Windows program that start_wine began, as a crash or Task Manager would: at once,
    with no clean-up. proc is the time limit's process; the program is its child."""
    for task in os.listdir("/proc/%d/task" % proc.pid):
        with open("/proc/%d/task/%s/children" % (proc.pid, task)) as f:
            for child in f.read().split():
                os.kill(int(child), signal.SIGKILL)


def wait_for(condition, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.1)
    return False


class CacheTrustTest(TarselCase):
    """The cache vouches only for what it holds, in its own folders, whatever happened before."""

    def crcs(self, version):
        return {line.split()[2]: int(line.split()[0]) for line in index_lines(self.site, version).splitlines()}

    def assert_cache_holds(self, version, plugins):
        """Exactly each library and its stamp, the stamp holding the index's checksum."""
        cache = self.cache(version)
        crcs = self.crcs(version)
        expected = sorted([n[:-3] for n in plugins] + [n.split(".")[0] + ".crc" for n in plugins])
        self.assertEqual(expected, sorted(os.listdir(cache)))
        for name, library in plugins.items():
            with open(os.path.join(cache, name[:-3]), "rb") as f, open(os.path.join(BIN, library), "rb") as g:
                data = g.read()
                self.assertEqual(data, f.read(), name)
            with open(os.path.join(cache, name.split(".")[0] + ".crc"), "rb") as f:
                self.assertEqual(stamp_bytes(crcs[name], data), f.read())

    def test_a_planted_library_in_the_start_up_folder_is_never_linked(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router("1.0")
        # The version folder cannot be made: a file has its name.
        root = os.path.join(self.app_data, "Dunmoral", "tarsel")
        os.makedirs(root)
        open(os.path.join(root, "1.0"), "w").close()
        downloads = os.path.join(self.work, "downloads")
        os.makedirs(downloads)
        shutil.copy(os.path.join(BIN, "withrun.dll"), os.path.join(downloads, "panel.dll"))
        with open(os.path.join(downloads, "panel.crc"), "w") as f:
            f.write("%d\n" % self.crcs("1.0")["panel.dll.gz"])

        status, out, text = self.box("127.0.0.1:%d" % router.port, "admin", "secret", cwd=downloads)
        self.assertEqual(1, status, out)
        self.assertEqual("Could not use the plugin cache " + windows_path(os.path.join(root, "1.0")), text)
        self.assertNotIn("linking", out)
        self.assertEqual([], self.run_calls())
        self.assertEqual(["GET /tarsel HTTP/1.0"], router.requests())
        self.assertEqual(["panel.crc", "panel.dll"], sorted(os.listdir(downloads)))

    def test_a_download_killed_midway_leaves_a_cache_the_next_run_repairs(self):
        plugins = {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"}
        make_site(self.site, plugins)
        slow = self.router(extra=["--rate", "3000"])
        tarsel = start_wine(["tarsel.exe", "127.0.0.1:%d" % slow.port, "admin", "pw"], env=self.env)
        cache = self.cache("1.0")

        def partial_download():
            try:
                return [n for n in os.listdir(cache) if n.startswith("TSL")]
            except OSError:
                return []

        # The temporary file is made before the request; once the request is in, the body is on its way
        # (its output reaches the file in large writes, so the file may still be empty).
        def downloading():
            return partial_download() and any(r.startswith("GET /tarsel/") for r in slow.requests())
        self.assertTrue(wait_for(downloading), "no download started")
        kill_program(tarsel)
        finish(tarsel)
        self.assertEqual(1, len(partial_download()))
        self.assertNotIn("system.crc", os.listdir(cache))

        status, out = self.tarsel("127.0.0.1:%d" % self.router().port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|admin|pw"], self.run_calls())
        self.assert_cache_holds("1.0", plugins)

    def test_two_copies_started_together_share_the_cache(self):
        plugins = {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"}
        make_site(self.site, plugins)
        router = self.router(extra=["--rate", "8000"])
        copies = [start_wine(["tarsel.exe", "127.0.0.1:%d" % router.port, "admin", "pw%d" % n], env=self.env)
                  for n in range(2)]
        results = [finish(copy, timeout=120) for copy in copies]
        for status, out in results:
            self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|admin|pw0", "withrun|127.0.0.1|admin|pw1"], sorted(self.run_calls()))
        self.assert_cache_holds("1.0", plugins)
        # The second copy waited for the first and found every plugin in the cache.
        downloads = [r for r in router.requests() if r != "GET /tarsel HTTP/1.0"]
        self.assertEqual(["GET /tarsel/panel.dll.gz HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0"], sorted(downloads))

    def test_cleaning_never_follows_a_linked_folder(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router("1.0")
        root = os.path.join(self.app_data, "Dunmoral", "tarsel")
        month_ago = time.time() - 30 * 86400

        def stale_folder(folder):
            os.makedirs(folder)
            for name in ("system.crc", "plugin.dll"):
                path = os.path.join(folder, name)
                with open(path, "w") as f:
                    f.write("1\n")
                os.utime(path, (month_ago, month_ago))
        outside = os.path.join(self.work, "outside")
        nested_outside = os.path.join(self.work, "nested-outside")
        for folder in (outside, nested_outside, os.path.join(root, "0.9")):
            stale_folder(folder)
        os.symlink(outside, os.path.join(root, "linked"))
        os.symlink(nested_outside, os.path.join(root, "0.9", "sub"))

        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual(["sub"], os.listdir(os.path.join(root, "0.9")), "the stale folder is cleaned")
        for folder in (outside, nested_outside):
            self.assertEqual(["plugin.dll", "system.crc"], sorted(os.listdir(folder)))


# The resolver refuses this name itself (empty label), so no query leaves the machine.
UNRESOLVABLE_NAME = "no..such.router"
BOXWATCH_MISSING_BOX = ["--timeout", "60", "box", ERROR_CAPTION]
BOXWATCH_CLOSE_PROGRESS = ["--timeout", "60", "press", "127.0.0.1 - Veskaral tarsel", "2"]


def main():
    global BIN, SAVED_APP_DATA
    BIN = os.path.abspath(sys.argv[1])
    SAVED_APP_DATA = read_app_data()
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)


if __name__ == "__main__":
    main()
