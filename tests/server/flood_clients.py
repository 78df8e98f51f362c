"""Delivers large messages from several clients at once with Python's smtplib and prints, one JSON
line per message, the reply the server gave to its end of data and the SHA-256 of the data a
server keeps (the text and its final CR LF)."""
import hashlib
import json
import smtplib
import sys
import threading

port, clients, messages, size = (int(arg) for arg in sys.argv[1:5])
lock = threading.Lock()


def body(client, number):
    marker = f"message {client}.{number}"
    line = (marker + " " + "x" * 70)[:76]
    text = [f"Subject: {marker}", ""] + [line] * (size // 78 + 1)
    return marker, "\r\n".join(text)


def deliver(client):
    smtp = None
    for number in range(messages):
        marker, text = body(client, number)
        try:
            smtp = smtp or smtplib.SMTP("127.0.0.1", port, timeout=120)
            smtp.sendmail(f"c{client}@localhost", ["to@localhost"], text)
            code = 250
        except (smtplib.SMTPException, OSError) as refusal:
            # Refused, or pushed out while it stalled on a loaded machine: the next on a new connection.
            code, smtp = getattr(refusal, "smtp_code", 421), None
        with lock:
            digest = hashlib.sha256((text + "\r\n").encode()).hexdigest()
            print(json.dumps({"marker": marker, "code": code, "sha256": digest}), flush=True)


threads = [threading.Thread(target=deliver, args=(client,)) for client in range(clients)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
