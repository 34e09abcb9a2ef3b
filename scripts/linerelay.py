#!/usr/bin/env python3
"""A long line on loopback: a relay in front of a server that delays every byte by a one-way
delay and shares one rate per direction among all connections, as a home line far from the
server would (the kernel's netem is not available everywhere).

    scripts/linerelay.py --mbit 50 --rtt-ms 150 LISTEN_PORT=HOST:PORT [...]

Each direction is one queue: bytes leave it in the order they entered, at the rate, and
arrive the one-way delay later. A queue holding more than one round trip's worth of bytes
stops reading from its senders until it drained to half, so TCP's own flow control holds
the sender back as a full line would. A new connection's first bytes reach the server one
round trip late, the time a TCP handshake takes; TLS handshakes pass as the bytes they are.
Prints "ready" once it listens, then "open N" whenever a connection opens (N: the client
connections open now, for counting a client's connections); runs until killed."""

import argparse
import asyncio
import sys


class Direction:
    """One direction of the line, shared by every connection."""

    def __init__(self, rate, delay):
        self.rate = rate
        self.delay = delay
        self.free_at = 0.0  # when the queue has sent everything that entered it
        self.limit = max(64 * 1024, rate * 2 * delay)
        self.senders = set()
        self.paused = False

    def send(self, receiver, data, not_before=0.0):
        loop = asyncio.get_running_loop()
        now = loop.time()
        self.free_at = max(now, self.free_at, not_before) + len(data) / self.rate
        loop.call_at(self.free_at + self.delay, receiver.deliver, data)
        self.hold_senders(now)

    def close_after(self, receiver):
        """The receiver's end closes once everything sent before arrived."""
        loop = asyncio.get_running_loop()
        loop.call_at(max(loop.time(), self.free_at) + self.delay, receiver.close)

    def queued(self, now):
        return max(0.0, self.free_at - now) * self.rate

    def hold_senders(self, now):
        if self.paused or self.queued(now) <= self.limit:
            return
        self.paused = True
        for sender in self.senders:
            sender.pause()
        drained = self.free_at - self.limit / 2 / self.rate
        asyncio.get_running_loop().call_at(drained, self.release_senders)

    def release_senders(self):
        self.paused = False
        for sender in self.senders:
            sender.resume()
        self.hold_senders(asyncio.get_running_loop().time())


class End(asyncio.Protocol):
    """One socket of a relayed connection: what it reads goes into its direction of the line
    towards the other end; what the line delivers to it, it writes."""

    def __init__(self, direction, not_before=0.0, counter=None):
        self.direction = direction
        self.counter = counter
        self.not_before = not_before
        self.transport = None
        self.peer = None
        self.pending = []  # delivered before the socket was connected
        self.closing = False

    def connection_made(self, transport):
        self.transport = transport
        if self.counter:
            self.counter.opened()
        self.direction.senders.add(self)
        if self.direction.paused:
            self.pause()
        for data in self.pending:
            transport.write(data)
        self.pending = []
        if self.closing:
            transport.close()

    def data_received(self, data):
        self.direction.send(self.peer, data, self.not_before)

    def eof_received(self):
        self.direction.close_after(self.peer)

    def connection_lost(self, exc):
        self.direction.senders.discard(self)
        if self.counter:
            self.counter.closed()
        if self.peer and not self.peer.closing:
            self.direction.close_after(self.peer)

    def deliver(self, data):
        if self.transport is None:
            self.pending.append(data)
        elif not self.transport.is_closing():
            self.transport.write(data)

    def close(self):
        self.closing = True
        if self.transport is not None:
            self.transport.close()

    def pause(self):
        if self.transport is not None and not self.transport.is_closing():
            self.transport.pause_reading()

    def resume(self):
        if self.transport is not None and not self.transport.is_closing():
            self.transport.resume_reading()


class Counter:
    def __init__(self):
        self.open = 0

    def opened(self):
        self.open += 1
        print(f"open {self.open}", flush=True)

    def closed(self):
        self.open -= 1


async def relay(listen_port, host, port, upstream, downstream, counter):
    loop = asyncio.get_running_loop()

    def accepted():
        # The client's side of the connection: its bytes go upstream, a round trip late at first.
        client = End(upstream, not_before=loop.time() + 2 * upstream.delay, counter=counter)
        server = End(downstream)
        client.peer, server.peer = server, client

        async def connect():
            try:
                await loop.create_connection(lambda: server, host, port)
            except OSError:
                client.close()

        loop.create_task(connect())
        return client

    await loop.create_server(accepted, "127.0.0.1", listen_port, reuse_address=True)


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mbit", type=float, required=True, help="rate of each direction, Mbit/s")
    parser.add_argument("--rtt-ms", type=float, required=True, help="round trip time, ms")
    parser.add_argument("pairs", nargs="+", metavar="LISTEN_PORT=HOST:PORT")
    args = parser.parse_args()
    rate = args.mbit * 1e6 / 8
    delay = args.rtt_ms / 2000
    upstream, downstream = Direction(rate, delay), Direction(rate, delay)
    counter = Counter()
    for pair in args.pairs:
        listen, target = pair.split("=")
        host, port = target.rsplit(":", 1)
        await relay(int(listen), host, int(port), upstream, downstream, counter)
    print("ready", flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
