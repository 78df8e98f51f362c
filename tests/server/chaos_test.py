"""Failure replies on demand, met by real clients. Usage: chaos_test.py QUELLPOST_BINARY [unittest args]"""
import json
import os
import smtplib
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "api"))
from fixture import Quellpost, Schemas  # noqa: E402

BINARY = None
NODEMAILER_DIR = os.path.join(HERE, "..", "esmtp", "nodemailer")
API_NODE_DIR = os.path.join(HERE, "..", "api", "node")
WORDS = {"Sender": "sender", "Recipient": "recipient", "Data": "data", "Authentication": "authentication"}
# Trigger and code: each step with a temporary and a permanent reply, 421 where it closes the channel.
ROWS = [("Sender", 451), ("Sender", 550), ("Recipient", 421), ("Recipient", 452), ("Recipient", 550),
        ("Data", 451), ("Data", 554), ("Authentication", 535), ("Authentication", 454)]
MESSAGE = "From: app@example.com\r\nTo: user@example.com\r\nSubject: chaos\r\n\r\nBody\r\n"


def smtplib_outcome(port, login):
    """(code, reply text) of the step the server refused, or None when the message went through."""
    try:
        with smtplib.SMTP("127.0.0.1", port, timeout=30) as smtp:
            if login:
                smtp.starttls()
                smtp.login("app", "secret")
            smtp.sendmail("app@example.com", ["user@example.com"], MESSAGE)
    except (smtplib.SMTPSenderRefused, smtplib.SMTPDataError, smtplib.SMTPAuthenticationError) as error:
        return error.smtp_code, error.smtp_error.decode()
    except smtplib.SMTPRecipientsRefused as error:
        (code, text), = error.recipients.values()
        return code, text.decode()
    return None


class ChaosTest(unittest.TestCase):
    def start(self, *options):
        server = Quellpost(BINARY, *options)
        self.addCleanup(lambda: server.process.poll() is not None or self.assertEqual(server.stop()[0], 0))
        return server

    def put(self, server, triggers):
        status, _, body = server.request("/api/v1/chaos", "PUT", json.dumps(triggers).encode())
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def stored(self, server):
        return json.loads(server.request("/api/v1/messages")[2])["total"]

    def check_rows(self, server, rows, outcome):
        for step, code in rows:
            with self.subTest(step=step, code=code):
                self.put(server, {step: {"ErrorCode": code, "Probability": 100}})
                self.assertEqual(outcome(step), (code, f"Chaos {WORDS[step]} error"))
        self.assertEqual(self.stored(server), 0, "a refused message is not kept")
        self.put(server, {})
        self.assertIsNone(outcome("Sender"))
        self.assertEqual(self.stored(server), 1)

    def test_smtplib_meets_each_configured_reply(self):
        modern = self.start("--chaos", "--esmtp")
        self.check_rows(modern, ROWS, lambda step: smtplib_outcome(modern.smtp_port, True))
        plain = self.start("--chaos")
        self.check_rows(plain, [row for row in ROWS if row[0] != "Authentication"],
                        lambda step: smtplib_outcome(plain.smtp_port, False))
        modern.stop()
        for step, code in ROWS:
            self.assertIn(f"Failure reply on demand: {code} Chaos {WORDS[step]} error", modern.log)

    def test_nodemailer_meets_each_configured_reply(self):
        if not os.path.isdir(os.path.join(NODEMAILER_DIR, "node_modules", "nodemailer")):
            self.skipTest("Nodemailer not installed (npm ci in tests/esmtp/nodemailer)")
        server = self.start("--chaos", "--esmtp")
        commands = {"Sender": "MAIL FROM", "Recipient": "RCPT TO", "Data": "DATA", "Authentication": "AUTH PLAIN"}

        def outcome(step):
            run = subprocess.run(["node", "chaos.js", str(server.smtp_port)], cwd=NODEMAILER_DIR,
                                 capture_output=True, text=True, timeout=60)
            result = json.loads(run.stdout)
            if result.get("sent"):
                return None
            self.assertEqual(result["command"], commands[step])
            code, text = result["response"].split(" ", 1)
            self.assertEqual(int(code), result["code"])
            return result["code"], text

        self.check_rows(server, ROWS, outcome)

    def test_published_client_sets_and_reads_triggers(self):
        if not os.path.isdir(os.path.join(API_NODE_DIR, "node_modules", "mailpit-api")):
            self.skipTest("npm client not installed (npm ci in tests/api/node)")
        server = self.start("--chaos")
        run = subprocess.run(["node", "chaos.mjs", server.base], cwd=API_NODE_DIR,
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(smtplib_outcome(server.smtp_port, False), (421, "Chaos recipient error"))

    def test_off_unless_asked_and_repeatable_with_a_seed(self):
        server = self.start()
        for method, body in (("GET", None), ("PUT", b"{}")):
            self.assertEqual(server.request("/api/v1/chaos", method, body)[:1], (400,))
        self.assertIsNone(smtplib_outcome(server.smtp_port, False))

        def codes():
            seeded = self.start("--chaos-triggers", "sender:451:50", "--chaos-seed", "7")
            with smtplib.SMTP("127.0.0.1", seeded.smtp_port, timeout=30) as smtp:
                return [smtp.docmd("MAIL FROM:<a@example.com>")[0] for _ in range(40)]

        first = codes()
        self.assertEqual(codes(), first)
        self.assertEqual(set(first), {250, 451})

    def test_bad_values_are_refused_whole(self):
        server = self.start("--chaos")
        before = self.put(server, {"Recipient": {"ErrorCode": 452, "Probability": 10}})
        for body in ({"Sender": {"ErrorCode": 399}}, {"Data": {"Probability": 101}},
                     {"Recipient": {"ErrorCode": 450, "Probability": 5.5}}, {"Sender": "451"}, []):
            with self.subTest(body=body):
                status, _, text = server.request("/api/v1/chaos", "PUT", json.dumps(body).encode())
                self.assertEqual(status, 400, text)
                self.assertEqual(json.loads(server.request("/api/v1/chaos")[2]), before)
        lower = self.put(server, {"recipient": {"errorcode": 0, "probability": 3}})
        self.assertEqual(lower["Recipient"], {"ErrorCode": 451, "Probability": 3})
        Schemas().check(lower, "ChaosTriggers")
        bad = subprocess.run([BINARY, "--headless", "--chaos-triggers", "recipient:45:100"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(bad.returncode, 2)
        self.assertIn("recipient:45:100", bad.stderr)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
