#!/usr/bin/env python3
"""Lists N captured messages page by page through the HTTP API, searches them for a word of their
decoded text and fetches each one's summary, as a test suite that reads everything would. Starts
the real program headless on loopback.

  bench/api/api_bench.py BUILD/src/app/quellpost [--messages 10000] [--page 50] [--searches 20] [--runs 3]

Prints the median of the runs: pages listed, searches and summaries read per second, with each
call's median and 99th-percentile latency. One keep-alive HTTP connection, as a client library
holds. Every tenth message has its text quoted-printable, with a word that only decoding shows."""
import argparse
import http.client
import json
import os
import smtplib
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "api"))
from fixture import Quellpost  # noqa: E402

SESSIONS = 10


def fill(server, count):
    def deliver(first):
        with smtplib.SMTP("127.0.0.1", server.smtp_port, timeout=60) as smtp:
            for i in range(first, count, SESSIONS):
                encoded = ("Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9 au lait\r\n"
                           if i % 10 == 0 else "\r\n")
                body = (f"From: Sender {i} <s{i}@example.com>\r\nTo: r{i}@example.org\r\n"
                        f"Subject: message {i}\r\nContent-Type: text/plain; charset=utf-8\r\n" + encoded
                        + f"line {i} of a message body that is a little longer than one word\r\n" * 12)
                smtp.sendmail(f"s{i}@example.com", [f"r{i}@example.org"], body)
    threads = [threading.Thread(target=deliver, args=(s,)) for s in range(SESSIONS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def timed_get(connection, path):
    started = time.perf_counter()
    connection.request("GET", path)
    response = connection.getresponse()
    data = response.read()
    assert response.status == 200, (path, response.status)
    return time.perf_counter() - started, data


def resident(server):
    with open(f"/proc/{server.process.pid}/status", encoding="ascii") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmRSS:"))


def run_once(binary, messages, page, searches):
    server = Quellpost(binary)
    try:
        fill(server, messages)
        before_listing = resident(server)
        connection = http.client.HTTPConnection("127.0.0.1", server.http_port, timeout=60)
        list_times, read_times, ids = [], [], []
        started = time.perf_counter()
        for start in range(0, messages, page):
            seconds, data = timed_get(connection, f"/api/v1/messages?start={start}&limit={page}")
            list_times.append(seconds)
            ids += [m["ID"] for m in json.loads(data)["messages"]]
        listed = time.perf_counter() - started
        kept = (resident(server) - before_listing) / messages
        assert len(set(ids)) == messages, len(set(ids))
        search_times = []
        for _ in range(searches):
            seconds, data = timed_get(connection, f"/api/v1/search?query=caf%C3%A9&limit={page}")
            search_times.append(seconds)
            assert json.loads(data)["messages_count"] == (messages + 9) // 10
        started = time.perf_counter()
        for message_id in ids:
            seconds, _ = timed_get(connection, f"/api/v1/message/{message_id}")
            read_times.append(seconds)
        read = time.perf_counter() - started
        connection.close()
    finally:
        server.stop()
    return listed, read, list_times, read_times, search_times, kept


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--page", type=int, default=50)
    parser.add_argument("--searches", type=int, default=20)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    results = [run_once(args.binary, args.messages, args.page, args.searches) for _ in range(args.runs)]
    listed = statistics.median(r[0] for r in results)
    read = statistics.median(r[1] for r in results)
    list_times = [t for r in results for t in r[2]]
    read_times = [t for r in results for t in r[3]]
    search_times = [t for r in results for t in r[4]]
    searched = statistics.median(sum(r[4]) for r in results)
    pages = -(-args.messages // args.page)
    print(f"| step | calls | total (s) | calls/s | median (ms) | p99 (ms) |")
    print(f"|---|--:|--:|--:|--:|--:|")
    print(f"| list, {args.page} a page | {pages} | {listed:.2f} | {pages / listed:.0f} | "
          f"{statistics.median(list_times) * 1000:.2f} | {percentile(list_times, 0.99) * 1000:.2f} |")
    print(f"| search, a word of the decoded text | {args.searches} | {searched:.2f} | {args.searches / searched:.0f} | "
          f"{statistics.median(search_times) * 1000:.2f} | {percentile(search_times, 0.99) * 1000:.2f} |")
    print(f"| summary of each | {args.messages} | {read:.2f} | {args.messages / read:.0f} | "
          f"{statistics.median(read_times) * 1000:.2f} | {percentile(read_times, 0.99) * 1000:.2f} |")
    print(f"\nresident memory the first listing added, per message: "
          f"{statistics.median(r[5] for r in results):.0f} bytes")


if __name__ == "__main__":
    main()
