"""The web inbox's files and the routes it reads beside the API, on the real program.
Usage: view_test.py QUELLPOST_BINARY"""
import json
import os
import subprocess
import sys
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "api"))
from fixture import Quellpost, Schemas  # noqa: E402

BINARY = None
MAIL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mail.py")


class ViewTest(unittest.TestCase):
    def setUp(self):
        self.server = Quellpost(BINARY)
        subprocess.run([sys.executable, MAIL, str(self.server.smtp_port), "welcome"], check=True)
        subprocess.run([sys.executable, MAIL, str(self.server.smtp_port), "bulk", "1"], check=True)

    def tearDown(self):
        self.assertEqual(self.server.stop()[0], 0)

    def get(self, path):
        return self.server.request(path)

    def test_pages_and_views(self):
        schemas = Schemas()
        envelope = schemas.check_json(self.get("/api/v1/message/1/envelope")[2], "Envelope")
        self.assertEqual(envelope["To"], ["<bob@example.com>", "<hidden@example.com>"])
        root = schemas.check_json(self.get("/api/v1/message/1/structure")[2], "Part")
        self.assertEqual([p["FileName"] for p in root["Parts"]], ["", "data.bin", "notes.txt"])
        cases = [
            # path, status, content type, in the body (bytes) or None
            ("/", 200, "text/html", b'<script type="module" src="/assets/app.js">'),
            ("/assets/list.js", 200, "text/javascript", b"export class MessageList"),
            ("/assets/style.css", 200, "text/css", b"prefers-color-scheme"),
            ("/assets/../index.html", 404, "application/json", None),
            ("/assets/missing.js", 404, "application/json", None),
            ("/view/1.html", 200, "text/html", b'<base target="_blank"><p id="greeting">'),
            ("/view/1.txt", 200, "text/plain", b"Hello Bob, welcome!"),
            ("/view/2.html", 404, "application/json", b"no HTML part"),
            ("/view/9.html", 404, "application/json", b"no such message"),
            ("/api/v1/message/9/envelope", 404, "application/json", b"no such message"),
        ]
        for path, status, content_type, body in cases:
            with self.subTest(path):
                code, type_, data = self.get(path)
                self.assertEqual((code, type_.split(";")[0]), (status, content_type))
                if body:
                    self.assertIn(body, data)
        # "latest" moves on: the picture is named by the message's own id.
        self.assertIn(b'src="/api/v1/message/1/part/1.2.2"', self.get("/view/1.html")[2])

    def test_policies(self):
        def headers(path):
            with urllib.request.urlopen(self.server.base + path) as response:
                return response.headers
        page, view, remote = headers("/"), headers("/view/1.html"), headers("/view/1.html?remote=1")
        for h in (page, view, remote):
            self.assertEqual((h["X-Content-Type-Options"], h["Referrer-Policy"]), ("nosniff", "no-referrer"))
        self.assertIn("script-src 'self'", page["Content-Security-Policy"])
        self.assertIn("frame-ancestors 'none'", page["Content-Security-Policy"])
        for policy in (view["Content-Security-Policy"], remote["Content-Security-Policy"]):
            self.assertTrue(policy.startswith("sandbox allow-popups allow-popups-to-escape-sandbox;"))
            self.assertIn("default-src 'none'", policy)
            self.assertNotIn("script", policy)
        self.assertIn("img-src 'self' data:", view["Content-Security-Policy"])
        self.assertIn("img-src * ", remote["Content-Security-Policy"])


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main()
