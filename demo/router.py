#!/usr/bin/env python3
"""A stand-in for a router's built-in web server, for the demo and the end-to-end tests.

Serves the plugin index at /tarsel, one line per .gz file of a folder:
    <CRC-32 of the .gz file> <its size in bytes> <file name> <version>
and each file at /tarsel/<file name>. HTTP/1.0, one request per connection, the connection is
closed after the body. Listens on 127.0.0.1 only.
"""
import argparse
import http
import http.server
import os
import signal
import sys
import threading
import time
import zlib

LOOPBACK = "127.0.0.1"


def crc32_of(path):
    crc = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(65536), b""):
            crc = zlib.crc32(block, crc)
    return crc & 0xFFFFFFFF


def plugin_files(folder):
    """The .gz files of the folder, by name."""
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        return []
    return [n for n in names if n.endswith(".gz") and os.path.isfile(os.path.join(folder, n))]


def index_text(folder, version):
    lines = []
    for name in plugin_files(folder):
        path = os.path.join(folder, name)
        lines.append("%u %u %s %s\n" % (crc32_of(path), os.path.getsize(path), name, version))
    return "".join(lines)


class RouterHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "VeskaralRouter/1.0"

    def log_message(self, format, *args):  # noqa: A002 - name fixed by the base class
        if self.server.options.verbose:
            sys.stderr.write("router: %s\n" % (format % args))

    def log_request_line(self):
        log = self.server.options.log
        if not log:
            return
        with self.server.log_lock:
            with open(log, "a", encoding="utf-8") as f:
                f.write(self.requestline + "\n")

    def respond(self, status, body, content_type, rate=0):
        status = http.HTTPStatus(status)
        head = (
            "HTTP/1.0 %d %s\r\n"
            "Server: %s\r\n"
            "Content-Type: %s\r\n"
            "Content-Length: %d\r\n"
            "\r\n" % (status.value, status.phrase, self.server_version, content_type, len(body))
        ).encode("ascii")
        try:
            if rate <= 0:
                self.wfile.write(head + body)
            else:
                self.wfile.write(head)
                self.write_throttled(body, rate)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away; nothing more to do

    def write_throttled(self, body, rate):
        # Ten slices a second, each sent on time relative to the start so that the mean rate holds.
        piece = max(1, rate // 10)
        start = time.monotonic()
        sent = 0
        while sent < len(body):
            due = start + sent / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            self.wfile.write(body[sent:sent + piece])
            sent += piece

    def do_GET(self):
        self.log_request_line()
        options = self.server.options
        if self.path == "/tarsel":
            time.sleep(options.index_delay)
            if options.index_hold:
                # Held until the test has seen what it waits for; bounded, so that no client hangs.
                end = time.monotonic() + 120
                while not os.path.exists(options.index_hold) and time.monotonic() < end:
                    time.sleep(0.05)
            if options.index_status != 200:
                self.respond(options.index_status, b"", "text/plain")
                return
            if options.index_file:
                with open(options.index_file, "rb") as f:
                    text = f.read()
            else:
                text = index_text(options.folder, options.version).encode("ascii")
            self.respond(200, text, "text/plain")
            return
        prefix = "/tarsel/"
        if self.path.startswith(prefix):
            name = self.path[len(prefix):]
            # Only names that the index can list: no folders, no way out of the folder.
            if name in plugin_files(options.folder):
                with open(os.path.join(options.folder, name), "rb") as f:
                    body = f.read()
                self.respond(200, body, "application/gzip", options.rate)
                return
        self.respond(404, b"", "text/plain")

    def do_HEAD(self):
        self.log_request_line()
        self.respond(404, b"", "text/plain")


class RouterServer(http.server.ThreadingHTTPServer):
    daemon_threads = True  # a stalled client must not keep the router from stopping

    def __init__(self, options):
        self.options = options
        self.log_lock = threading.Lock()
        super().__init__((options.bind, options.port), RouterHandler)


def parse_options(argv):
    parser = argparse.ArgumentParser(description="Demo router: serves a plugin index and gzip plugins.")
    parser.add_argument("--bind", default=LOOPBACK, help="listen address; only 127.0.0.1 is allowed")
    parser.add_argument("--port", type=int, default=0, help="TCP port; 0 picks a free one (printed)")
    parser.add_argument("--folder", default=".", help="folder holding the .gz plugin files")
    parser.add_argument("--version", default="1.0", help="version word of every index line")
    parser.add_argument("--index-status", type=int, default=200,
                        help="HTTP status of /tarsel, e.g. 404 to make the index fail")
    parser.add_argument("--index-delay", type=float, default=0,
                        help="seconds to wait before answering the index request")
    parser.add_argument("--index-hold", help="answer the index request only once this file exists")
    parser.add_argument("--index-file", help="serve this file as the index instead of building it")
    parser.add_argument("--rate", type=int, default=0,
                        help="bytes per second for plugin downloads (0 = unthrottled)")
    parser.add_argument("--log", help="append each request line to this file")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    options = parser.parse_args(argv)
    if options.bind != LOOPBACK:
        parser.error("refusing to listen on %s: the demo router serves 127.0.0.1 only" % options.bind)
    if not 0 <= options.port <= 65535:
        parser.error("port out of range: %d" % options.port)
    if options.rate < 0:
        parser.error("rate must not be negative")
    try:
        http.HTTPStatus(options.index_status)
    except ValueError:
        parser.error("unknown HTTP status: %d" % options.index_status)
    return options


def main(argv):
    options = parse_options(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server = RouterServer(options)
    port = server.server_address[1]
    try:
        if options.port_file:
            temporary = options.port_file + ".tmp"
            with open(temporary, "w", encoding="ascii") as f:
                f.write("%d\n" % port)
            os.replace(temporary, options.port_file)  # readers never see half a number
        print("router listening on %s:%d serving %s" % (LOOPBACK, port, os.path.abspath(options.folder)),
              flush=True)
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
