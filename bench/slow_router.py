#!/usr/bin/env python3
"""A slow router for the benchmark, on 127.0.0.1: answers "/stall" after 10 seconds of silence, and
every other path with one gzip body at 200 KB/s, in 4 KB pieces on a fixed schedule. It runs
outside Wine, as a real router does, so that the CPU time the benchmark reads is the client's
alone. Stops by itself after 15 minutes.

usage: slow_router.py PORT_FILE   (the port is written there once listening)
"""
import gzip
import random
import socket
import sys
import threading
import time

RATE = 200_000  # bytes per second
PIECE = 4096
LIFETIME = 900  # seconds
STALL = 10  # seconds


def serve(client, response):
    with client:
        client.settimeout(60)
        request = b""
        while b"\r\n\r\n" not in request and b"\n\n" not in request:
            data = client.recv(4096)
            if not data:
                return
            request += data
        if request.startswith(b"GET /stall "):
            time.sleep(STALL)
            response = b"HTTP/1.0 200 OK\r\n\r\nlate"
        start = time.monotonic()
        try:
            for at in range(0, len(response), PIECE):
                delay = start + at / RATE - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                client.sendall(response[at:at + PIECE])
        except OSError:
            pass  # the client went away


def main():
    body = gzip.compress(random.Random(99).randbytes(2_000_000), mtime=0)
    response = b"HTTP/1.0 200 OK\r\n\r\n" + body
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(5)
    with open(sys.argv[1], "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    deadline = time.monotonic() + LIFETIME
    while time.monotonic() < deadline:
        try:
            client, _ = listener.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(client, response), daemon=True).start()


if __name__ == "__main__":
    main()
