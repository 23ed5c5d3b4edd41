"""What the plugins find of the process: what it was before the loader started, every listed file, and
libraries where the system searches for any program."""
import gzip
import os
import shutil

from harness import *  # noqa: F401,F403


class HandedProcessTest(TarselCase):
    def env_lines(self):
        with open(self.env_log) as f:
            return f.read().splitlines()

    def test_plugins_get_the_process_as_it_was_and_every_listed_file_on_first_and_next_start(self):
        make_site(self.site, {"panel.dll.gz": "withrun.dll"})
        with open(os.path.join(self.site, "strings.dat.gz"), "wb") as f:
            f.write(gzip.compress(b"texts the plugins read\r\n", mtime=0))
        router = self.router()
        self.env_log = os.path.join(self.work, "env.log")
        self.env.update(TARSEL_ENV_LOG=windows_path(self.env_log), TARSEL_ENV_DATA="strings.dat")
        # Direct-link mode hands over before the loader has a window: the process as it was.
        status, out = self.tarsel("10.0.0.1", "admin", "pw", "--", "withrun.dll")
        self.assertEqual(-1, status, out)
        [before] = self.env_lines()
        self.assertTrue(before.endswith(" cc6=0 data=0"), before)
        for start in ("first", "next"):
            status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw")
            self.assertEqual(-1, status, out)
            self.assertIn("lib .\\strings.dat not loaded error=", out, start)
        self.assertEqual([before.replace("data=0", "data=1")] * 2, self.env_lines()[1:])
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/strings.dat.gz HTTP/1.0",
                          "GET /tarsel/panel.dll.gz HTTP/1.0", "GET /tarsel HTTP/1.0"], router.requests())

    def test_plugins_find_libraries_where_the_system_searches_for_any_program(self):
        make_site(self.site, {"search.dll.gz": "search.dll"})
        router = self.router()
        # Wine prepends WINEPATH to the PATH of the programs it starts.
        self.env.update(WINEPATH=windows_path(bin_file("onpath")))
        prefix = os.environ.get("WINEPREFIX", os.path.join(ROOT, ".wineprefix"))
        in_windows = os.path.join(prefix, "drive_c", "windows", "fromwindows.dll")
        shutil.copyfile(bin_file(os.path.join("aside", "fromwindows.dll")), in_windows)
        try:
            status, out = self.tarsel("127.0.0.1:%d" % router.port, "admin", "pw", timeout=60)
        finally:
            os.remove(in_windows)
        self.assertEqual(-1, status, out)
        self.assertEqual(["search vendor=5 frompath.dll=1 fromprogram.dll=1 fromwindows.dll=1"], self.run_calls())
