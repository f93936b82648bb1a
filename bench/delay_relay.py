#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that holds every byte for a fixed time in each direction.

Stands in for a network delay where the kernel has no netem queueing discipline: bytes that
arrive at one side are written to the other side DELAY_MS later, in order, so a request and
its answer cost two delays (one round trip). Used by bench/net_latency.sh only.

Usage: delay_relay.py LISTEN_PORT TARGET_PORT DELAY_MS [PORT_FILE]
LISTEN_PORT 0 picks a free port; the port is written to PORT_FILE when given.
"""
import asyncio
import os
import sys
import time


async def pump(reader, writer, delay):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                writer.close()
                return
            writer.write(data)
            await writer.drain()

    sender = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(4096)
            queue.put_nowait((time.monotonic() + delay, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, asyncio.CancelledError):
        sender.cancel()
        writer.close()


async def main():
    listen_port, target_port, delay_ms = (int(a) for a in sys.argv[1:4])
    delay = delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(serve, "127.0.0.1", listen_port)
    if len(sys.argv) > 4:
        port = server.sockets[0].getsockname()[1]
        with open(sys.argv[4] + ".tmp", "w") as f:
            f.write(str(port))
        os.rename(sys.argv[4] + ".tmp", sys.argv[4])
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
