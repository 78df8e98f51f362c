#!/usr/bin/env python3
"""Lists N captured messages page by page through the HTTP API and fetches each one's summary,
as a test suite that reads everything would. Starts the real program headless on loopback.

  bench/api/api_bench.py BUILD/src/app/quellpost [--messages 10000] [--page 50] [--runs 3]

Prints the median of the runs: pages listed and summaries read per second, with each call's
median and 99th-percentile latency. One keep-alive HTTP connection, as a client library holds."""
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
                body = (f"From: Sender {i} <s{i}@example.com>\r\nTo: r{i}@example.org\r\n"
                        f"Subject: message {i}\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
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


def run_once(binary, messages, page):
    server = Quellpost(binary)
    try:
        fill(server, messages)
        connection = http.client.HTTPConnection("127.0.0.1", server.http_port, timeout=60)
        list_times, read_times, ids = [], [], []
        started = time.perf_counter()
        for start in range(0, messages, page):
            seconds, data = timed_get(connection, f"/api/v1/messages?start={start}&limit={page}")
            list_times.append(seconds)
            ids += [m["ID"] for m in json.loads(data)["messages"]]
        listed = time.perf_counter() - started
        assert len(set(ids)) == messages, len(set(ids))
        started = time.perf_counter()
        for message_id in ids:
            seconds, _ = timed_get(connection, f"/api/v1/message/{message_id}")
            read_times.append(seconds)
        read = time.perf_counter() - started
        connection.close()
    finally:
        server.stop()
    return listed, read, list_times, read_times


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--page", type=int, default=50)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    results = [run_once(args.binary, args.messages, args.page) for _ in range(args.runs)]
    listed = statistics.median(r[0] for r in results)
    read = statistics.median(r[1] for r in results)
    list_times = [t for r in results for t in r[2]]
    read_times = [t for r in results for t in r[3]]
    pages = -(-args.messages // args.page)
    print(f"| step | calls | total (s) | calls/s | median (ms) | p99 (ms) |")
    print(f"|---|--:|--:|--:|--:|--:|")
    print(f"| list, {args.page} a page | {pages} | {listed:.2f} | {pages / listed:.0f} | "
          f"{statistics.median(list_times) * 1000:.2f} | {percentile(list_times, 0.99) * 1000:.2f} |")
    print(f"| summary of each | {args.messages} | {read:.2f} | {args.messages / read:.0f} | "
          f"{statistics.median(read_times) * 1000:.2f} | {percentile(read_times, 0.99) * 1000:.2f} |")


if __name__ == "__main__":
    main()
