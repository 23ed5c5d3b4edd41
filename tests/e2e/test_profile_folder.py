"""A profile folder named outside the system's code page holds the cache like any other."""
import os

from harness import *  # noqa: F401,F403

USER_SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


def reg_value(key):
    """(type, data) of the key's "AppData", or None."""
    _, out = wine(["reg", "query", key, "/v", "AppData"])
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == "AppData":
            return parts[1], parts[2]
    return None


def set_reg_value(key, value):
    if value is None:
        wine(["reg", "delete", key, "/v", "AppData", "/f"])
    else:
        wine(["reg", "add", key, "/v", "AppData", "/t", value[0], "/d", value[1], "/f"])


def tree(folder):
    return sorted(os.path.join(d, n) for d, dirs, files in os.walk(folder) for n in dirs + files)


class ProfileFolderTest(TarselCase):
    def test_a_profile_outside_the_code_page_downloads_stamps_links_and_runs_from_there(self):
        saved = reg_value(USER_SHELL_FOLDERS)
        self.addCleanup(set_reg_value, USER_SHELL_FOLDERS, saved)
        # Cyrillic and Chinese letters on a code page 1252 system; Wine reads the file names as UTF-8.
        self.app_data = os.path.join(self.work, "users", "Дмитрий 王芳", "AppData", "Roaming")
        os.makedirs(self.app_data)
        set_app_data(windows_path(self.app_data))
        set_reg_value(USER_SHELL_FOLDERS, ("REG_SZ", windows_path(self.app_data)))
        windows = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows")
        before = tree(os.path.join(windows, "AppData"))

        plugins = {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"}
        make_site(self.site, plugins)
        router = self.router("2.5")
        for login in ("first", "second"):
            status, out = self.tarsel("127.0.0.1:%d" % router.port, login, "pw")
            self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|first|pw", "withrun|127.0.0.1|second|pw"], self.run_calls())
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0",
                          "GET /tarsel/panel.dll.gz HTTP/1.0", "GET /tarsel HTTP/1.0"], router.requests())
        self.assertEqual(["lib .\\system.dll loaded", "lib .\\panel.dll loaded"],
                         [line for line in out.splitlines() if line.startswith("lib ")])
        crcs = {line.split()[2]: line.split()[0] for line in index_lines(self.site, "2.5").splitlines()}
        cache = self.cache("2.5")
        self.assertEqual(["panel.crc", "panel.dll", "system.crc", "system.dll"], sorted(os.listdir(cache)))
        for name, library in plugins.items():
            with open(bin_file(library), "rb") as f:
                data = f.read()
            with open(os.path.join(cache, name.split(".")[0] + ".crc"), "rb") as f:
                self.assertEqual(stamp_bytes(crcs[name], data), f.read())
        self.assertEqual(before, tree(os.path.join(windows, "AppData")))
