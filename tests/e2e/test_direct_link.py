"""Direct-link mode: libraries named on the command line."""
import os

from harness import *  # noqa: F401,F403


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
