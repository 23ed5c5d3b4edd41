#!/usr/bin/env python3
"""An emulated slow link for the benchmark, on 127.0.0.1: a proxy that adds a round-trip time and
one bottleneck that all its connections share, in front of a router that the benchmark names. It
runs outside Wine, like a real link.

- A new connection carries data only one round trip after it was opened (the handshake), and each
  piece then takes half a round trip in each direction.
- The router's bytes towards the client pass one bottleneck of RATE bytes per second, which the
  connections share in turn.

usage: slow_link.py PORT_FILE   (writes "LINK_PORT CONTROL_PORT" there once listening)
On the control port, a line "upstream PORT [RTT_MS BITS_PER_SECOND]" names the router's port on
127.0.0.1, and the link's round trip and rate for the connections opened from then on (by default
100 ms and 16 Mbit/s); the reply is "ok". Stops by itself after 15 minutes.
"""
import asyncio
import collections
import sys

RTT = 0.100  # seconds
RATE = 16_000_000 / 8  # bytes per second, shared
PIECE = 65536
SHARE = 4096  # the link takes turns among the connections in pieces of this size
LIFETIME = 900  # seconds

upstream_port = None


async def sleep_until(loop, at):
    delay = at - loop.time()
    if delay > 0:
        await asyncio.sleep(delay)


async def towards_router(loop, opened, reader, writer):
    rtt = RTT
    try:
        while True:
            data = await reader.read(PIECE)
            if not data:
                break
            await sleep_until(loop, max(opened + rtt, loop.time()) + rtt / 2)
            writer.write(data)
        await sleep_until(loop, loop.time() + rtt / 2)
        writer.write_eof()
    except (OSError, RuntimeError):
        pass


class Bottleneck:
    """Sends one piece at a time at RATE, taking the connections that have bytes in turn, as a
    router's queue shares its link among TCP connections."""

    def __init__(self, loop):
        self.loop = loop
        self.waiting = []  # connections with pending pieces, in turn order
        self.wake = asyncio.Event()
        loop.create_task(self.run())

    def offer(self, connection):
        if connection not in self.waiting:
            self.waiting.append(connection)
        self.wake.set()

    async def run(self):
        free = self.loop.time()
        while True:
            if not self.waiting:
                self.wake.clear()
                await self.wake.wait()
                free = max(free, self.loop.time())  # idle until now
            connection = self.waiting.pop(0)
            data = connection.pending.popleft()
            if connection.pending:
                self.waiting.append(connection)
            # While busy the link keeps its own schedule: a late wake-up here loses no bandwidth.
            free += len(data) / RATE
            connection.deliveries.put_nowait((free + RTT / 2, data))
            await sleep_until(self.loop, free)


class Connection:
    def __init__(self):
        self.pending = collections.deque()
        self.deliveries = asyncio.Queue()


async def towards_client(loop, reader, writer):
    connection = Connection()

    async def deliver():
        while True:
            at, data = await connection.deliveries.get()
            await sleep_until(loop, at)
            if data is None:
                writer.write_eof()  # the router has closed: so does the link, once all has arrived
                break
            writer.write(data)
            await writer.drain()

    sender = loop.create_task(deliver())
    try:
        while True:
            data = await reader.read(PIECE)
            if not data:
                break
            for at in range(0, len(data), SHARE):
                connection.pending.append(data[at:at + SHARE])
            bottleneck.offer(connection)
        # The end follows the last piece through the link.
        while connection.pending or connection in bottleneck.waiting:
            await asyncio.sleep(0.002)
        connection.deliveries.put_nowait((loop.time() + RTT / 2, None))
        await sender
    except (OSError, RuntimeError):
        sender.cancel()


async def on_client(client_reader, client_writer):
    loop = asyncio.get_running_loop()
    opened = loop.time()
    try:
        router_reader, router_writer = await asyncio.open_connection("127.0.0.1", upstream_port)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(towards_router(loop, opened, client_reader, router_writer),
                         towards_client(loop, router_reader, client_writer))
    for w in (client_writer, router_writer):
        try:
            w.close()
        except OSError:
            pass


async def on_control(reader, writer):
    global upstream_port, RTT, RATE
    line = (await reader.readline()).decode().split()
    if len(line) in (2, 4) and line[0] == "upstream":
        upstream_port = int(line[1])
        RTT, RATE = (int(line[2]) / 1000, int(line[3]) / 8) if len(line) == 4 else (0.100, 16_000_000 / 8)
        writer.write(b"ok\n")
    else:
        writer.write(b"?\n")
    await writer.drain()
    writer.close()


async def main():
    global bottleneck
    bottleneck = Bottleneck(asyncio.get_running_loop())
    link = await asyncio.start_server(on_client, "127.0.0.1", 0)
    control = await asyncio.start_server(on_control, "127.0.0.1", 0)
    with open(sys.argv[1], "w") as f:
        f.write("%d %d\n" % (link.sockets[0].getsockname()[1], control.sockets[0].getsockname()[1]))
    await asyncio.sleep(LIFETIME)


if __name__ == "__main__":
    asyncio.run(main())
