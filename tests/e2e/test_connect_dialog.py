"""The connect dialog as a user drives it: typing, the address book, export and import, the settings file."""
import os
import subprocess
import time

from harness import *  # noqa: F401,F403
from records import MAGIC, addr, encode, field, integer


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
        """Until the window is shown and active, so that keys typed next reach it."""
        watch("--timeout", "60", "active", caption)

    def text(self, control, caption=CONNECT_CAPTION):
        return watch("--timeout", "60", "text", caption, str(control))

    def wait_text(self, control, expected, caption=CONNECT_CAPTION):
        """The control's text once it is the expected one, or the last one seen after 20 s."""
        seen = [None]

        def shows():
            seen[0] = self.text(control, caption)
            return seen[0] == expected
        try:
            wait_for(shows, "control %d to read %r" % (control, expected), timeout=20)
        except AssertionError:
            if seen[0] is None:
                raise  # no window at all: boxwatch's own words
        return seen[0]  # else the caller's comparison shows what it read instead

    def rect(self, control):
        return [int(n) for n in watch("--timeout", "60", "rect", CONNECT_CAPTION, str(control)).split()]


ADDRESS, LOGIN, PASSWORD, NOTE, LIST = 200, 201, 202, 218, 213
EXPORT_CAPTION, IMPORT_CAPTION = "Export Addresses To", "Import Addresses From"
NOTICE_CAPTION = "Veskaral tarsel"  # what the dialog found in the settings file
FILE_NAME = "0x47c"  # the file dialogs' name field


