"""A line that drops, as school Wi-Fi does, between clients and a server on 127.0.0.1.

Relays TCP from --listen to --to. Counts the bytes the server sends over all connections, and
resets (RST, by closing with SO_LINGER 0) the connection that carries each --reset-every'th
byte; at the first reset the line is down for --down seconds: its listening socket is closed,
so new connections are refused. Stops by itself after --lifetime seconds, or on SIGTERM, and
then prints what it did as one line: connections=… resets=… bytes=…
"""

import argparse
import asyncio
import signal
import socket
import struct

CHUNK = 256 * 1024


class Line:
    def __init__(self, args):
        self.args = args
        self.sent = 0  # server to client, over all connections
        self.next_reset = args.reset_every
        self.connections = 0
        self.resets = 0
        self.went_down = False
        self.server = None
        self.stopped = asyncio.Event()

    async def listen(self):
        self.server = await asyncio.start_server(self.serve, "127.0.0.1", self.args.listen,
                                                 reuse_address=True)

    async def down(self):
        self.server.close()
        await asyncio.sleep(self.args.down)
        if not self.stopped.is_set():
            await self.listen()

    async def serve(self, client_reader, client_writer):
        self.connections += 1
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1",
                                                                         self.args.to)
        except OSError:
            reset(client_writer)
            return
        upstream = asyncio.create_task(pump(client_reader, server_writer))
        try:
            while True:
                data = await server_reader.read(CHUNK)
                if not data:
                    break
                if self.sent + len(data) >= self.next_reset:
                    # Only the bytes up to the mark pass; the rest die with the connection.
                    client_writer.write(data[:self.next_reset - self.sent])
                    self.sent = self.next_reset
                    self.next_reset += self.args.reset_every
                    self.resets += 1
                    reset(client_writer)
                    if not self.went_down:
                        self.went_down = True
                        asyncio.create_task(self.down())
                    break
                self.sent += len(data)
                client_writer.write(data)
                await client_writer.drain()
        except (ConnectionError, OSError):
            pass
        finally:
            upstream.cancel()
            server_writer.close()
            if not client_writer.is_closing():
                client_writer.close()


def reset(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    writer.transport.abort()


async def pump(reader, writer):
    try:
        while data := await reader.read(CHUNK):
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--reset-every", type=int, default=40_000_000)
    parser.add_argument("--down", type=float, default=3.0)
    parser.add_argument("--lifetime", type=float, default=300.0)
    args = parser.parse_args()
    line = Line(args)
    await line.listen()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, line.stopped.set)
    try:
        await asyncio.wait_for(line.stopped.wait(), args.lifetime)
    except asyncio.TimeoutError:
        pass
    line.stopped.set()
    line.server.close()
    print(f"connections={line.connections} resets={line.resets} bytes={line.sent}", flush=True)


if __name__ == "__main__":
    asyncio.run(main())
