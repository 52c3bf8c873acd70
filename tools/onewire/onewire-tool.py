#!/usr/bin/env python3
"""Stand-in for the device's 1-Wire programming command, for tests and the demo.

Reads the ring data from standard input (the unit code line, the focus close
value line, and the empty line that follows), checks it, and appends what it
would program to ONEWIRE_TOOL_DIR/ring.log together with its options. Exits 1
for bad input, and 2 when ONEWIRE_TOOL_DIR/fail exists, so both outcomes can be
tested; sleeps for ONEWIRE_TOOL_DIR/hang seconds first when that file exists,
and waits for a line on ONEWIRE_TOOL_DIR/gate when that FIFO exists, with its
pid in ONEWIRE_TOOL_DIR/waiting meanwhile (a test's sign that it runs: its
command line, which tests could match instead, reads empty while the
interpreter is started).
"""
import os
import sys
import time

UNITS = {"1": "metric", "2": "imperial", "3": "custom"}


def main():
    folder = os.environ.get("ONEWIRE_TOOL_DIR", "/tmp/onewire")
    os.makedirs(folder, exist_ok=True)
    data = sys.stdin.buffer.read()
    hang = os.path.join(folder, "hang")
    if os.path.exists(hang):
        time.sleep(float(open(hang).read() or "60"))
    gate = os.path.join(folder, "gate")
    if os.path.exists(gate):
        waiting = os.path.join(folder, "waiting")
        with open(waiting + ".new", "w") as note:
            note.write(str(os.getpid()))
        os.replace(waiting + ".new", waiting)
        with open(gate) as opened:
            opened.readline()
        os.remove(waiting)
    with open(os.path.join(folder, "ring.log"), "ab") as log:
        log.write(b"args: " + " ".join(sys.argv[1:]).encode() + b"\n")
        log.write(b"input: " + repr(data).encode() + b"\n")
    lines = data.split(b"\n")
    if len(lines) < 3 or lines[0].decode(errors="replace") not in UNITS:
        print("onewire-tool: unreadable ring data", file=sys.stderr)
        return 1
    if os.path.exists(os.path.join(folder, "fail")):
        print("onewire-tool: the ring did not answer", file=sys.stderr)
        return 2
    print(f"onewire-tool: ring programmed ({UNITS[lines[0].decode()]}, close focus {lines[1].decode(errors='replace')})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
