#!/usr/bin/env python3
"""Real SMTP with AUTH LOGIN on loopback: prints "READY <port>", then a JSON line per message."""
import json
import socket
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Handler:
    async def handle_DATA(self, server, session, envelope):
        login = session.login_data
        print(json.dumps({
            "login": login.decode("latin-1") if isinstance(login, bytes) else login,
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "data": envelope.original_content.decode("latin-1"),
        }), flush=True)
        return "250 Message accepted"


def main():
    user, password = sys.argv[1].encode(), sys.argv[2].encode()

    def authenticator(server, session, envelope, mechanism, auth_data):
        accepted = (mechanism == "LOGIN" and isinstance(auth_data, LoginPassword)
                    and auth_data.login == user and auth_data.password == password)
        # Not handled: the server itself answers a refusal with its 535 reply.
        return AuthResult(success=accepted, handled=False, auth_data=auth_data if accepted else None)

    controller = Controller(Handler(), hostname="127.0.0.1", port=free_port(),
                            authenticator=authenticator, auth_require_tls=False)
    controller.start()
    print("READY", controller.port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
