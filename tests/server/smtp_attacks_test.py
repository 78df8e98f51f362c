"""Attacks on the SMTP side of the real program (headless, loopback ports, a small budget), one row
each. A row passes when the program behaves soundly (refuses, closes, stays bounded, answers in time),
every message answered 250 reads back byte for byte through the HTTP API, and SIGTERM then ends the
program at once with exit code 0. Usage: smtp_attacks_test.py QUELLPOST_BINARY [--sanitized] [unittest args]"""
import base64
import json
import os
import resource
import select
import signal
import smtplib
import socket
import ssl
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

MiB, DEADLINE = 1 << 20, 30.0
BUSY = "421 4.3.2 Too busy, closing idle transmission channel"


class Program:
    """The program on free loopback ports, its log lines collected as they come (unless told not to)."""

    def __init__(self, args, descriptors=None, read_log=True):
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))) if descriptors else None
        self.process = subprocess.Popen([BINARY, "--headless", "--smtp", "127.0.0.1:0", "--http", "127.0.0.1:0", *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=limit)
        self.lines, self.pending, self.news, self.kept = [], b"", threading.Condition(), []
        deadline = time.monotonic() + DEADLINE
        while not self.logged("HTTP API listening on", 0):
            assert time.monotonic() < deadline and self.read_log(deadline), "no ports reported"
        port = lambda start: next((int(l.rstrip(".").split()[-1]) for l in self.lines if l.startswith(start)), None)
        self.smtp, self.http = port("SMTP server listening on"), port("HTTP API listening on")
        self.smtps = port("SMTP server listening for TLS")
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
        """Waits for a line that begins with start (a text, or a tuple of texts)."""
        with self.news:
            return self.news.wait_for(lambda: any(line.startswith(start) for line in self.lines), timeout)

    def get(self, path):
        return urllib.request.urlopen(f"http://127.0.0.1:{self.http}{path}", timeout=DEADLINE).read()


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)


def replies(client, count):
    data = b""
    while data.count(b"\r\n") < count and (chunk := client.recv(65536)):
        data += chunk
    return data.decode("latin-1").split("\r\n")[:count]


def deliver(port, body, retry_until=0.0):
    """Sends one message with smtplib; the code of its last reply (refusals retried until the time given)."""
    while True:
        try:
            with smtplib.SMTP("127.0.0.1", port, timeout=DEADLINE) as smtp:
                smtp.sendmail("honest@example.com", ["bob@example.com"], body)
                return 250
        except smtplib.SMTPResponseException as refusal:
            if time.monotonic() > retry_until:
                return refusal.smtp_code


def body(marker, size=1024):
    return f"Subject: {marker}\r\n\r\n{(marker + ' ') * (size // (len(marker) + 1))}\r\n".encode()


def transaction(program, case, envelope, expected, message):
    """A pipelined transaction on a raw socket: the envelope's replies as expected, the message kept."""
    client = connect(program.smtp)
    client.sendall(b"MAIL FROM:<a@example.com>\r\n" + envelope + b"DATA\r\n" + message + b".\r\n")
    answers = replies(client, envelope.count(b"\r\n") + 4)
    case.assertEqual(answers[:2] + answers[-2:], ["220 Quellpost", "250 OK", "354 send the mail data, end with .",
                                                  "250 OK"])
    case.assertEqual(answers[2:-2], expected)
    return [message]


# --- the rows: each takes the running program and returns the messages answered 250 ------------

def pipelining_client_never_reads(program, case, tls=None):
    for _ in range(4):
        attacker = connect(program.smtps if tls else program.smtp)
        attacker.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        attacker = tls.wrap_socket(attacker) if tls else attacker
        attacker.setblocking(False)
        sent, flood = 0, b"HELO x\r\n" * 8192
        # Until the program stops taking input (a second without room), or 256 MiB went.
        while sent < 256 * MiB and select.select([], [attacker], [], 1.0)[1]:
            try:
                sent += attacker.send(flood)
            except ssl.SSLWantWriteError:
                pass
        case.assertLess(sent, 64 * MiB, "flow control never stopped the sender")
        program.kept.append(attacker)  # connected and unread until SIGTERM
    case.assertEqual(deliver(program.smtp, honest := body("after the flood")), 250)
    return [honest]


def pipelining_client_never_reads_over_tls(program, case):
    tls = ssl.create_default_context()
    tls.check_hostname, tls.verify_mode = False, ssl.CERT_NONE
    return pipelining_client_never_reads(program, case, tls)


def recipients_past_the_limit(program, case):
    return transaction(program, case, b"RCPT TO:<r@example.com>\r\n" * 1100,
                       ["250 OK"] * 1000 + ["452 4.5.3 Too many recipients"] * 100, body("many recipients"))


def recipients_past_the_budget(program, case):
    fitting = (MiB - 13) // 4004  # the sender's 15 bytes, then each path's 4,002 and ", " between
    return transaction(program, case, (b"RCPT TO:<" + b"r" * 4000 + b">\r\n") * 1000,
                       ["250 OK"] * fitting + ["452 Requested action not taken: insufficient system storage"]
                       * (1000 - fitting), body("big envelope"))


