"""Attacks on the SMTP side of the real program, run headless on loopback ports with a small byte
budget: one row each. A row passes when the program behaves soundly (refuses, closes, stays
bounded, answers in time), every message it answered 250 reads back byte for byte through the
HTTP API, and SIGTERM then ends it at once with exit code 0.

Usage: smtp_attacks_test.py QUELLPOST_BINARY [--sanitized] [unittest args]"""
import base64
import json
import os
import resource
import select
import signal
import smtplib
import socket
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

BINARY = None
SANITIZED = False  # AddressSanitizer keeps freed memory in quarantine: resident size says nothing
MiB = 1 << 20
DEADLINE = 30.0


class Program:
    """The program on free loopback ports; its log lines are collected unless the reader stalls."""

    def __init__(self, args, descriptors=None, read_log=True):
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))) if descriptors else None
        self.process = subprocess.Popen([BINARY, "--headless", "--smtp", "127.0.0.1:0", "--http", "127.0.0.1:0", *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=limit)
        self.lines, self.pending, self.news = [], b"", threading.Condition()
        ports, deadline = {}, time.monotonic() + DEADLINE
        while len(ports) < 2:
            assert time.monotonic() < deadline and self.read_log(deadline), "no ports reported"
            for line in self.lines:
                for key, start in (("smtp", "SMTP server listening on"), ("http", "HTTP API listening on")):
                    if line.startswith(start):
                        ports[key] = int(line.rstrip(".").split()[-1])
        self.smtp, self.http = ports["smtp"], ports["http"]
        self.kept = []  # clients that must stay connected until the end
        if read_log:
            self.follow_log()

    def read_log(self, deadline):
        if not select.select([self.process.stdout], [], [], max(0.0, deadline - time.monotonic()))[0]:
            return True
        chunk = os.read(self.process.stdout.fileno(), 65536)
        with self.news:
            *complete, self.pending = (self.pending + chunk).split(b"\n")
            self.lines += [line.decode("latin-1") for line in complete]
            self.news.notify_all()
        return bool(chunk)

    def follow_log(self):
        def follow():
            while self.read_log(time.monotonic() + 1):
                pass
        threading.Thread(target=follow, daemon=True).start()

    def logged(self, start, timeout=DEADLINE):
        """Waits for a line beginning with start (a text or a tuple of texts)."""
        with self.news:
            return self.news.wait_for(lambda: any(line.startswith(start) for line in self.lines), timeout)

    def peak_rss(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))

    def raw_messages(self):
        def get(path):
            with urllib.request.urlopen(f"http://127.0.0.1:{self.http}{path}", timeout=DEADLINE) as answer:
                return answer.read()
        page = json.loads(get("/api/v1/messages?limit=1000"))
        return [get(f"/api/v1/message/{m['ID']}/raw") for m in page["messages"]]

    def end(self):
        started = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=DEADLINE)
        return code, time.monotonic() - started


def connect(port, buffer=None):
    client = socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)
    if buffer:
        client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffer)
    return client


def replies(client, count):
    """The next count reply lines."""
    data = b""
    while data.count(b"\r\n") < count:
        chunk = client.recv(65536)
        if not chunk:
            break
        data += chunk
    return data.decode("latin-1").split("\r\n")[:count]


def deliver(port, body, attempts_until=None):
    """Sends one message with smtplib; its final reply code (retried on refusals until the time given)."""
    while True:
        try:
            with smtplib.SMTP("127.0.0.1", port, timeout=DEADLINE) as smtp:
                smtp.sendmail("honest@example.com", ["bob@example.com"], body)
                return 250
        except smtplib.SMTPResponseException as refusal:
            if attempts_until is None or time.monotonic() > attempts_until:
                return refusal.smtp_code


