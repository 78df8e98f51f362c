"""An aiosmtpd server that keeps every message in memory, as a capture tool would.

Usage: aiosmtpd_memory.py PORT
On SIGUSR1 prints "report messages=N stored_bytes=B"; SIGTERM or SIGINT end it after a last report.
The listen backlog is asyncio's default, as a user of the library gets it.
"""

import asyncio
import signal
import sys

from aiosmtpd.smtp import SMTP


class KeepInMemory:
    def __init__(self):
        self.messages = []
        self.stored_bytes = 0

    async def handle_DATA(self, server, session, envelope):
        self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.content))
        self.stored_bytes += len(envelope.content)
        return "250 OK"


def main():
    port = int(sys.argv[1])
    handler = KeepInMemory()
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(handler, hostname="bench"), host="127.0.0.1", port=port))

    def report():
        print(f"report messages={len(handler.messages)} stored_bytes={handler.stored_bytes}", flush=True)

    def stop():
        report()
        loop.stop()

    loop.add_signal_handler(signal.SIGUSR1, report)
    loop.add_signal_handler(signal.SIGTERM, stop)
    loop.add_signal_handler(signal.SIGINT, stop)
    print(f"listening port={port}", flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
