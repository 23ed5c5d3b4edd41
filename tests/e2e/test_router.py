"""The program against the demo router and nginx: downloads, a cache kept current, the failures of an attempt."""
import os
import time

from harness import *  # noqa: F401,F403


class RouterTest(TarselCase):
    def test_first_run_downloads_everything_then_second_run_only_reads_the_index(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        router = self.router("2.5")
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "secret")
        self.assertEqual(-1, status, out)
        sizes = {n: os.path.getsize(os.path.join(self.site, n)) for n in os.listdir(self.site)}
        lines = lines_of(out)
        self.assertEqual([
            "DLLLoader::fetch",
            "getting /tarsel",
            "DLL panel.dll ver=2.5 size=%d" % sizes["panel.dll.gz"],
            "DLL system.dll ver=2.5 size=%d" % sizes["system.dll.gz"],
            # the index's last line first; both download at once, each said as its connection is made
            "loading system.dll.gz", "loading panel.dll.gz",
            "getting", "getting",
            "linking .\\system.dll", "lib .\\system.dll loaded",
            "linking .\\panel.dll", "lib .\\panel.dll loaded",
            "run withrun: instance=1 address=127.0.0.1 login=admin password=secret",
        ], [line if not line.startswith("getting /tarsel/") else "getting" for line in lines])
        self.assertEqual(["getting /tarsel/panel.dll.gz", "getting /tarsel/system.dll.gz"],
                         sorted(line for line in lines if line.startswith("getting /tarsel/")))
        self.assertEqual(["withrun|127.0.0.1|admin|secret"], self.run_calls())
        self.assertFalse(os.path.exists(self.settings_file()))  # no dialog, no settings
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/panel.dll.gz HTTP/1.0",
                          "GET /tarsel/system.dll.gz HTTP/1.0"], [router.requests()[0]] + sorted(router.requests()[1:]))

        cache = self.cache("2.5")
        self.assertEqual(["panel.crc", "panel.dll", "system.crc", "system.dll"], sorted(os.listdir(cache)))
        index = {line.split()[2]: line.split() for line in index_lines(self.site, "2.5").splitlines()}
        for stem, library in (("panel", "withrun.dll"), ("system", "norun.dll")):
            with open(os.path.join(cache, stem + ".dll"), "rb") as f, open(bin_file(library), "rb") as g:
                data = g.read()
                self.assertEqual(data, f.read())
            with open(os.path.join(cache, stem + ".crc"), "rb") as f:
                self.assertEqual(stamp_bytes(index[stem + ".dll.gz"], os.path.join(cache, stem + ".dll")), f.read())

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

    def test_the_index_missing_on_the_router_is_reported_once_the_progress_window_is_gone(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        # The index waits until the progress window has opened.
        hold = os.path.join(self.work, "answer-index")
        router = self.router(extra=["--index-status", "404", "--index-hold", hold])
        tarsel = start_wine(["tarsel.exe", "127.0.0.1:%d" % router.port, "admin", "pw"], env=self.env)
        watch("--timeout", "60", "text", "Veskaral tarsel", "203")
        open(hold, "w").close()
        self.assertEqual("Could not fetch /tarsel from 127.0.0.1 (port %d): Not Found" % router.port,
                         watch("--timeout", "60", "text", ERROR_CAPTION, "65535").rstrip("\r"))
        status, text = wine(["boxwatch.exe", "--timeout", "0", "text", "Veskaral tarsel", "203"])
        self.assertEqual(2, status, "progress window still open: " + text)
        watch("--timeout", "60", "box", ERROR_CAPTION)
        watch("--timeout", "60", "esc", CONNECT_CAPTION)
        self.assertEqual(1, finish(tarsel)[0])

    def test_no_plugin_with_run_is_fatal(self):
        make_site(self.site, {"system.dll.gz": "norun.dll"})
        router = self.router()
        watcher = start_wine(["boxwatch.exe"] + BOXWATCH_ERROR_BOX)
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
        watcher_status, said = finish(watcher)
        self.assertEqual(0, watcher_status, said)
        self.assertEqual(1, status, out)
        self.assertIn("loading panel.dll.gz", out)
        self.assertNotIn("linking", out)
        # Everything unwound: no stamp, and the partial download went with its owner.
        self.assertEqual([], os.listdir(self.cache("1.0")))
        self.assertEqual([], self.run_calls())


class FailureTest(TarselCase):
    def test_unresolvable_name(self):
        status, out, text = self.box(UNRESOLVABLE_NAME, "admin", "pw")
        self.assertEqual(1, status, out)
        self.assertEqual("Invalid address - " + UNRESOLVABLE_NAME, text)


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