class ConnectDialogTest(TarselCase):
    """The connect dialog as a user meets it: started without arguments, typed into and clicked."""

    def setUp(self):
        super().setUp()
        self.screen = Screen()

    def start(self, *args):
        proc = self.ended_at_the_end(start_wine(["tarsel.exe"] + list(args), env=self.env))
        self.screen.wait(CONNECT_CAPTION)
        return proc

    def ended_at_the_end(self, proc):
        """A failed test leaves no dialog behind to take the next test's keys."""
        self.addCleanup(lambda: proc.poll() is None and kill_program(proc))
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
        # The default widths at 96 DPI.
        self.assertEqual([100, 80, 150, 0, 1], [integer(window, k) for k in (
            "list-col-0", "list-col-1", "list-col-2", "list-sort", "list-ascend")])
        left, top, right, bottom = struct.unpack("<4i", field(window, "bounds"))
        # Centred on the screen; an odd spare width leaves one pixel more on one side.
        self.assertLessEqual(abs((1280 - right) - left), 1)
        self.assertLessEqual(abs((1024 - bottom) - top), 1)
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
        self.screen.wait(CONNECT_CAPTION)  # a file dialog just closed may still hold the keys
        self.screen.keys("alt+t")
        watch("--timeout", "60", "menu")
        self.screen.keys(*(["Down"] * (item - (1 if item > 3 else 0))), "Return")

    def file_dialog(self, caption, path=None):
        """Picks the path in the file dialog of that caption; with no path, cancels it."""
        self.screen.wait(caption)
        # As a user would, give it a moment first: a file dialog closed within a few milliseconds of
        # showing leaves Wine, without a window manager, with no window active (stale focus events).
        time.sleep(1)
        if path is None:
            self.screen.keys("Escape")
            return
        if path.isascii():
            self.screen.keys("ctrl+a")
            self.screen.type(windows_path(path))
        else:  # xdotool drops letters that no key of its keyboard makes
            watch("--timeout", "60", "settext", caption, FILE_NAME, windows_path(path))
        self.screen.keys("Return")

    def test_export_then_import_through_the_file_dialogs(self):
        book = [addr("10.0.0.1", "admin", "lab", True, "pw"), addr("router.lan:8080", "root", "")]
        self.write_settings([("type", b"window"), ("list-sort", struct.pack("<i", 1))], *book)
        exported = os.path.join(self.work, "book.tsl")
        proc = self.start()

        self.choose(4)  # Export, cancelled
        self.file_dialog(EXPORT_CAPTION)
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

    def test_export_and_import_under_a_name_outside_the_code_page(self):
        book = [addr("10.0.0.1", "admin", "lab", True, "pw")]
        self.write_settings(*book)
        name = "Дмитрий 王芳 ａ.tsl"  # the code page has none of them; best fit would make the last "a"
        exported = os.path.join(self.work, name)
        proc = self.start()
        self.choose(4)
        self.file_dialog(EXPORT_CAPTION, exported)
        self.choose(5)
        self.file_dialog(IMPORT_CAPTION, exported)
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        self.assertEqual(["appdata", name], sorted(os.listdir(self.work)))
        with open(exported, "rb") as f:
            self.assertEqual(encode(*book), f.read())
        self.assertEqual(book * 2, self.settings()[1:])

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

    def test_a_settings_file_of_countless_fields_gives_the_defaults_and_is_kept(self):
        os.makedirs(os.path.dirname(self.settings_file()))
        with open(self.settings_file(), "wb") as f:
            f.write(MAGIC + b"\1\0\0" * (100 * 1000 * 1000))  # 300 MB of empty fields, one record
        watcher = start_wine(["boxwatch.exe", "--timeout", "120", "box", NOTICE_CAPTION])
        proc = self.start()
        self.assertIn("A copy of the damaged file was kept as", finish(watcher, timeout=150)[1])
        self.assertEqual("admin", self.screen.text(LOGIN))
        self.screen.keys("Escape")
        self.assertEqual(1, finish(proc)[0])
        self.assertEqual(b"admin", field(self.settings()[0], "login"))
        self.assertEqual(4 + 300 * 1000 * 1000, os.path.getsize(self.settings_file() + ".bad"))

    def test_a_held_settings_file_survives_a_dialog_cancelled_after_the_holder_lets_go(self):
        self.write_settings(addr("10.0.0.1", "admin"), addr("10.0.0.2", "ops"))
        with open(self.settings_file(), "rb") as f:
            saved = f.read()
        ready, release = os.path.join(self.work, "held"), os.path.join(self.work, "release")
        holder = start_wine(["holdfile.exe"] + [windows_path(p) for p in (self.settings_file(), ready, release)])
        self.assertTrue(wait_for(lambda: os.path.exists(ready)), "the file was not held")
        proc = start_wine(["tarsel.exe"], env=self.env)
        notice = watch("--timeout", "60", "text", NOTICE_CAPTION, "65535")
        # The box stands over the dialog, not alone on the screen before it.
        self.assertEqual(0, wine(["boxwatch.exe", "--timeout", "0", "text", CONNECT_CAPTION, str(LOGIN)])[0])
        watch("--timeout", "60", "box", NOTICE_CAPTION)
        open(release, "w").close()
        self.assertEqual(0, finish(holder)[0])
        self.screen.wait(CONNECT_CAPTION)
        self.screen.keys("Escape")
        status, out = finish(proc)
        self.assertEqual(1, status, out)
        self.assertIn("The saved connections could not be read: another program is using", notice)
        self.assertIn("changes made now will not be saved", notice)
        with open(self.settings_file(), "rb") as f:
            self.assertEqual(saved, f.read())

    def test_two_copies_at_once_keep_what_each_added(self):
        self.write_settings(addr("10.0.0.1", "one"), addr("10.0.0.2", "two"))

        def connect_windows():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % CONNECT_CAPTION],
                                   capture_output=True, text=True).stdout.split()
            return found

        def focused():
            return subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True).stdout.strip()

        first = self.start()
        [first_window] = connect_windows()
        self.screen.keys("alt+n", "Tab", "End")  # to the list, its last item: 10.0.0.2
        self.assertEqual("two", self.screen.wait_text(LOGIN, "two"))
        self.screen.keys("alt+r")
        self.screen.fill("c", "10.0.0.4")
        self.screen.fill("l", "Y")
        self.screen.keys("alt+s")

        # The second copy starts while the first is open, with the book as the first found it; its
        # dialog comes on top, and the keys go to it once it is the active one.
        second = self.ended_at_the_end(start_wine(["tarsel.exe"], env=self.env))
        wait_for(lambda: len(connect_windows()) == 2 and focused() in connect_windows() and focused() != first_window,
                 "the second copy's dialog to have the keyboard")
        self.screen.fill("c", "10.0.0.3")
        self.screen.fill("l", "X")
        self.screen.keys("alt+s", "Escape")
        self.assertEqual(1, finish(second)[0])
        self.assertEqual([b"one", b"two", b"X"], [field(r, "login") for r in self.settings()[1:]])

        # The first ends last: what it removed goes, what the second added stays.
        wait_for(lambda: len(connect_windows()) == 1, "the second copy's dialog to close")
        subprocess.run(["xdotool", "windowfocus", "--sync", first_window])
        wait_for(lambda: focused() == first_window, "the first copy's dialog to have the keyboard")
        self.screen.wait(CONNECT_CAPTION)
        self.screen.keys("Escape")
        status, out = finish(first)
        self.assertEqual(1, status, out)
        self.assertEqual([b"one", b"X", b"Y"], [field(r, "login") for r in self.settings()[1:]])
