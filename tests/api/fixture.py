"""A headless Quellpost on free loopback ports, and the OpenAPI file as a response checker."""
import json
import os
import select
import signal
import smtplib
import subprocess
import threading
import time
import urllib.error
import urllib.request

import jsonschema
import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
OPENAPI = os.path.join(HERE, "..", "..", "docs", "api", "openapi.yaml")
START_DEADLINE = 20.0


class Quellpost:
    def __init__(self, binary, *options):
        self.process = subprocess.Popen(
            [binary, "--headless", "--smtp", "127.0.0.1:0", "--http", "127.0.0.1:0", *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.smtp_port = self.http_port = None
        deadline = time.monotonic() + START_DEADLINE
        pending = b""
        while self.http_port is None:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                self.process.kill()
                raise RuntimeError("quellpost did not report its ports")
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                raise RuntimeError("quellpost ended: " + self.process.stderr.read().decode())
            pending += chunk
            for line in pending.decode(errors="replace").splitlines():
                if line.startswith("SMTP server listening on"):
                    self.smtp_port = int(line.rstrip(".").split()[-1])
                if line.startswith("HTTP API listening on"):
                    self.http_port = int(line.rstrip(".").split()[-1])
        # Its log keeps coming; a full pipe would stall it.
        self.output = [pending]
        self.drain = threading.Thread(target=lambda: self.output.append(self.process.stdout.read()), daemon=True)
        self.drain.start()
        self.base = f"http://127.0.0.1:{self.http_port}"

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=30)
        self.drain.join(timeout=10)
        self.process.stdout.close()
        self.log = b"".join(self.output).decode(errors="replace")
        stderr = self.process.stderr.read().decode()
        self.process.stderr.close()
        return code, stderr

    def peak_rss(self):
        """The server's peak resident memory in bytes."""
        with open(f"/proc/{self.process.pid}/status", encoding="ascii") as status:
            return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))

    def send(self, message, sender="sender@example.com", recipients=("rcpt@example.com",)):
        with smtplib.SMTP("127.0.0.1", self.smtp_port, timeout=30) as smtp:
            smtp.send_message(message, from_addr=sender, to_addrs=list(recipients))

    def request(self, path, method="GET", body=None, timeout=30):
        # HTTP errors are answers too.
        request = urllib.request.Request(self.base + path, data=body, method=method)
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return response.status, response.headers.get("Content-Type", ""), response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers.get("Content-Type", ""), error.read()


class Schemas:
    def __init__(self):
        with open(OPENAPI, encoding="utf-8") as f:
            self.document = yaml.safe_load(f)

    def check(self, instance, name):
        schema = dict(self.document, **{"$ref": "#/components/schemas/" + name})
        jsonschema.Draft202012Validator(schema, format_checker=jsonschema.FormatChecker()).validate(instance)

    def check_json(self, data, name):
        instance = json.loads(data)
        self.check(instance, name)
        return instance
