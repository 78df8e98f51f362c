"""The HTTP API against hostile web pages and clients, on the real program.
Usage: hostile_test.py QUELLPOST_BINARY [unittest args]"""
import os
import re
import smtplib
import socket
import struct
import sys
import time
import unittest
from email.message import EmailMessage

from fixture import Quellpost

BINARY = None
BUDGET = 64 << 20
OTHER_PAGE = "http://127.0.0.1:9"  # a page served from another loopback port
GRANTED = "http://127.0.0.1:7"     # the origin --cors names
WEBSOCKET = {"Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
             "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="}


def request_bytes(method, path, headers, version="1.1"):
    return (f"{method} {path} HTTP/{version}\r\n" + "".join(f"{k}: {v}\r\n" for k, v in headers.items())
            + "\r\n").encode()


def converse(port, data, deadline=15.0):
    """Sends data and reads until the server closes; raises socket.timeout if it does not."""
    with socket.create_connection(("127.0.0.1", port), timeout=deadline) as s:
        s.sendall(data)
        received = b""
        while chunk := s.recv(65536):
            received += chunk
        return received


def ask(port, method, path, headers):
    """Status and header fields (lower-case names) of one answer; the connection closes after."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(request_bytes(method, path, {"Host": f"127.0.0.1:{port}", **headers}))
        received = b""
        while b"\r\n\r\n" not in received and (chunk := s.recv(65536)):
            received += chunk
    lines = received.split(b"\r\n\r\n")[0].decode().split("\r\n")
    return int(lines[0].split()[1]), {k.lower(): v.strip() for k, _, v in (l.partition(":") for l in lines[1:])}


class HostileTest(unittest.TestCase):
    def setUp(self):
        self.server = Quellpost(BINARY, "--max-memory", "64M", "--cors", GRANTED, "--http-host", "dev.box")
        self.port = self.server.http_port

    def tearDown(self):
        code, stderr = self.server.stop()
        self.assertEqual(code, 0, stderr)

    def answers_promptly(self):
        started = time.monotonic()
        self.assertEqual(self.server.request("/api/v1/info", timeout=5)[0], 200)
        self.assertLess(time.monotonic() - started, 2)

    def test_web_pages_cannot_reach_the_mail(self):
        m = EmailMessage()
        m["From"], m["To"], m["Subject"] = "a@example.com", "b@example.com", "Parts"
        m.set_content("text")
        m.add_attachment("<script>alert(1)</script>", subtype="html", filename="page.html")
        m.add_attachment(b"\x89PNG\r\n\x1a\n", maintype="image", subtype="png", filename="dot.png")
        self.server.send(m)
        own, p = f"http://127.0.0.1:{self.port}", self.port
        part = f"/api/v1/message/latest/part/"
        cases = [  # (method, path, header fields, status, fields the answer must carry (None: must lack))
            ("GET", "/api/v1/messages", {"Host": f"evil.example:{p}"}, 421, {}),
            ("GET", "/api/v1/messages", {"Host": f"localhost:{p}"}, 200, {}),
            ("GET", "/api/v1/messages", {"Host": f"[::1]:{p}"}, 200, {}),
            ("GET", "/api/v1/messages", {"Host": f"dev.box:{p}"}, 200, {}),
            ("DELETE", "/api/v1/messages", {"Origin": OTHER_PAGE, "Sec-Fetch-Site": "same-site"}, 403, {}),
            ("DELETE", "/api/v1/search?query=parts", {"Sec-Fetch-Site": "cross-site"}, 403, {}),
            ("GET", "/api/v1/messages", {"Origin": OTHER_PAGE}, 200, {"access-control-allow-origin": None}),
            ("GET", "/api/v1/messages", {"Origin": GRANTED}, 200, {"access-control-allow-origin": GRANTED}),
            ("OPTIONS", "/api/v1/messages", {"Origin": GRANTED, "Access-Control-Request-Method": "DELETE"}, 204,
             {"access-control-allow-origin": GRANTED, "access-control-allow-methods": "GET, POST, PUT, DELETE"}),
            ("OPTIONS", "/api/v1/messages", {"Origin": OTHER_PAGE, "Access-Control-Request-Method": "DELETE"}, 405,
             {"access-control-allow-origin": None}),
            ("GET", "/api/events", {**WEBSOCKET, "Origin": OTHER_PAGE}, 403, {}),
            ("GET", "/api/events", {**WEBSOCKET, "Origin": own}, 101,
             {"sec-websocket-accept": "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="}),
            ("GET", part + "2", {}, 200, {"content-type": "text/html", "content-security-policy": "sandbox",
                                          "x-content-type-options": "nosniff",
                                          "content-disposition": "attachment; filename=\"page.html\"; "
                                                                 "filename*=UTF-8''page.html"}),
            ("GET", part + "3", {}, 200, {"content-type": "image/png", "content-disposition": "inline; filename=\"dot.png\"; "
                                                                                              "filename*=UTF-8''dot.png"}),
            ("GET", "/api/v1/message/latest/raw", {}, 200, {"content-security-policy": "sandbox",
                                                            "content-disposition": "attachment; filename=\"1.eml\"; "
                                                                                   "filename*=UTF-8''1.eml"}),
        ]
        for method, path, headers, status, fields in cases:
            with self.subTest(method=method, path=path, headers=headers):
                got, answer = ask(self.port, method, path, headers)
                self.assertEqual(got, status)
                for name, value in fields.items():
                    self.assertEqual(answer.get(name), value, name)
        self.assertEqual(ask(self.port, "DELETE", "/api/v1/messages", {"Origin": own})[0], 200)
        self.assertEqual(self.server.request("/api/v1/info")[2].count(b'"Messages":0'), 1)

    def test_connections_close_when_asked_and_time_out(self):
        host = {"Host": f"127.0.0.1:{self.port}"}
        info = request_bytes("GET", "/api/v1/info", host)
        cases = [  # (what is sent, answers expected before the server closes)
            (request_bytes("GET", "/api/v1/info", {**host, "Connection": "close"}), [b"200"]),
            (request_bytes("GET", "/api/v1/info", {}, "1.0"), [b"200"]),
            (info + info + request_bytes("GET", "/api/nowhere", {**host, "Connection": "close"}), [b"200", b"200", b"404"]),
            (request_bytes("POST", "/api/v1/messages", {**host, "Transfer-Encoding": "chunked"}) + b"5\r\n", [b"411"]),
            (b"GET /api/v1/info HTTP/1.1\r\nHost: 127.0.0.1", [b"408"]),  # then silence: the header time-out
        ]
        for sent, statuses in cases:
            with self.subTest(sent=sent[:60]):
                answers = converse(self.port, sent)
                self.assertEqual(re.findall(rb"HTTP/1\.1 (\d+) ", answers), statuses)
        # Idle clients past the cap make room for a new one.
        idle = [socket.create_connection(("127.0.0.1", self.port)) for _ in range(300)]
        self.answers_promptly()
        for s in idle:
            s.close()

    def test_memory_stays_bounded_under_attack(self):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=60) as smtp:
            smtp.sendmail("a@x", ["b@x"], b"Subject: big\r\n\r\n" + (b"x" * 998 + b"\r\n") * 29000)
        host = {"Host": f"127.0.0.1:{self.port}"}
        reader = socket.create_connection(("127.0.0.1", self.port))  # asks for 30 copies and reads none
        reader.sendall(request_bytes("GET", "/api/v1/message/latest/raw", host) * 30)
        self.answers_promptly()
        reader.close()

        bodies = []  # half-sent bodies within the bound, more than the cap of connections
        for _ in range(300):
            s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
            try:
                s.sendall(request_bytes("DELETE", "/api/v1/messages", {**host, "Content-Length": "1000000"}) + b"x" * 500000)
            except OSError:
                pass  # refused and closed
            bodies.append(s)
        self.answers_promptly()
        for s in bodies:
            s.close()

        def websocket():
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.settimeout(10)
            s.connect(("127.0.0.1", self.port))
            s.sendall(request_bytes("GET", "/api/events", {**host, **WEBSOCKET}))
            self.assertIn(b" 101 ", s.recv(4096))
            return s

        sleepers = [websocket() for _ in range(64)]  # never read
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=60) as smtp:
            for i in range(600):
                smtp.sendmail("a@x", ["b@x"], f"Subject: {i} {'s' * 900}\r\n\r\nbody\r\n")
        late = websocket()  # the sleepers were closed: there is room again
        late.sendall(b"\x82\xff" + struct.pack(">Q", 300 << 20) + b"mask" + b"x" * 65536)  # one 300 MiB message
        self.assertTrue(late.recv(64).startswith(b"\x88\x02\x03\xf1"))  # closed: too big (1009)
        flood = websocket()
        flood.settimeout(2)
        sent = 0
        with self.assertRaises(socket.timeout):  # the server stops reading a client that does not read
            while sent < 1 << 30:
                sent += flood.send(b"\x89\x80mask" * 4096)
        self.assertLess(sent, 64 << 20)
        self.answers_promptly()
        for s in sleepers + [late, flood]:
            s.close()
        if os.environ.get("QP_MEMORY_ROWS") == "1":
            self.assertLessEqual(self.server.peak_rss(), BUDGET + (64 << 20))


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
