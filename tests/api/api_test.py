"""The HTTP API against real clients, under load. Usage: api_test.py QUELLPOST_BINARY [unittest args]"""
import concurrent.futures
import json
import os
import signal
import smtplib
import socket
import subprocess
import sys
import threading
import time
import unittest
from email.message import EmailMessage

import websocket

from fixture import HERE, Quellpost, Schemas

BINARY = None
NODE_DIR = os.path.join(HERE, "node")


def message(subject, sender="Alice <alice@example.com>", to="bob@example.com", text="Hello", html=None):
    m = EmailMessage()
    m["From"], m["To"], m["Subject"] = sender, to, subject
    m.set_content(text)
    if html:
        m.add_alternative(html, subtype="html")
    return m


class ApiTest(unittest.TestCase):
    def setUp(self):
        self.server = Quellpost(BINARY)
        self.schemas = Schemas()

    def tearDown(self):
        code, stderr = self.server.stop()
        self.assertEqual(code, 0, stderr)

    def test_published_node_client_lists_reads_searches_and_deletes(self):
        if not os.path.isdir(os.path.join(NODE_DIR, "node_modules", "mailpit-api")):
            self.skipTest("npm client not installed (npm ci in tests/api/node)")
        self.server.send(message("Welcome", "Shop <shop@example.com>", "Carol <carol@example.org>"),
                         recipients=["carol@example.org"])
        reset = message("Reset your password", text="Use the link",
                        html='<p><a href="https://example.com/reset?token=42">Reset</a></p>')
        reset.add_attachment(b"%PDF-1.4 terms", maintype="application", subtype="pdf", filename="terms.pdf")
        self.server.send(reset)
        menu = message("Café menu", "Chef <chef@example.com>", text="Dessert: crème brûlée " * 20)
        self.server.send(menu)  # the policy encodes it quoted-printable: the search must decode

        run = subprocess.run(["node", "client.mjs", self.server.base], cwd=NODE_DIR,
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        answers = [json.loads(line) for line in run.stdout.splitlines()]
        self.assertGreater(len(answers), 10)
        for answer in answers:
            self.schemas.check(answer["body"], answer["schema"])

    def test_raw_part_and_error_paths_with_curl(self):
        sent = message("Raw", text="line one\n.leading dot\n")
        self.server.send(sent)
        status, _, page = self.server.request("/api/v1/messages")
        message_id = json.loads(page)["messages"][0]["ID"]
        big = b'{"IDs":["' + b"1" * (2 * 1024 * 1024) + b'"]}'
        cases = [
            # (curl arguments after the URL's path, status, content type starts with, body check)
            ([f"/api/v1/message/{message_id}/raw"], 200, "text/plain", lambda b: b"\r\n.leading dot\r\n" in b),
            (["/api/v1/message/latest/raw"], 200, "text/plain", lambda b: b"Subject: Raw\r\n" in b),
            (["/api/v1/message/99999999999999999999999"], 404, "application/json", "Error"),
            ([f"/api/v1/message/{message_id}/part/9"], 404, "application/json", "Error"),
            (["/api/v1/messages?start=-1"], 400, "application/json", "Error"),
            (["/api/wait?timeout=1000000000000"], 400, "application/json", "Error"),
            (["/api/v1/search?query=" + "x" * 9000], 414, "application/json", "Error"),
            (["/api/v1/nowhere"], 404, "application/json", "Error"),
            (["/api/v1/messages", "-X", "POST"], 405, "application/json", "Error"),
            (["/api/v1/search?query=", "-X", "DELETE"], 400, "application/json", "Error"),
            (["/api/v1/messages", "-X", "DELETE", "-d", "{not json"], 400, "application/json", "Error"),
            (["/api/v1/messages", "-X", "DELETE", "-d", '{"IDs":[1]}'], 400, "application/json", "Error"),
            (["/api/v1/messages", "-X", "DELETE", "--data-binary", "@-"], 413, "application/json", "Error"),
            (["/api/v1/messages?limit=1"], 200, "application/json", "MessagesPage"),
        ]
        for arguments, status, content_type, check in cases:
            with self.subTest(arguments=arguments[0][:60], method=arguments[1:3]):
                run = subprocess.run(
                    ["curl", "-sS", "--max-time", "30", "-o", "-", "-w", "\n%{http_code} %{content_type}",
                     self.server.base + arguments[0], *arguments[1:]],
                    input=big if "@-" in arguments else b"", capture_output=True, timeout=60)
                body, _, trailer = run.stdout.rpartition(b"\n")
                code, _, type_ = trailer.decode().partition(" ")
                self.assertEqual(int(code), status, body[:200])
                self.assertTrue(type_.startswith(content_type), type_)
                if isinstance(check, str):
                    self.schemas.check_json(body, check)
                else:
                    self.assertTrue(check(body), body[:200])
        # None of that disturbed the store.
        self.assertEqual(json.loads(self.server.request("/api/v1/messages")[2])["total"], 1)

    def test_wait_answers_on_arrival_and_events_follow_the_store(self):
        events = websocket.create_connection(f"ws://127.0.0.1:{self.server.http_port}/api/events", timeout=30)
        with concurrent.futures.ThreadPoolExecutor(max_workers=1) as pool:
            waiting = pool.submit(self.server.request, "/api/wait?query=subject:late+to:dave&timeout=60")
            self.server.send(message("Other", to="dave@example.com"), recipients=["dave@example.com"])
            self.server.send(message("Late news", to="dave@example.com"), recipients=["dave@example.com"])
            status, _, body = waiting.result(timeout=60)
        self.assertEqual(status, 200)
        page = self.schemas.check_json(body, "MessagesPage")
        self.assertEqual([m["Subject"] for m in page["messages"]], ["Late news"])

        started = time.monotonic()
        status, _, body = self.server.request("/api/wait?query=subject:never&timeout=1")
        self.assertEqual(status, 404)
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        self.schemas.check_json(body, "Error")

        late_id = page["messages"][0]["ID"]
        self.server.request("/api/v1/messages", "DELETE", json.dumps({"IDs": [late_id]}).encode())
        self.server.request("/api/v1/messages", "DELETE")
        seen = [json.loads(events.recv()) for _ in range(4)]
        for event in seen:
            self.schemas.check(event, "Event")
        self.assertEqual([(e["Type"], (e["Data"] or {}).get("Subject")) for e in seen],
                         [("new", "Other"), ("new", "Late news"), ("delete", None), ("truncate", None)])
        self.assertEqual(seen[2]["Data"]["ID"], late_id)
        events.close()

    def test_load_twenty_pollers_while_ten_sessions_deliver_ten_thousand(self):
        sessions, per_session, pollers = 10, 1000, 20
        done = threading.Event()
        polls = []

        def poll():  # every 100 ms: five times as often as a client library polls by default
            count = 0
            while not done.wait(0.1):
                status, _, body = self.server.request("/api/v1/messages?limit=50")
                assert status == 200 and "messages" in json.loads(body)
                count += 1
            polls.append(count)

        def deliver(session):
            with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=60) as smtp:
                for i in range(per_session):
                    smtp.sendmail("load@example.com", ["sink@example.com"],
                                  f"Subject: load {session}-{i}\r\n\r\nbody {session}-{i}\r\n")

        poller_threads = [threading.Thread(target=poll) for _ in range(pollers)]
        list(map(threading.Thread.start, poller_threads))
        with concurrent.futures.ThreadPoolExecutor(max_workers=sessions) as pool:
            list(pool.map(deliver, range(sessions)))
        done.set()
        for t in poller_threads:
            t.join(timeout=120)
        self.assertEqual(len(polls), pollers)

        subjects = []
        for start in range(0, 11000, 1000):
            page = json.loads(self.server.request(f"/api/v1/messages?start={start}&limit=1000")[2])
            self.assertEqual(page["total"], sessions * per_session)
            subjects += [m["Subject"] for m in page["messages"]]
        expected = {f"load {s}-{i}" for s in range(sessions) for i in range(per_session)}
        self.assertEqual(len(subjects), len(expected))  # each listed once
        self.assertEqual(set(subjects), expected)       # none lost


