"""What the API answers for ordinary mail, as a test suite written for the peer API reads it: each
row a real mail sent with smtplib (or the API's own send), and the exact JSON expected.
Usage: answers_test.py QUELLPOST_BINARY [unittest args]"""
import base64
import json
import smtplib
import sys
import unittest
import urllib.parse
import urllib.request

import websocket

from fixture import Quellpost, Schemas

BINARY = None


def mail(subject, headers="", body="Hello\r\n", sender="a@example.com", to="b@example.com"):
    return (f"From: {sender}\r\nTo: {to}\r\nSubject: {subject}\r\n{headers}\r\n{body}").encode("latin-1")


class AnswersTest(unittest.TestCase):
    def setUp(self):
        self.server = Quellpost(BINARY, "--esmtp")
        self.schemas = Schemas()

    def tearDown(self):
        code, stderr = self.server.stop()
        self.assertEqual(code, 0, stderr)

    def deliver(self, data, sender="a@example.com", recipients=("b@example.com",), login=None, utf8=False):
        with smtplib.SMTP("127.0.0.1", self.server.smtp_port, timeout=30) as smtp:
            smtp.ehlo()
            if login:  # smtplib encodes a login as ASCII: PLAIN by hand keeps it UTF-8
                token = base64.b64encode(b"\0" + login.encode() + b"\0secret").decode()
                self.assertEqual(smtp.docmd("AUTH", "PLAIN " + token)[0], 235)
            smtp.sendmail(sender, list(recipients), data, mail_options=["SMTPUTF8"] if utf8 else [])

    def json(self, path, schema, status=200, method="GET", body=None):
        code, _, data = self.server.request(path, method, body)
        self.assertEqual(code, status, data[:300])
        return self.schemas.check_json(data, schema)

    def summary(self, query):
        return self.json("/api/v1/message/latest?query=" + urllib.parse.quote(query), "Message")

    def test_message_fields_as_mailers_write_them(self):
        unsubscribe = "List-Unsubscribe: <mailto:u@x.com?subject=unsub>, <https://x.com/u>\r\n"
        rows = [  # (subject, extra header lines, body, envelope, login, expected fields)
            ("java date", "Date: Mon, 7 Dec 2026 01:02:03 +0000 (UTC)\r\n", "x\r\n", {}, None,
             {"Date": "2026-12-07T01:02:03.000Z"}),
            ("postfix date", "Date: Mon, 7 Dec 2026 01:02:03 +0200 (CEST)\r\n", "x\r\n", {}, None,
             {"Date": "2026-12-07T01:02:03.000+02:00"}),
            ("obsolete zone", "Date: Mon, 7 Dec 2026 01:02:03 EST\r\n", "x\r\n", {}, None,
             {"Date": "2026-12-07T01:02:03.000-05:00"}),
            ("two-digit year", "Date: Mon, 07 Dec 26 01:02:03 +0100\r\n", "x\r\n", {}, None,
             {"Date": "2026-12-07T01:02:03.000+01:00"}),
            ("utf8 envelope", "", "x\r\n", {"sender": "jürgen@example.com", "utf8": True}, "jürgen-app",
             {"ReturnPath": "jürgen@example.com", "Username": "jürgen-app"}),
            ("no login", "", "x\r\n", {}, None, {"Username": "", "ReturnPath": "a@example.com"}),
            ("blind copy", "Cc: c@example.com\r\n", "x\r\n",
             {"recipients": ["b@example.com", "C@example.com", "hidden@example.com"]}, None,
             {"Bcc": [{"Name": "", "Address": "hidden@example.com"}]}),
            ("html only", "Content-Type: text/html; charset=utf-8\r\n",
             "<html><head><style>p{}</style></head><body><h1>Hi</h1><p>Caf&eacute; &amp; more<br>next</p>"
             "<p><a href=\"https://x.com/r?t=42\">Reset</a></p><script>no()</script></body></html>\r\n", {}, None,
             {"Text": "Hi\n\nCafé & more\nnext\n\nReset ( https://x.com/r?t=42 )"}),
            ("unsubscribe", unsubscribe + "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n", "x\r\n", {},
             None, {"ListUnsubscribe": {"Header": "<mailto:u@x.com?subject=unsub>, <https://x.com/u>",
                                        "HeaderPost": "List-Unsubscribe=One-Click",
                                        "Links": ["mailto:u@x.com?subject=unsub", "https://x.com/u"],
                                        "Errors": ""}}),
            ("unsubscribe twice", "List-Unsubscribe: <https://a.com>, <https://b.com> (old)\r\n", "x\r\n", {},
             None, {"ListUnsubscribe": {"Header": "<https://a.com>, <https://b.com> (old)", "HeaderPost": "",
                                        "Links": ["https://a.com"],
                                        "Errors": '"https://b.com" should only contain one HTTP link'}}),
            ("unsubscribe bare", "List-Unsubscribe: https://a.com\r\n", "x\r\n", {}, None,
             {"ListUnsubscribe": {"Header": "https://a.com", "HeaderPost": "", "Links": [],
                                  "Errors": '"https://a.com" no valid unsubscribe links found'}}),
        ]
        for subject, headers, body, envelope, login, expected in rows:
            with self.subTest(subject):
                self.deliver(mail(subject, headers, body, envelope.get("sender", "a@example.com")),
                             envelope.get("sender", "a@example.com"), envelope.get("recipients", ["b@example.com"]),
                             login, envelope.get("utf8", False))
                found = self.summary(f'subject:"{subject}"')
                self.assertEqual({key: found[key] for key in expected}, expected)
        # The list and its events show the blind copy too; the source stays as received.
        item = self.json("/api/v1/search?query=subject:%22blind+copy%22", "MessagesPage")["messages"][0]
        self.assertEqual(item["Bcc"], [{"Name": "", "Address": "hidden@example.com"}])
        self.assertNotIn(b"hidden@", self.server.request(f"/api/v1/message/{item['ID']}/raw")[2])
        headers = self.json(f"/api/v1/message/{item['ID']}/headers", "Headers")
        self.assertEqual(sorted(headers), ["Cc", "From", "Subject", "To"])
        headers = self.json("/api/v1/message/latest/headers?query=subject:java", "Headers")
        self.assertEqual(headers["Date"], ["Mon, 7 Dec 2026 01:02:03 +0000 (UTC)"])

    def test_search_words_and_latest(self):
        latin1 = "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n"
        attached = ("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n"
                    "Message-ID: <order-7@shop.example>\r\nReply-To: desk@example.com\r\n")
        parts = ("--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n--b\r\nContent-Type: application/pdf\r\n"
                 "Content-Disposition: attachment; filename*=UTF-8''Rechnung%20M%C3%A4rz.pdf\r\n\r\n%PDF\r\n--b--\r\n")
        self.deliver(mail("Koeln trip", latin1, "Grüße aus Köln\r\n"))
        self.deliver(mail("Invoice", attached + "Cc: Carol <carol@example.org>\r\n", parts, to="dave@example.com"),
                     recipients=["dave@example.com", "carol@example.org", "eve@example.net"])
        self.deliver(mail("Big", "", "y" * 20000 + "\r\n"))
        events = websocket.create_connection(f"ws://127.0.0.1:{self.server.http_port}/api/events", timeout=30)
        big = self.json("/api/v1/message/latest?query=subject:big", "Message")  # read: the event clients are told
        self.json("/api/v1/message/latest?query=subject:big", "Message")
        self.assertEqual(self.schemas.check_json(events.recv(), "Event"),
                         {"Type": "update", "Data": {"ID": big["ID"], "Read": True}})
        rows = [  # (query, subjects found, newest first)
            ("KÖLN", ["Koeln trip"]),
            ("grüße", ["Koeln trip"]),
            ("märz", ["Invoice"]),
            ("cc:carol", ["Invoice"]),
            ("bcc:eve@example.net", ["Invoice"]),
            ("reply-to:desk", ["Invoice"]),
            ("addressed:eve", ["Invoice"]),
            ("-addressed:eve", ["Big", "Koeln trip"]),
            ("message-id:<order-7@shop.example>", ["Invoice"]),
            ("is:read", ["Big"]),
            ("is:unread", ["Invoice", "Koeln trip"]),
            ("has:attachment", ["Invoice"]),
            ("!has:attachment", ["Big", "Koeln trip"]),
            ("has:inline", []),
            ("larger:10k", ["Big"]),
            ("smaller:0.3k", ["Koeln trip"]),
            ("after:2000-01-01", ["Big", "Invoice", "Koeln trip"]),
            ('before:"2000-01-01 10:00"', []),
            ("after:2999-01-01T00:00:00Z", []),
        ]
        for query, subjects in rows:
            with self.subTest(query):
                page = self.json("/api/v1/search?query=" + urllib.parse.quote(query), "MessagesPage")
                self.assertEqual([m["Subject"] for m in page["messages"]], subjects)
        errors = [  # (path, the word the error names)
            ("/api/v1/search?query=tag:urgent", "tag:urgent"),
            ("/api/v1/search?query=is:starred", "is:starred"),
            ("/api/v1/search?query=before:yesterday", "before:yesterday"),
            ("/api/v1/search?query=larger:2gb", "larger:2gb"),
            ("/api/v1/search?query=after:2024-13-01", "after:2024-13-01"),
            ("/api/v1/search?query=after:2024-01-01&tz=Mars/Base", "Mars/Base"),
            ("/api/v1/search?query=after:2024-01-01&tz=../../../../dev/zero", "dev/zero"),
            ("/api/v1/message/latest?query=tag:x", "tag:x"),
            ("/api/wait?query=has:pdf", "has:pdf"),
        ]
        for path, word in errors:
            with self.subTest(path):
                self.assertIn(word, self.json(path, "Error", 400)["Error"])
        for path, status in [("/api/v1/message/latest/raw?query=subject:koeln", 200),
                             ("/api/v1/message/latest/part/2?query=subject:invoice", 200),
                             ("/api/v1/message/latest/raw?query=subject:nothing", 404),
                             ("/view/latest.txt?query=subject:koeln", 200)]:
            with self.subTest(path):
                self.assertEqual(self.server.request(path)[0], status)
        self.assertIn(b"Gr\xfc\xdfe", self.server.request("/api/v1/message/latest/raw?query=subject:koeln")[2])
        # The second reading told nothing: the next event is this deletion.
        self.server.request("/api/v1/messages", "DELETE", json.dumps({"IDs": [big["ID"]]}).encode())
        self.assertEqual(json.loads(events.recv())["Type"], "delete")
        events.close()

    def test_send_views_and_health(self):
        pixel = base64.b64encode(b"\x89PNG\r\n\x1a\n....").decode()
        request = {"from": {"Email": "app@example.com", "Name": "App"},  # keys in any case, as Go reads them
                   "To": [{"Email": "bob@example.com", "Name": "Bob Müller"}], "Bcc": ["audit@example.com"],
                   "Subject": "Grüße", "Text": "plain text", "HTML": '<p>Hi <img src="cid:logo"></p>',
                   "Attachments": [{"Content": pixel, "Filename": "logo.png", "ContentType": "image/png",
                                    "ContentID": "logo"},
                                   {"Content": "data:text/plain;base64," + base64.b64encode(b"notes").decode(),
                                    "Filename": "notes.txt"}],
                   "Headers": {"X-Campaign": "spring"}}
        login = {"Authorization": "Basic " + base64.b64encode("jürgen:pw".encode()).decode()}
        with urllib.request.urlopen(urllib.request.Request(self.server.base + "/api/v1/send", json.dumps(request).encode(),
                                                           login, method="POST"), timeout=30) as answer:
            sent = self.schemas.check_json(answer.read(), "SendResult")
        message = self.json(f"/api/v1/message/{sent['ID']}", "Message")
        self.assertEqual(message["Username"], "jürgen")  # the request's login stands for the SMTP login
        self.assertEqual((message["From"], message["To"], message["Bcc"], message["Subject"], message["Text"],
                          message["ReturnPath"]),
                         ({"Name": "App", "Address": "app@example.com"},
                          [{"Name": "Bob Müller", "Address": "bob@example.com"}],
                          [{"Name": "", "Address": "audit@example.com"}], "Grüße", "plain text", "app@example.com"))
        self.assertEqual([(f["FileName"], f["Size"]) for f in message["Inline"] + message["Attachments"]],
                         [("logo.png", 12), ("notes.txt", 5)])
        self.assertEqual(self.json(f"/api/v1/message/{sent['ID']}/headers", "Headers")["X-Campaign"], ["spring"])
        status, _, html = self.server.request(f"/view/{sent['ID']}.html")
        self.assertEqual(status, 200)
        self.assertIn(f'src="/api/v1/message/{sent["ID"]}/part/'.encode(), html)
        bad = [  # (request changes, the problem named)
            ({"From": {}}, "from not set"),
            ({"To": [{"Email": "not an address"}]}, "invalid To address: not an address"),
            ({"To": [], "Bcc": []}, "no recipients"),
            ({"Headers": {"subject": "x"}}, 'cannot overwrite header: "subject"'),
            ({"Attachments": [{"Content": "***", "Filename": "a.bin"}]}, 'attachment "a.bin"'),
            ({"To": "bob@example.com"}, "To must be a list"),
            ({"Headers": {"X-Bad": "a\r\nBcc: x@example.com"}}, 'cannot write header "X-Bad"'),
        ]
        for change, problem in bad:
            with self.subTest(problem):
                body = json.dumps(dict(request, **change)).encode()
                self.assertIn(problem, self.json("/api/v1/send", "Error", 400, "POST", body)["Error"])
        self.assertIn("JSON", self.json("/api/v1/send", "Error", 400, "POST", b"{nope")["Error"])
        self.assertEqual(self.json("/api/v1/messages", "MessagesPage")["total"], 1)  # nothing stored half
        for path in ("/livez", "/readyz"):
            self.assertEqual(self.server.request(path)[:2], (200, "text/plain; charset=utf-8"))
        left_out = [("PUT", "/api/v1/tags", 404), ("PUT", "/api/v1/messages", 405),  # as the README lists them
                    ("POST", f"/api/v1/message/{sent['ID']}/release", 405), ("GET", "/api/v1/webui", 404),
                    ("GET", f"/api/v1/message/{sent['ID']}/html-check", 404),
                    ("GET", f"/api/v1/message/{sent['ID']}/part/1/thumb", 404)]
        for method, path, status in left_out:
            with self.subTest(path):
                self.json(path, "Error", status, method, b"{}" if method != "GET" else None)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
