#!/usr/bin/env python3
"""Tests of the demo router, talking to it as the loader does: one raw HTTP/1.0 request per connection."""
import gzip
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

ROUTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "router.py")


def fetch(port, path, timeout=10):
    """Status line and body; the body ends when the router closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(b"GET %s HTTP/1.0\r\n\r\n" % path.encode("ascii"))
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return head.split(b"\r\n")[0].decode("ascii"), body


class Router:
    def __init__(self, folder, *options):
        self.port_file = os.path.join(folder, "port")
        self.process = subprocess.Popen(
            [sys.executable, ROUTER, "--folder", folder, "--port-file", self.port_file, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.port_file):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("router did not start")
            time.sleep(0.05)
        with open(self.port_file) as f:
            self.port = int(f.read())

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
        self.process.stdout.close()
        self.process.stderr.close()


class RouterTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.plugins = {}
        for name, size in (("system.dll.gz", 5000), ("console.dll.gz", 20000)):
            data = gzip.compress(os.urandom(size), mtime=0)
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
            self.plugins[name] = data
        with open(os.path.join(self.folder, "notes.txt"), "w") as f:
            f.write("not a plugin\n")
        self.routers = []

    def tearDown(self):
        for router in self.routers:
            router.stop()
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))
        os.rmdir(self.folder)

    def start(self, *options):
        router = Router(self.folder, *options)
        self.routers.append(router)
        return router

    def test_index_lists_each_gz_file_with_checksum_size_and_version(self):
        router = self.start("--version", "2.7")
        status, body = fetch(router.port, "/tarsel")
        self.assertEqual("HTTP/1.0 200 OK", status)
        expected = "".join("%u %u %s 2.7\n" % (zlib.crc32(self.plugins[n]) & 0xFFFFFFFF, len(self.plugins[n]), n)
                           for n in sorted(self.plugins))
        self.assertEqual(expected, body.decode("ascii"))

    def test_serves_files_and_refuses_other_paths(self):
        router = self.start()
        for name, data in self.plugins.items():
            self.assertEqual(("HTTP/1.0 200 OK", data), fetch(router.port, "/tarsel/" + name))
        for path in ("/", "/tarsel/", "/tarsel/notes.txt", "/tarsel/../router.py", "/tarsel/x.gz",
                     "/tarselsystem.dll.gz", "/tarsel/system.dll.gz/"):
            self.assertEqual(("HTTP/1.0 404 Not Found", b""), fetch(router.port, path), path)

    def test_index_status_fails_only_the_index(self):
        router = self.start("--index-status", "404")
        self.assertEqual("HTTP/1.0 404 Not Found", fetch(router.port, "/tarsel")[0])
        self.assertEqual("HTTP/1.0 200 OK", fetch(router.port, "/tarsel/system.dll.gz")[0])

    def test_index_file_is_served_verbatim(self):
        index = os.path.join(self.folder, "index.txt")
        with open(index, "wb") as f:
            f.write(b"1 2 a.dll.gz 1.0\r\nbroken line\r\n")
        router = self.start("--index-file", index)
        self.assertEqual(b"1 2 a.dll.gz 1.0\r\nbroken line\r\n", fetch(router.port, "/tarsel")[1])

    def test_log_records_request_lines_in_order(self):
        log = os.path.join(self.folder, "requests.log")
        router = self.start("--log", log)
        fetch(router.port, "/tarsel")
        fetch(router.port, "/tarsel/console.dll.gz")
        fetch(router.port, "/nothing")
        with open(log) as f:
            self.assertEqual(["GET /tarsel HTTP/1.0", "GET /tarsel/console.dll.gz HTTP/1.0", "GET /nothing HTTP/1.0"],
                             f.read().splitlines())

    def test_rate_throttles_plugin_downloads(self):
        router = self.start("--rate", "8000")
        started = time.monotonic()
        _, body = fetch(router.port, "/tarsel/console.dll.gz", timeout=30)
        slow = time.monotonic() - started
        self.assertEqual(self.plugins["console.dll.gz"], body)
        # Only the lower bound is certain: a busy machine may send later, never sooner.
        self.assertGreater(slow, len(body) / 8000 * 0.8)

    def test_slow_download_does_not_block_the_index(self):
        router = self.start("--rate", "2000")
        size = len(self.plugins["console.dll.gz"])
        slow = socket.create_connection(("127.0.0.1", router.port), timeout=30)
        try:
            slow.sendall(b"GET /tarsel/console.dll.gz HTTP/1.0\r\n\r\n")
            received = len(slow.recv(100))
            self.assertEqual("HTTP/1.0 200 OK", fetch(router.port, "/tarsel", timeout=30)[0])
            # A router that served one client at a time would have sent the whole plugin by now.
            slow.setblocking(False)
            try:
                while True:
                    chunk = slow.recv(65536)
                    if not chunk:
                        break
                    received += len(chunk)
            except BlockingIOError:
                pass
            self.assertLess(received, size)
        finally:
            slow.close()

    def test_refuses_other_bind_addresses(self):
        for address in ("0.0.0.0", "192.168.1.1", "localhost"):
            result = subprocess.run([sys.executable, ROUTER, "--bind", address, "--folder", self.folder],
                                    capture_output=True, timeout=20)
            self.assertEqual(2, result.returncode, address)
            self.assertIn(b"127.0.0.1 only", result.stderr)

    def test_port_zero_prints_the_chosen_port(self):
        router = self.start()
        line = router.process.stdout.readline().decode("ascii")
        self.assertIn("127.0.0.1:%d " % router.port, line)


if __name__ == "__main__":
    unittest.main()