def idle_clients_past_the_descriptors(program, case):
    idle = [connect(program.smtp) for _ in range(1100)]
    case.assertEqual(deliver(program.smtp, honest := body("not locked out")), 250)
    case.assertEqual([replies(client, 2)[1] for client in idle[:300]], [BUSY] * 300)
    return [honest]


def clients_stalled_in_data_hold_the_budget(program, case):
    for _ in range(64):
        program.kept.append(connect(program.smtp))
        program.kept[-1].sendall(b"MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\n" + b"s" * (256 * 1024))
    case.assertEqual(deliver(program.smtp, honest := body("room made", MiB), time.monotonic() + 10), 250)
    case.assertTrue(program.logged(("SMTPServer::Evicted", "SMTPServer::Timeout")))
    return [honest]


def idle_client_times_out(program, case):
    client, started = connect(program.smtp), time.monotonic()
    case.assertEqual(replies(client, 3), ["220 Quellpost", "421 4.4.2 Idle too long, closing transmission channel", ""])
    case.assertLess(time.monotonic() - started, 5)
    case.assertTrue(program.logged("SMTPServer::Timeout, index 1: No progress for 1000 ms: connection closed."))
    return []


def log_reader_stops_reading(program, case):
    client = connect(program.smtp)
    client.sendall(b"".join(b"X" * 4000 + b"%d\r\n" % i for i in range(6000)))
    case.assertEqual(len(replies(client, 6001)), 6001)
    case.assertEqual(deliver(program.smtp, honest := body("logged or not")), 250)
    program.follow_log()  # reading again, the fixture hears what went missing with the next line logged
    for _ in range(int(DEADLINE)):
        client.sendall(b"NOT A COMMAND\r\n")
        if program.logged("Log output: ", 1):
            return [honest]
    return case.fail("no line told of the lines dropped")


def client_text_cannot_forge_log_lines(program, case):
    client, forged = connect(program.smtp), b"HTTP API listening on 127.0.0.1 port 1."
    client.sendall(b"XYZ\n" + forged + b"\r\nAUTH PLAIN " + base64.b64encode(b"\0a\n" + forged + b"\0pw") + b"\r\n"
                   b"QUIT\r\nNOOP\r\n")
    case.assertEqual(replies(client, 5)[1:], ["500 ", "235 2.7.0 Authentication successful",
                                              "221 127.0.0.1 Service closing transmission channel", ""])
    case.assertTrue(program.logged("SMTPServer::Auth"))
    case.assertIn("XYZ\\x0A" + forged.decode(), program.lines)
    case.assertFalse([line for line in program.lines if line.startswith(forged.decode())])
    return []


# name, options, whether peak RSS must stay within the budget + 64 MiB, how the program runs
ROWS = [
    (pipelining_client_never_reads, ["--max-memory", "64M"], True, {}),
    (pipelining_client_never_reads_over_tls, ["--max-memory", "64M", "--smtps", "127.0.0.1:0"], True, {}),
    (recipients_past_the_limit, ["--max-memory", "64M"], False, {}),
    (recipients_past_the_budget, ["--max-memory", "1M"], True, {}),
    (idle_clients_past_the_descriptors, ["--max-memory", "64M"], True, {"descriptors": 1024}),
    (clients_stalled_in_data_hold_the_budget, ["--max-memory", "16M", "--smtp-timeout", "30"], True, {}),
    (idle_client_times_out, ["--smtp-timeout", "1"], False, {}),
    (log_reader_stops_reading, [], False, {"read_log": False}),
    (client_text_cannot_forge_log_lines, ["--esmtp"], False, {}),  # QUIT closes the modern dialogue, too
]


class SmtpAttacks(unittest.TestCase):
    def run_row(self, attack, options, bounded, how):
        program = Program(options, **how)
        try:
            accepted, listed = attack(program, self), json.loads(program.get("/api/v1/messages"))["messages"]
            kept = [program.get(f"/api/v1/message/{message['ID']}/raw") for message in listed]
            self.assertEqual([message for message in accepted if message not in kept], [])
            # AddressSanitizer keeps freed memory in quarantine: resident size says nothing there.
            if bounded and not SANITIZED:
                with open(f"/proc/{program.process.pid}/status") as status:
                    peak = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))
                self.assertLessEqual(peak, int(options[1][:-1]) * MiB + 64 * MiB)
        finally:
            started = time.monotonic()
            program.process.send_signal(signal.SIGTERM)
            self.assertEqual((program.process.wait(timeout=DEADLINE), time.monotonic() - started < 5), (0, True))


for row in ROWS:
    setattr(SmtpAttacks, "test_" + row[0].__name__, lambda self, row=row: self.run_row(*row))

if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    SANITIZED = "--sanitized" in sys.argv
    sys.argv = [arg for arg in sys.argv if arg != "--sanitized"]
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # for the row with 1,100 idle clients
    unittest.main(verbosity=2)
