#!/usr/bin/env python3
"""One session sends MESSAGES messages of SIZE bytes (lines of 76 characters) to the capture
server, in the clear or after STARTTLS, waiting for every reply as smtp-load does; prints
messages/s, MB/s and, given the server's process id, its CPU time per message. Python's smtplib
is the client: compare the two modes with each other, not with smtp-load's figures.

Usage: tls_load.py --port N --messages N --size BYTES [--starttls] [--server-pid PID]
"""
import argparse
import os
import smtplib
import time


def cpu_seconds(pid):
    if pid is None:
        return 0.0
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def message(size):
    head = b"Subject: tls load\r\n\r\n"
    line = b"x" * 76 + b"\r\n"
    body = line * ((size - len(head)) // len(line))
    return head + body + b"y" * (size - len(head) - len(body) - 2) + b"\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--messages", type=int, required=True)
    parser.add_argument("--size", type=int, required=True)
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--server-pid", type=int)
    args = parser.parse_args()
    data = message(args.size)
    cpu_before = cpu_seconds(args.server_pid)
    start = time.monotonic()
    client = smtplib.SMTP("127.0.0.1", args.port, timeout=60)
    client.ehlo()
    if args.starttls:
        client.starttls()
        client.ehlo()
    for _ in range(args.messages):
        client.sendmail("load@example.com", ["sink@example.com"], data)
    client.quit()
    elapsed = time.monotonic() - start
    cpu = cpu_seconds(args.server_pid) - cpu_before
    print(f"mode={'starttls' if args.starttls else 'clear'} messages={args.messages} size={args.size} "
          f"msgs_per_s={args.messages / elapsed:.0f} mb_per_s={args.messages * args.size / elapsed / 1e6:.1f} "
          f"server_cpu_us_per_msg={cpu / args.messages * 1e6:.0f}")


if __name__ == "__main__":
    main()
