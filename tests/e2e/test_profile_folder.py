"""A profile folder named outside the system's code page holds the cache like any other."""
import os

from harness import *  # noqa: F401,F403

USER_SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


def app_data_value(key, value=None):
    """Sets the key's "AppData" to value, (type, data); returns what it held."""
    _, out = wine(["reg", "query", key, "/v", "AppData"])
    held = [line.split(None, 2)[1:] for line in out.splitlines() if line.strip().startswith("AppData ")]
    if value:
        wine(["reg", "add", key, "/v", "AppData", "/t", value[0], "/d", value[1], "/f"])
    return held[0] if held else None


class ProfileFolderTest(TarselCase):
    def test_a_profile_outside_the_code_page_downloads_stamps_links_and_runs_from_there(self):
        # Cyrillic and Chinese letters on a code page 1252 system; Wine reads the file names as UTF-8.
        self.app_data = os.path.join(self.work, "users", "Дмитрий 王芳", "AppData", "Roaming")
        os.makedirs(self.app_data)
        set_app_data(windows_path(self.app_data))
        saved = app_data_value(USER_SHELL_FOLDERS, ("REG_SZ", windows_path(self.app_data)))
        self.addCleanup(app_data_value, USER_SHELL_FOLDERS, saved)
        windows_app_data = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "AppData")
        before = list(os.walk(windows_app_data))

        make_site(self.site, {"panel.dll.gz": "withrun.dll", "system.dll.gz": "norun.dll"})
        router = self.router("2.5")
        for login in ("first", "second"):
            status, out = self.tarsel("127.0.0.1:%d" % router.port, login, "pw")
            self.assertEqual(-1, status, out)
        self.assertEqual(["withrun|127.0.0.1|first|pw", "withrun|127.0.0.1|second|pw"], self.run_calls())
        # The second start found both plugins current by their stamps.
        self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/system.dll.gz HTTP/1.0",
                          "GET /tarsel/panel.dll.gz HTTP/1.0", "GET /tarsel HTTP/1.0"], router.requests())
        self.assertEqual(["panel.crc", "panel.dll", "system.crc", "system.dll"], sorted(os.listdir(self.cache("2.5"))))
        self.assertEqual(before, list(os.walk(windows_app_data)))
