#!/usr/bin/env python3
"""A storm of changes against a client that follows update.cgi, for
bench/update-push.

Posts changes of one int variable at a steady rate for a while, from a thread
of its own, while a client that follows the change points asks again as soon
as each answer is in. Prints "answers seconds final" : the answers the client
got during the storm, the storm's length, and 1 when the storm's last value
reached the client afterwards (0 when it did not come within two seconds).
"""
import argparse
import threading
import time

from update_clients import ChangePoster, HeldUpdate, add_change_arguments, carries, current_token

FINAL_WAIT = 2.0
# The storm's last value, which no other change of it writes.
FINAL_VALUE = -199


def storm(poster, rate, seconds, done):
    count = int(rate * seconds)
    start = time.perf_counter()
    for change in range(count):
        # Paced against the start, so a late step does not slow the rest.
        time.sleep(max(0.0, start + change / rate - time.perf_counter()))
        poster.post(FINAL_VALUE if change == count - 1 else -(change % 199))
    done.set()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add_change_arguments(parser)
    parser.add_argument("--rate", type=float, default=1000, help="changes a second")
    parser.add_argument("--seconds", type=float, default=3)
    arguments = parser.parse_args()

    poster = ChangePoster(arguments.area, arguments.offset, arguments.event)
    update = HeldUpdate(arguments.port, current_token(arguments.port))
    done = threading.Event()
    storming = threading.Thread(target=storm, args=(poster, arguments.rate, arguments.seconds, done))
    start = time.perf_counter()
    storming.start()
    answers = 0
    arrived = False
    while not done.is_set():
        update.send()
        body = update.receive()
        if body is not None and not done.is_set():
            answers += 1
        arrived = body is not None and carries(body, arguments.name, FINAL_VALUE)
    elapsed = time.perf_counter() - start
    storming.join()
    deadline = time.perf_counter() + FINAL_WAIT
    while not arrived and time.perf_counter() < deadline:
        update.send()
        body = update.receive()
        arrived = body is not None and carries(body, arguments.name, FINAL_VALUE)
    print(f"{answers} {elapsed:.2f} {int(arrived)}")


if __name__ == "__main__":
    main()
