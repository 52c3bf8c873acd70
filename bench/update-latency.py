#!/usr/bin/env python3
"""Latency from a change posted to the broker to the held update.cgi answer,
for bench/api and bench/update-push.

Holds one update.cgi request through the front web server (with --since, one
that follows the change points), writes a new value of one int variable into
its shared-memory area, posts the variable's event to the broker and times
until the answer carrying that value has arrived; then holds the next
request. Prints "p50 p99 max missed" (milliseconds, and the changes whose
answer never came within --timeout). With --while, changes go on for as long
as the given process runs, however many that makes.

A short pause before each change gives the held request time to reach the
service: without --since, a change that finds nothing held is consumed
unseen. The pause also lets the 100 ms pace of the pushes pass, so each
change is timed as a lone change on an idle service.
"""
import argparse
import os
import sys
import time

from update_clients import ANSWER_TIMEOUT, ChangePoster, HeldUpdate, add_change_arguments, carries, current_token, percentile

HOLD_PAUSE = 0.120


def running(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add_change_arguments(parser)
    parser.add_argument("--changes", type=int, default=1000)
    parser.add_argument("--since", action="store_true", help="follow the change points")
    parser.add_argument("--while", dest="process", type=int, help="make changes while this process runs")
    parser.add_argument("--timeout", type=float, default=ANSWER_TIMEOUT, help="seconds to wait for an answer")
    arguments = parser.parse_args()

    poster = ChangePoster(arguments.area, arguments.offset, arguments.event)
    update = HeldUpdate(arguments.port, current_token(arguments.port) if arguments.since else None, arguments.timeout)
    latencies = []
    missed = 0
    change = 0
    # At least one change: a stalled service may have kept even the first one waiting.
    while change == 0 or (running(arguments.process) if arguments.process else change < arguments.changes):
        # Each value differs from the one before, so the answer proves it
        # carries this change; all lie within the variable's range.
        value = -(change % 200)
        change += 1
        update.send()
        time.sleep(HOLD_PAUSE)
        start = time.perf_counter()
        poster.post(value)
        body = update.receive()
        # Following the change points, an answer to another change made
        # meanwhile is followed by the one that carries this change.
        while arguments.since and body is not None and not carries(body, arguments.name, value):
            update.send()
            body = update.receive()
        if body is None:
            missed += 1
            continue
        latencies.append(time.perf_counter() - start)
        if not carries(body, arguments.name, value):
            sys.exit(f"update.cgi answer without {arguments.name} = {value}: {body[:300]}")
    if not latencies:
        sys.exit("no change was answered")
    latencies.sort()
    in_ms = [1000 * percentile(latencies, fraction) for fraction in (0.5, 0.99, 1.0)]
    print(f"{in_ms[0]:.1f} {in_ms[1]:.1f} {in_ms[2]:.1f} {missed}")


if __name__ == "__main__":
    main()