class StartTest(unittest.TestCase):
    def test_bad_addresses_end_with_a_reason_and_others_are_warned(self):
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        cases = [  # (arguments, exit code, standard error contains)
            (["--smtp", f"127.0.0.1:{port}"], 1, f"already using port {port}"),
            (["--smtp", "127.0.0.1:0", "--http", f"127.0.0.1:{port}"], 1, "cannot serve the HTTP API"),
            (["--smtp", "192.0.2.1:0"], 1, "cannot listen for mail on 192.0.2.1"),
            (["--smtp", "127.0.0.1"], 2, "--smtp takes ADDR:PORT"),
            (["--http", "127.0.0.1:70000"], 2, "--http takes ADDR:PORT"),
        ]
        for arguments, code, text in cases:
            with self.subTest(arguments=arguments):
                run = subprocess.run([BINARY, "--headless", *arguments], capture_output=True, text=True, timeout=30)
                self.assertEqual(run.returncode, code)
                self.assertIn(text, run.stderr)
        taken.close()
        exposed = subprocess.Popen([BINARY, "--headless", "--smtp", "127.0.0.1:0", "--http", "0.0.0.0:0"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        warning = exposed.stderr.readline()
        exposed.send_signal(signal.SIGINT)
        self.assertEqual(exposed.wait(timeout=30), 0)
        exposed.stderr.close()
        self.assertIn("anyone who can reach this address can read", warning)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
