#!/usr/bin/env python3
"""notify-listener.py SOCKET LOG: the service manager's end of a notification
socket ('@' names an abstract one). Appends each message to LOG with the
monotonic time, and for READY=1 whether port 9000 accepted a connection then."""
import socket
import sys
import time

name, log_path = sys.argv[1:]
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind("\0" + name[1:] if name.startswith("@") else name)
with open(log_path, "a", buffering=1) as log:
    log.write("listening\n")
    while True:
        text = listener.recv(256).decode()
        if text == "READY=1":
            with socket.socket() as probe:
                text += " port-open" if probe.connect_ex(("127.0.0.1", 9000)) == 0 else " port-closed"
        log.write(f"{time.monotonic():.3f} {text}\n")
