"""The plugin cache vouches only for what it holds, in its own folders, whatever happened before."""
import os
import shutil
import subprocess
import time

from harness import *  # noqa: F401,F403


class CacheTrustTest(TarselCase):
    """The cache vouches only for what it holds, in its own folders, whatever happened before."""

    def lines(self, version):
        return {line.split()[2]: line.split() for line in index_lines(self.site, version).splitlines()}

    def crcs(self, version):
        return {name: int(line[0]) for name, line in self.lines(version).items()}

    def assert_cache_holds(self, version, plugins, ignore=frozenset()):
        """Exactly each library and its stamp, the stamp holding the index's checksum."""
        cache = self.cache(version)
        lines = self.lines(version)
        expected = sorted([n[:-3] for n in plugins] + [n.split(".")[0] + ".crc" for n in plugins])
        self.assertEqual(expected, sorted(set(os.listdir(cache)) - set(ignore)))
        for name, library in plugins.items():
            with open(os.path.join(cache, name[:-3]), "rb") as f, open(bin_file(library), "rb") as g:
                data = g.read()
                self.assertEqual(data, f.read(), name)
            with open(os.path.join(cache, name.split(".")[0] + ".crc"), "rb") as f:
                self.assertEqual(stamp_bytes(lines[name], os.path.join(cache, name[:-3])), f.read())

    def test_a_planted_library_in_the_start_up_folder_is_never_linked(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        router = self.router("1.0")
        # The version folder cannot be made: a file has its name.
        root = os.path.join(self.app_data, "Dunmoral", "tarsel")
        os.makedirs(root)
        open(os.path.join(root, "1.0"), "w").close()
        downloads = os.path.join(self.work, "downloads")
        os.makedirs(downloads)
        shutil.copy(bin_file("withrun.dll"), os.path.join(downloads, "panel.dll"))
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
        wait_for(downloading, "a download to start")
        kill_program(tarsel)
        finish(tarsel)
        self.assertEqual(2, len(partial_download()))  # both plugins were on their way
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

    def test_a_virus_scanner_that_holds_each_new_file_for_a_moment(self):
        plugins = {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll", "extra.dll.gz": "withrun2.dll"}
        make_site(self.site, plugins)
        router = self.router()
        cache = self.cache("1.0")
        ready, stop, log = (os.path.join(self.work, name) for name in ("scanner-ready", "scanner-stop", "held.log"))
        # As the scanner of a user's machine: each file made or changed is held for 1.5 s after its last
        # change, sharing reading and writing but not deletion.
        scanner = start_wine(["scanner.exe", windows_path(cache), "1500"] + [windows_path(p) for p in (ready, stop, log)])
        try:
            wait_for(lambda: os.path.exists(ready), "the scanner to look at the version folder")
            runs = [self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw") for _ in range(2)]
        finally:
            open(stop, "w").close()
            finish(scanner)
        for status, out in runs:
            self.assertEqual(-1, status, out)
        self.assertEqual(["withrun2|127.0.0.1|admin|pw"] * 2, self.run_calls())  # the first index line
        # The second start found every plugin cached: it asked for the index alone.
        self.assertEqual(["GET /tarsel HTTP/1.0"] * 2 + ["GET /tarsel/%s HTTP/1.0" % n for n in sorted(plugins)],
                         sorted(router.requests()))
        with open(log) as f:
            held = set(line.split()[1] for line in f)
        self.assertLessEqual({n[:-3] for n in plugins}, held, "the scanner held every library")
        # A lock file the scanner held as it was let go stays; it blocks no one.
        self.assert_cache_holds("1.0", plugins, ignore={"tarsel.lock"})

    def test_a_new_version_downloads_only_what_changed_and_stands_alone(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        status, out = self.tarsel("127.0.0.1:%d" % self.router("1.0").port, "admin", "pw")
        self.assertEqual(-1, status, out)
        # The router's update changes system.dll only.
        plugins = {"panel.dll.gz": "withrun.dll", "system.dll.gz": "withrun2.dll"}
        make_site(self.site, plugins)
        router = self.router("2.0")
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0"], router.requests())
        self.assertIn("copied panel.dll from version 1.0\n", out)
        self.assert_cache_holds("2.0", plugins)

        # The first version's folder, unused for a month, is cleaned at the end of the next start...
        month_ago = time.time() - 30 * 86400
        os.utime(os.path.join(self.cache("1.0"), "system.crc"), (month_ago, month_ago))
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual([], os.listdir(self.cache("1.0")))
        # ...and the new one needs nothing from it.
        status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
        self.assertEqual(-1, status, out)
        self.assertEqual(["GET /tarsel HTTP/1.0"] * 2, router.requests()[2:])
        self.assert_cache_holds("2.0", plugins)
        self.assertEqual(4, len(self.run_calls()))

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
