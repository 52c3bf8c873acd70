"""What the update.cgi benches share: a change poster that writes an int
variable straight into its shared-memory area and posts its event to the
broker, and an update.cgi client on a kept HTTP connection that may follow
the change points."""
import http.client
import math
import mmap
import socket
import struct
import sys

BROKER_SOCKET = "/var/volatile/message-broker.socket"
AREA_HEADER = 4  # the 32-bit size word before an area's payload
ANSWER_TIMEOUT = 2.0


def add_change_arguments(parser):
    parser.add_argument("--port", type=int, required=True, help="the front web server's port")
    parser.add_argument("--area", required=True, help="the area file, e.g. /dev/shm/MemDynamic")
    parser.add_argument("--offset", type=int, required=True, help="the variable's offset in the payload")
    parser.add_argument("--event", type=int, required=True, help="the variable's event number")
    parser.add_argument("--name", required=True, help="the variable's name (an int ranging over -199..0)")


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
    """One update.cgi request at a time on a kept HTTP connection. With a
    token it asks for the changes after it and keeps the newest token."""

    def __init__(self, port, token=None, timeout=ANSWER_TIMEOUT):
        self.port = port
        self.token = token
        self.timeout = timeout
        self.connection = None

    def send(self):
        if self.connection is None:
            self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=self.timeout)
        query = "" if self.token is None else f"?since={self.token}"
        self.connection.request("GET", "/api/v1/update.cgi" + query)

    def receive(self):
        """The answer's body, or None when none came in time."""
        try:
            response = self.connection.getresponse()
            body = response.read().decode()
            if response.status != 200:
                sys.exit(f"update.cgi answered {response.status}: {body[:200]}")
            if self.token is not None:
                self.token = response.getheader("X-Change-Sequence")
            return body
        except (socket.timeout, TimeoutError):
            self.connection.close()
            self.connection = None
            return None


def current_token(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=ANSWER_TIMEOUT * 5)
    connection.request("GET", "/api/v1/all.cgi")
    response = connection.getresponse()
    response.read()
    return response.getheader("X-Change-Sequence")


def carries(body, name, value):
    return f'"{name}" : ' in body and f'"value":"{value}"' in body


def percentile(sorted_values, fraction):
    return sorted_values[max(0, math.ceil(fraction * len(sorted_values)) - 1)]
