#!/usr/bin/env python3
"""Holds the broker's gate (the semaphore its clients wait on to connect)
until SIGTERM, so that a starting service waits there; prints "held" then."""
import ctypes
import signal
import sys

libc = ctypes.CDLL(None, use_errno=True)
libc.sem_open.restype = ctypes.c_void_p
libc.sem_open.argtypes = [ctypes.c_char_p, ctypes.c_int]
libc.sem_wait.argtypes = libc.sem_post.argtypes = [ctypes.c_void_p]

gate = libc.sem_open(b"/message-broker-ready", 0)
if gate in (None, ctypes.c_void_p(-1).value) or libc.sem_wait(gate) != 0:
    sys.exit(f"hold-gate: {ctypes.get_errno()}")
signal.signal(signal.SIGTERM, lambda *_: sys.exit(libc.sem_post(gate)))
print("held", flush=True)
while True:
    signal.pause()
