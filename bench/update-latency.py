#!/usr/bin/env python3
"""Latency from a change posted to the broker to the held update.cgi answer,
for bench/api.

Holds one update.cgi request through the front web server, writes a new value
of one int variable into its shared-memory area, posts the variable's event to
the broker and times until the answer carrying that value has arrived; then
holds the next request. Prints "p50 p99 max missed" (milliseconds, and the
changes whose answer never came).

A short pause before each change gives the held request time to reach the
service: a change that finds nothing held is consumed unseen. The service
answers at its periodic step, at most once per 100 ms, and its loop waits up
to 100 ms for the next descriptor event; with nothing else going on, a change
that comes within a period of the last step is answered when that wait ends,
about 100 ms after the change, which is what this client sees.
"""
import argparse
import http.client
import math
import mmap
import socket
import struct
import sys
import time

BROKER_SOCKET = "/var/volatile/message-broker.socket"
AREA_HEADER = 4  # the 32-bit size word before an area's payload
HOLD_PAUSE = 0.020
ANSWER_TIMEOUT = 2.0


class ChangePoster:
    """Writes the variable straight into its area and posts its event record."""

    def __init__(self, area, offset, event):
        with open(area, "r+b") as file:
            self.memory = mmap.mmap(file.fileno(), 0)
        self.position = AREA_HEADER + offset
        self.record = struct.pack("<III", event, 0, 0)
        self.broker = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.broker.connect(BROKER_SOCKET)

    def post(self, value):
        struct.pack_into("<i", self.memory, self.position, value)
        self.broker.sendall(self.record)


class HeldUpdate:
    """One update.cgi request at a time on a kept HTTP connection."""

    def __init__(self, port):
        self.port = port
        self.connection = None

    def send(self):
        if self.connection is None:
            self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=ANSWER_TIMEOUT)
        self.connection.request("GET", "/api/v1/update.cgi")

    def receive(self):
        """The answer's body, or None when none came in time."""
        try:
            response = self.connection.getresponse()
            body = response.read().decode()
            if response.status != 200:
                sys.exit(f"update.cgi answered {response.status}: {body[:200]}")
            return body
        except (socket.timeout, TimeoutError):
            self.connection.close()
            self.connection = None
            return None


def percentile(sorted_values, fraction):
    return sorted_values[max(0, math.ceil(fraction * len(sorted_values)) - 1)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True, help="the front web server's port")
    parser.add_argument("--area", required=True, help="the area file, e.g. /dev/shm/MemDynamic")
    parser.add_argument("--offset", type=int, required=True, help="the variable's offset in the payload")
    parser.add_argument("--event", type=int, required=True, help="the variable's event number")
    parser.add_argument("--name", required=True, help="the variable's name (an int ranging over -199..0)")
    parser.add_argument("--changes", type=int, default=1000)
    arguments = parser.parse_args()

    poster = ChangePoster(arguments.area, arguments.offset, arguments.event)
    update = HeldUpdate(arguments.port)
    latencies = []
    missed = 0
    for change in range(arguments.changes):
        # Each value differs from the one before, so the answer proves it
        # carries this change; all lie within the variable's range.
        value = -(change % 200)
        update.send()
        time.sleep(HOLD_PAUSE)
        start = time.perf_counter()
        poster.post(value)
        body = update.receive()
        if body is None:
            missed += 1
            continue
        latencies.append(time.perf_counter() - start)
        if f'"{arguments.name}" : ' not in body or f'"value":"{value}"' not in body:
            sys.exit(f"update.cgi answer without {arguments.name} = {value}: {body[:300]}")
    if not latencies:
        sys.exit("no change was answered")
    latencies.sort()
    in_ms = [1000 * percentile(latencies, fraction) for fraction in (0.5, 0.99, 1.0)]
    print(f"{in_ms[0]:.1f} {in_ms[1]:.1f} {in_ms[2]:.1f} {missed}")


if __name__ == "__main__":
    main()
