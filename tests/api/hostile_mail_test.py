"""Mail written to cost the API dear, against the real program: many parts, many addresses, many
waiting searches. Each row passes when the answer is bounded, correct and comes in time, and every
message answered 250 reads back byte for byte. Usage: hostile_mail_test.py QUELLPOST_BINARY"""
import base64
import hashlib
import json
import os
import smtplib
import socket
import sys
import unittest

from fixture import Quellpost, Schemas

BINARY = None
MiB = 1024 * 1024
SANITIZED = os.environ.get("QP_SANITIZED") == "1"
# Answers that once took minutes must come within this (seconds); in Release they take a fraction.
IN_TIME = 80 if SANITIZED else 20
LETTERS = "CDEFGHIJKLMNOPQRSTUVWXYZ"


def many_parts(count, attachment=True):
    part = ("--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=f{}.bin\r\n\r\nAAE{}\r\n") if attachment else "--b\r\n\r\n{}{}\r\n"
    return ("From: a@example.com\r\nTo: b@example.com\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
            + "".join(part.format(i, LETTERS[i % 24]) for i in range(count)) + "--b--\r\n")


def quoted_printable(i):
    return (f"From: s{i}@example.com\r\nTo: r@example.org\r\nSubject: menu {i}\r\n"
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
            f"Caf=C3=A9 au lait, number {i}\r\n")


class HostileMailTest(unittest.TestCase):
    def start(self, *arguments):
        self.server = Quellpost(BINARY, *arguments)
        self.addCleanup(lambda: self.assertEqual(self.server.stop()[0], 0))
        self.schemas = Schemas()

    def deliver(self, bodies):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=IN_TIME) as smtp:
            for body in bodies:
                self.assertEqual(smtp.sendmail("a@example.com", ["b@example.com"], body), {})

    def get(self, path):
        status, _, body = self.server.request(path, timeout=IN_TIME)
        self.assertEqual(status, 200, body[:200])
        return json.loads(body)

    def test_summaries_of_many_parts_come_from_one_parse(self):
        self.start()
        cases = [  # (message, attachments listed, text starts with)
            (many_parts(1500), 1500, ""),       # 207 KiB: once a dozen seconds
            (many_parts(5000, False), 4999, "0C"),  # once minutes
            (many_parts(10001, False), 0, "--b"),   # beyond the parts a message is taken apart into
        ]
        for message, listed, text in cases:
            with self.subTest(size=len(message)):
                self.deliver([message])
                summary = self.get("/api/v1/message/latest")
                self.schemas.check(summary, "Message")
                self.assertEqual(len(summary["Attachments"]), listed)
                self.assertTrue(summary["Text"].startswith(text), summary["Text"][:40])
                self.assertEqual(self.server.request("/api/v1/message/latest/raw")[2], message.encode())
        last = self.get("/api/v1/messages?limit=3")["messages"][2]  # the 1,500 attachments
        attachment = self.get(f"/api/v1/message/{last['ID']}")["Attachments"][1499]
        content = base64.b64decode("AAE" + LETTERS[1499 % 24])
        self.assertEqual(self.server.request(f"/api/v1/message/{last['ID']}/part/{attachment['PartID']}")[2], content)
        self.assertEqual(attachment["Checksums"]["SHA256"], hashlib.sha256(content).hexdigest())

    def test_listing_a_quarter_million_addresses_stays_within_the_budget(self):
        self.start("--max-memory", "64M")
        to = "To: " + ",".join(["a@b"] * 250000) + "\r\n"
        messages = [f"From: x@y\r\n{to}Subject: crowd {i}\r\n\r\nbody\r\n" for i in range(3)]
        self.deliver(messages)
        page = self.get("/api/v1/messages")
        self.schemas.check(page, "MessagesPage")
        self.assertEqual([(len(m["To"]), m["Omitted"]) for m in page["messages"]], [(100, {"To": 249900})] * 3)
        summary = self.get(f"/api/v1/message/{page['messages'][0]['ID']}")
        self.assertEqual((len(summary["To"]), summary["Omitted"]), (1000, {"To": 249000}))
        self.assertLessEqual(self.get("/api/v1/info")["RuntimeStats"]["Memory"], 64 * MiB)
        for item, message in zip(page["messages"], reversed(messages)):
            self.assertEqual(self.server.request(f"/api/v1/message/{item['ID']}/raw")[2], message.encode())
        if not SANITIZED:  # the sanitizer holds freed memory back
            self.assertLessEqual(self.server.peak_rss(), 64 * MiB + 64 * MiB)

    def test_waiting_searches_cost_an_arrival_one_match_each(self):
        self.start()
        self.deliver([quoted_printable(i) for i in range(2000)])
        # 256 waiters whose word matches every message (only once decoded): three of them two short
        # of their count, the others never reaching it.
        waiters = [socket.create_connection(("127.0.0.1", self.server.http_port), timeout=IN_TIME) for _ in range(256)]
        self.addCleanup(lambda: [w.close() for w in waiters])
        for i, waiter in enumerate(waiters):
            count = 2002 if i < 3 else 30000
            waiter.sendall(f"GET /api/wait?query=caf%C3%A9&count={count}&timeout=120 HTTP/1.1\r\n"
                           "Host: 127.0.0.1\r\n\r\n".encode())

        def unanswered(sockets):  # an answer would have been written before the last 250
            for waiter in sockets:
                waiter.setblocking(False)
                self.assertRaises(BlockingIOError, waiter.recv, 1)
                waiter.settimeout(IN_TIME)

        self.deliver([quoted_printable(2000)])
        unanswered(waiters)
        self.deliver([quoted_printable(2001)])
        for waiter in waiters[:3]:
            answer = b""
            while b'"messages_count"' not in answer:
                chunk = waiter.recv(65536)
                self.assertTrue(chunk, answer[:100])
                answer += chunk
            self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:100])
            self.assertIn(b'"messages_count":2002', answer)
        unanswered(waiters[3:])
        self.assertEqual(self.server.request("/api/v1/message/latest/raw")[2], quoted_printable(2001).encode())

if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