def body(marker, size=1024):
    return (f"Subject: {marker}\r\n\r\n" + (marker + " ") * (size // (len(marker) + 1)) + "\r\n").encode()


# --- the rows: each takes the running program and returns the bodies it was told were kept -----

def pipelining_client_never_reads(program, case):
    for _ in range(4):
        attacker = connect(program.smtp, buffer=64 * 1024)
        attacker.setblocking(False)
        sent, flood = 0, b"HELO x\r\n" * 8192
        # Sends until the program stops taking input (a second without room), or 256 MiB went.
        while sent < 256 * MiB and select.select([], [attacker], [], 1.0)[1]:
            sent += attacker.send(flood)
        case.assertLess(sent, 64 * MiB, "flow control never stopped the sender")
        program.kept.append(attacker)
    honest = body("after the flood")
    case.assertEqual(deliver(program.smtp, honest), 250)
    return [honest]  # the attackers stay connected, unread, until SIGTERM


def envelope_past_the_recipient_limit(program, case):
    client = connect(program.smtp)
    replies(client, 1)
    client.sendall(b"MAIL FROM:<a@example.com>\r\n" + b"RCPT TO:<r@example.com>\r\n" * 1100)
    answers = replies(client, 1101)
    case.assertEqual(answers[:1001], ["250 OK"] * 1001)
    case.assertEqual(set(answers[1001:]), {"452 4.5.3 Too many recipients"})
    message = body("many recipients")
    client.sendall(b"DATA\r\n" + message + b".\r\n")
    case.assertEqual(replies(client, 2), ["354 send the mail data, end with .", "250 OK"])
    return [message]


def envelope_past_the_budget(program, case):
    client = connect(program.smtp)
    replies(client, 1)
    client.sendall(b"MAIL FROM:<a@example.com>\r\n" + (b"RCPT TO:<" + b"r" * 4000 + b">\r\n") * 1000)
    answers = replies(client, 1001)
    accepted = answers.count("250 OK") - 1
    case.assertLessEqual(accepted * 4002, MiB)
    case.assertEqual(set(answers[accepted + 1:]), {"452 Requested action not taken: insufficient system storage"})
    message = body("big envelope")
    client.sendall(b"DATA\r\n" + message + b".\r\n")
    case.assertEqual(replies(client, 2), ["354 send the mail data, end with .", "250 OK"])
    return [message]


def idle_clients_past_the_descriptors(program, case):
    idle = [connect(program.smtp) for _ in range(1100)]
    honest = body("not locked out")
    case.assertEqual(deliver(program.smtp, honest), 250)
    pushed_out = sum(1 for client in idle[:300] if replies(client, 2)[1:] == ["421 4.3.2 Too busy, closing idle "
                                                                             "transmission channel"])
    case.assertEqual(pushed_out, 300)
    return [honest]


def clients_stalled_in_data_hold_the_budget(program, case):
    stalled = []
    for _ in range(64):
        client = connect(program.smtp)
        client.sendall(b"HELO x\r\nMAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\n" + b"s" * (256 * 1024))
        stalled.append(client)
    honest = body("room made", MiB)
    case.assertEqual(deliver(program.smtp, honest, attempts_until=time.monotonic() + 10), 250)
    case.assertTrue(program.logged(("SMTPServer::Evicted", "SMTPServer::Timeout")))
    return [honest]


def idle_client_times_out(program, case):
    client = connect(program.smtp)
    started = time.monotonic()
    case.assertEqual(replies(client, 2), ["220 Quellpost", "421 4.4.2 Idle too long, closing transmission channel"])
    case.assertEqual(client.recv(1), b"")
    case.assertLess(time.monotonic() - started, 5)
    case.assertTrue(program.logged("SMTPServer::Timeout, index 1: No progress for 1000 ms: connection closed."))
    return []


def log_reader_stops_reading(program, case):
    client = connect(program.smtp)
    client.sendall(b"".join(b"X" * 4000 + b"%d\r\n" % i for i in range(6000)))
    case.assertEqual(len(replies(client, 6001)), 6001)
    honest = body("logged or not")
    case.assertEqual(deliver(program.smtp, honest), 250)
    # Reading again, the fixture hears what went missing, with the next line logged.
    program.follow_log()
    for _ in range(int(DEADLINE)):
        client.sendall(b"NOT A COMMAND\r\n")
        if program.logged("Log output: ", timeout=1):
            break
    case.assertTrue(program.logged("Log output: ", timeout=0))
    return [honest]


def client_text_cannot_forge_log_lines(program, case):
    client = connect(program.smtp)
    forged = b"HTTP API listening on 127.0.0.1 port 1."
    client.sendall(b"XYZ\n" + forged + b"\r\nAUTH PLAIN " + base64.b64encode(b"\0a\n" + forged + b"\0pw") + b"\r\n")
    case.assertEqual(replies(client, 3)[1:], ["500 ", "235 2.7.0 Authentication successful"])
    case.assertTrue(program.logged("SMTPServer::Auth"))
    case.assertIn("XYZ\\x0A" + forged.decode(), program.lines)
    case.assertFalse([line for line in program.lines if line.startswith(forged.decode())])
    return []


# name, options, attack, whether peak RSS must stay within the budget + 64 MiB, and how
ROWS = [
    ("pipelining_client_never_reads", ["--max-memory", "64M"], pipelining_client_never_reads, True, {}),
    ("envelope_past_the_recipient_limit", ["--max-memory", "64M"], envelope_past_the_recipient_limit, False, {}),
    ("envelope_past_the_budget", ["--max-memory", "1M"], envelope_past_the_budget, True, {}),
    ("idle_clients_past_the_descriptors", ["--max-memory", "64M"], idle_clients_past_the_descriptors, True,
     {"descriptors": 1024}),
    ("clients_stalled_in_data_hold_the_budget", ["--max-memory", "16M", "--smtp-timeout", "30"],
     clients_stalled_in_data_hold_the_budget, True, {}),
    ("idle_client_times_out", ["--smtp-timeout", "1"], idle_client_times_out, False, {}),
    ("log_reader_stops_reading", [], log_reader_stops_reading, False, {"read_log": False}),
    ("client_text_cannot_forge_log_lines", ["--esmtp"], client_text_cannot_forge_log_lines, False, {}),
]


class SmtpAttacks(unittest.TestCase):
    def run_row(self, options, attack, bounded, how):
        program = Program(options, **how)
        try:
            accepted = attack(program, self)
            kept = program.raw_messages()
            for message in accepted:
                self.assertIn(message, kept)
            if bounded and not SANITIZED:
                budget = int(options[options.index("--max-memory") + 1][:-1]) * MiB
                self.assertLessEqual(program.peak_rss(), budget + 64 * MiB)
        finally:
            code, took = program.end()
        self.assertEqual(code, 0)
        self.assertLess(took, 5)


for name, options, attack, bounded, how in ROWS:
    setattr(SmtpAttacks, "test_" + name,
            lambda self, o=options, a=attack, b=bounded, h=how: self.run_row(o, a, b, h))

if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    if "--sanitized" in sys.argv:
        sys.argv.remove("--sanitized")
        SANITIZED = True
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # the row with 1,100 idle clients
    unittest.main(verbosity=2)
