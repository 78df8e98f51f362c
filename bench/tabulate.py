"""Turns the raw figures of bench/run.sh into one Markdown table (medians) and a target check.

Usage: tabulate.py RAW.tsv META.txt "quellpost smtp-sink aiosmtpd maildev"
"""

import statistics
import sys
from collections import defaultdict

WORKLOADS = {
    "a": "(a) 1 session x 1 KB",
    "b": "(b) 10 sessions x 1 KB",
    "c": "(c) 1 MiB messages",
    "d": "(d) 20 MiB, long lines",
    "e": "(e) burst of connections",
    "f": "(f) 20 sessions x 10 x 20 MiB",
}
QP = "quellpost"
MIB = 1024 * 1024
# What Quellpost may hold beyond the bytes of its messages at its peak: the program itself, the
# viewer and the data on its way in.
MEMORY_MARGIN_MIB = 64
MEMORY_WORKLOADS = ("d", "f")


def fields(text):
    out = {}
    for item in text.split():
        if "=" in item:
            key, value = item.split("=", 1)
            out[key] = value
    return out


def number(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


def load(path):
    rows = defaultdict(list)
    with open(path) as raw:
        for line in raw:
            parts = line.rstrip("\n").split("\t")
            if len(parts) < 4:
                continue
            workload, _run, server = parts[:3]
            if parts[3].startswith("skipped="):
                rows[(workload, server)].append({"skipped": parts[3].split("=", 1)[1].replace("_", " ")})
                continue
            row = {}
            for part in parts[3:]:
                row.update(fields(part))
            held = fields(parts[-1])
            row["held"] = held.get("messages", "-")
            rows[(workload, server)].append(row)
    return rows


def median(rows, compute):
    values = [v for v in (compute(r) for r in rows) if v is not None]
    return statistics.median(values) if values else None


def cpu_us(row):
    cpu, started = number(row.get("cpu_s")), number(row.get("started"))
    return cpu * 1e6 / started if cpu is not None and started else None


def overhead(row):
    heap, base, stored, count = (number(row.get(k)) for k in ("heap_bytes", "heap_base_bytes", "stored_bytes", "messages"))
    if None in (heap, base, stored) or not count:
        return None
    return (heap - base - stored) / count


def peak_rss_mib(row):
    # run.sh reads the peak right after the load, the report a moment later, once the window has
    # shown the newest message: the later one counts whatever that showing took.
    peaks = [v for v in (number(row.get("peak_kib")), number(row.get("peak_rss_kib"))) if v]
    return max(peaks) / 1024 if peaks else None


def held_mib(row):
    stored = number(row.get("stored_bytes"))
    return stored / MIB if stored is not None else None


def excess_mib(row):
    peak, held = peak_rss_mib(row), held_mib(row)
    return peak - held if peak is not None and held is not None else None


def fmt(value, digits=0):
    if value is None:
        return "n/a"
    return f"{value:,.{digits}f}"


def main():
    raw, meta, servers = sys.argv[1], sys.argv[2], sys.argv[3].split()
    rows = load(raw)
    figures = {}
    skipped = {}
    for (workload, server), group in rows.items():
        reasons = [r["skipped"] for r in group if "skipped" in r]
        group = [r for r in group if "skipped" not in r]
        if not group:
            skipped[(workload, server)] = reasons[0]
            continue
        figures[(workload, server)] = {
            "msgs": median(group, lambda r: number(r.get("msgs_per_s"))),
            "mb": median(group, lambda r: number(r.get("mb_per_s"))),
            "cpu": median(group, cpu_us),
            "rss": median(group, lambda r: number(r.get("peak_kib")) / 1024 if number(r.get("peak_kib")) else None),
            "confirmed": median(group, lambda r: number(r.get("confirmed"))),
            "attempted": median(group, lambda r: number(r.get("attempted"))),
            "rejected": median(group, lambda r: number(r.get("rejected"))),
            "rejected_4xx": median(group, lambda r: number(r.get("rejected_4xx"))),
            "rejected_5xx": median(group, lambda r: number(r.get("rejected_5xx"))),
            "lost": median(group, lambda r: number(r.get("lost"))),
            "held_mib": median(group, held_mib),
            "budget_peak_mib": median(group, lambda r: number(r.get("budget_peak_bytes")) / MIB
                                      if number(r.get("budget_peak_bytes")) is not None else None),
            "budget_mib": median(group, lambda r: number(r.get("budget_limit_bytes")) / MIB
                                 if number(r.get("budget_limit_bytes")) is not None else None),
            "peak_mib": median(group, peak_rss_mib),
            "base_rss_mib": median(group, lambda r: number(r.get("rss_base_kib")) / 1024
                                   if number(r.get("rss_base_kib")) else None),
            "excess_mib": median(group, excess_mib),
            "heap_beyond_mib": median(group, lambda r: o * number(r.get("messages")) / MIB
                                      if (o := overhead(r)) is not None else None),
            "heap_free_mib": median(group, lambda r: number(r.get("heap_free_bytes")) / MIB
                                    if number(r.get("heap_free_bytes")) is not None else None),
            "excess_all": [excess_mib(r) for r in group],
            "held": median(group, lambda r: number(r.get("held"))),
            "overhead": median(group, overhead),
            "lag": median(group, lambda r: number(r.get("show_lag_ms"))),
            "shown": min((int(r.get("shown", "0")) for r in group), default=0) if server == QP else None,
            "runs": len(group),
            "error": next((r["first_error"].replace("_", " ") for r in group if "first_error" in r), ""),
        }

    with open(meta) as m:
        print(m.read().rstrip())
    print()
    print("| workload | server | msgs/s | MB/s | server CPU µs/msg | peak RSS MiB | confirmed | held "
          "| Quellpost ÷ this: msgs/s | Quellpost ÷ this: peak RSS |")
    print("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|")
    notes = []
    for w, title in WORKLOADS.items():
        qp = figures.get((w, QP))
        for server in servers:
            f = figures.get((w, server))
            if f is None and (w, server) in skipped:
                print(f"| {title} | {server} | skipped: {skipped[(w, server)]} | | | | | | | |")
                continue
            if f is None:
                if any(k[0] == w for k in figures):
                    print(f"| {title} | {server} | not available | | | | | | | |")
                continue
            ratio = rss_ratio = ""
            if qp and server != QP:
                ratio = fmt(qp["msgs"] / f["msgs"], 2) if qp["msgs"] and f["msgs"] else "n/a"
                rss_ratio = fmt(qp["rss"] / f["rss"], 2) if qp["rss"] and f["rss"] else "n/a"
            held = "-" if f["held"] is None else fmt(f["held"])
            print(f"| {title} | {server} | {fmt(f['msgs'])} | {fmt(f['mb'], 1)} | {fmt(f['cpu'])} | {fmt(f['rss'], 1)} "
                  f"| {fmt(f['confirmed'])}/{fmt(f['attempted'])} | {held} | {ratio} | {rss_ratio} |")
            if f["rejected"] or f["lost"]:
                notes.append(f"{title}, {server}: refused {fmt(f['rejected'])} (4xx {fmt(f['rejected_4xx'])}, "
                             f"5xx {fmt(f['rejected_5xx'])}), lost {fmt(f['lost'])} (medians)")
            if f["error"]:
                notes.append(f"{title}, {server}: first failure seen: {f['error']}")
    if notes:
        print()
        for note in notes:
            print(f"- {note}")

    memory = [(w, figures[(w, QP)]) for w in MEMORY_WORKLOADS if (w, QP) in figures]
    if memory:
        print()
        print("Quellpost's memory against the bytes it holds (medians; MiB = 2^20 bytes):")
        print()
        print("| workload | confirmed | refused | lost | held | bytes held MiB | most held at once MiB | budget MiB "
              "| RSS before the first message MiB | C heap in use beyond the bytes held MiB "
              "| C heap free after the load MiB | peak RSS MiB "
              f"| peak RSS − bytes held MiB (each run) | ≤ bytes held + {MEMORY_MARGIN_MIB} MiB |")
        print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|")
        for w, f in memory:
            each = ", ".join(fmt(v, 1) for v in f["excess_all"] if v is not None)
            ok = None if f["excess_mib"] is None else f["excess_mib"] <= MEMORY_MARGIN_MIB
            print(f"| {WORKLOADS[w]} | {fmt(f['confirmed'])}/{fmt(f['attempted'])} | {fmt(f['rejected'])} "
                  f"| {fmt(f['lost'])} | {fmt(f['held'])} | {fmt(f['held_mib'], 1)} | {fmt(f['budget_peak_mib'], 1)} "
                  f"| {fmt(f['budget_mib'], 0)} | {fmt(f['base_rss_mib'], 1)} | {fmt(f['heap_beyond_mib'], 1)} "
                  f"| {fmt(f['heap_free_mib'], 1)} "
                  f"| {fmt(f['peak_mib'], 1)} "
                  f"| {fmt(f['excess_mib'], 1)} ({each}) | {'n/a' if ok is None else 'met' if ok else 'MISSED'} |")

    print()
    print("Targets (Quellpost, ratios within this run):")

    # A target whose figures this run did not measure is left out.
    def check(name, ok, detail):
        if ok is not None:
            print(f"- {name}: {'met' if ok else 'MISSED'} ({detail})")

    def get(w, server, key):
        f = figures.get((w, server))
        return f[key] if f else None

    for w in ("a", "b"):
        qp, sink = get(w, QP, "msgs"), get(w, "smtp-sink", "msgs")
        ok = None if qp is None or sink is None else qp >= 0.5 * sink
        check(f"({w}) msgs/s >= 1/2 smtp-sink", ok, f"{fmt(qp)} vs {fmt(sink)}")
    # In the burst each message also pays for its own connection: shown in the table, not a target.
    for w in ("a", "b"):
        cpu = get(w, QP, "cpu")
        check(f"({w}) server CPU <= 150 µs/msg", None if cpu is None else cpu <= 150, f"{fmt(cpu)} µs")
    for w in ("c", "d"):
        qp, sink = get(w, QP, "mb"), get(w, "smtp-sink", "mb")
        ok = None if qp is None or sink is None else qp >= 0.5 * sink
        check(f"({w}) MB/s >= 1/2 smtp-sink", ok, f"{fmt(qp, 1)} vs {fmt(sink, 1)}")
    confirmed, attempted = get("e", QP, "confirmed"), get("e", QP, "attempted")
    check("(e) every message of the burst kept", None if confirmed is None else confirmed == attempted,
          f"{fmt(confirmed)}/{fmt(attempted)}")
    for w in WORKLOADS:
        qp, md = get(w, QP, "rss"), get(w, "maildev", "rss")
        ok = None if qp is None or md is None else qp <= 0.5 * md
        check(f"({w}) peak RSS <= 1/2 MailDev", ok, f"{fmt(qp, 1)} vs {fmt(md, 1)} MiB")
    # Per-connection state and log lines would swamp the store's share in the burst of connections.
    for w in ("a", "b"):
        o = get(w, QP, "overhead")
        check(f"({w}) heap beyond the stored bytes <= 256 B/msg", None if o is None else o <= 256, f"{fmt(o)} B")
    for w in MEMORY_WORKLOADS:
        excess = get(w, QP, "excess_mib")
        check(f"({w}) peak RSS <= bytes held + {MEMORY_MARGIN_MIB} MiB", None if excess is None else excess <= MEMORY_MARGIN_MIB,
              f"{fmt(get(w, QP, 'peak_mib'), 1)} MiB against {fmt(get(w, QP, 'held_mib'), 1)} MiB held: "
              f"{fmt(excess, 1)} MiB beyond")
    for w in WORKLOADS:
        lag, shown = get(w, QP, "lag"), get(w, QP, "shown")
        if lag is None:
            continue
        check(f"({w}) newest message shown after the load", bool(shown) and 0 <= lag <= 300,
              f"shown={shown}, {fmt(lag, 1)} ms after the last store")
    for w in WORKLOADS:
        confirmed, held = get(w, QP, "confirmed"), get(w, QP, "held")
        if confirmed is not None and held is not None and confirmed != held:
            print(f"- ({w}) Quellpost holds {fmt(held)} but confirmed {fmt(confirmed)}: MISSED")


if __name__ == "__main__":
    main()
