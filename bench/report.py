#!/usr/bin/env python3
"""The table and the plot of a bench/run: reads results.tsv and machine.txt, writes table.txt, table.md and
frame-time.png, and prints the table.

A peer's time is the median wall time of its filter runs minus the median of the pass-through runs paired with
them (the same tool passing the same frame through); the filter's warm-up run stands apart as its first. The
ratio compares a line's median with the fastest peer at the same frame size and radius. The floor of an
"Exponential" pyramid line is velloran-pass-floor's time for the same passes as static shaders, run right after
it; 'x floor' divides the effect's median by it."""

import argparse
import math
import os
import statistics
import sys


def read_tsv(path):
    rows = []
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            row = {}
            for field in line.split("\t"):
                key, _, value = field.partition("=")
                row[key] = value
            rows.append(row)
    return rows


def read_machine(path):
    info = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            if key:
                info[key] = value
    return info


def samples(text):
    """Wall times in ms, the warm-up first; None when a run failed."""
    values = text.split(",") if text else []
    if not values or "failed" in values:
        return None
    return [float(v) for v in values]


def size_key(size):
    w, _, h = size.partition("x")
    return int(w) * int(h)


def peer_lines(rows):
    """(peer, size, radius) -> dict(first, median, sigma) with the pass-through of the same pairs subtracted."""
    passthrough = {}
    for r in rows:
        if r.get("kind") == "peer" and r.get("role") == "passthrough":
            s = samples(r.get("samples", ""))
            if s:
                passthrough[(r["peer"], r["size"], float(r["radius"]))] = statistics.median(s)
    out = {}
    for r in rows:
        if r.get("kind") != "peer" or r.get("role") != "filter":
            continue
        key = (r["peer"], r["size"], float(r["radius"]))
        s = samples(r.get("samples", ""))
        base = passthrough.get(key)
        if s is None or base is None:
            out[key] = {"status": "failed", "sigma": r.get("sigma", "")}
            continue
        out[key] = {
            "first": s[0] - base,
            "median": statistics.median(s[1:] or s) - base,
            "runs": str(len(s[1:] or s)),
            "sigma": r.get("sigma", ""),
            "status": "ok",
        }
    return out


def effect_lines(rows):
    """(label, size, radius) -> the effect's times; the dict keeps the order in which bench/run ran them."""
    out = {}
    for r in rows:
        if r.get("kind") != "effect":
            continue
        key = (r["label"], r["size"], float(r["radius"]))
        if r.get("status") == "failed":
            out[key] = {"status": "failed"}
            continue
        out[key] = {
            "first": float(r["first_ms"]),
            "median": float(r["median_ms"]),
            "checkout": float(r["checkout_ms"]),
            "cpu": float(r["median_cpu_ms"]) if "median_cpu_ms" in r else None,
            "output": r["output"],
            "frames": r["frames"],
            "status": "ok",
        }
    return out


def floor_lines(rows):
    """(label, size, radius) -> the pass structure's floor: wall and CPU ms."""
    out = {}
    for r in rows:
        if r.get("kind") == "floor" and r.get("status") != "failed":
            out[(r["label"], r["size"], float(r["radius"]))] = (float(r["floor_ms"]), float(r["floor_cpu_ms"]))
    return out


def ms(value):
    if value is None:
        return "-"
    if abs(value) >= 100:
        return "%.0f" % value
    if abs(value) >= 1:
        return "%.1f" % value
    if abs(value) >= 0.01:
        return "%.3f" % value
    return "%.5f" % value


def build_table(peers, effects, machine, floors=None):
    floors = floors or {}
    header = ["size", "radius", "reach (sigma px)", "line", "median ms", "of frames", "first ms",
              "in checkouts ms", "CPU ms", "floor ms", "x floor", "x floor CPU", "x fastest peer", "output"]
    body = []
    sizes = sorted({k[1] for k in list(peers) + list(effects)}, key=size_key)
    for size in sizes:
        radii = sorted({k[2] for k in list(peers) + list(effects) if k[1] == size})
        for radius in radii:
            sigma = "%.2f" % (math.sqrt(0.06) * radius / 2)
            here = {k[0]: v for k, v in peers.items() if k[1] == size and k[2] == radius}
            positive = [v["median"] for v in here.values() if v["status"] == "ok" and v["median"] > 0]
            fastest = min(positive) if positive else None

            def ratio(value):
                return "%.2f" % (value / fastest) if fastest and value is not None and value > 0 else "-"

            for name in sorted(here):
                v = here[name]
                if v["status"] != "ok":
                    body.append([size, "%g" % radius, sigma, name, "failed", "", "", "", "", "", "", "", "", ""])
                    continue
                median = v["median"]
                shown = ms(median) if median > 0 else "%s (not above pass-through)" % ms(median)
                body.append([size, "%g" % radius, sigma, name, shown, v["runs"], ms(v["first"]), "", "", "", "", "",
                             ratio(median), "peer"])
            for (label, s, r), v in effects.items():
                if s != size or r != radius:
                    continue
                if v["status"] != "ok":
                    body.append([size, "%g" % radius, sigma, label, "failed", "", "", "", "", "", "", "", "", ""])
                    continue
                # A frame without a glow is not compared with a glow.
                compared = ratio(v["median"]) if v["output"] == "glow" else "(no glow)"
                floor = floors.get((label, s, r))
                over_floor = "%.2f" % (v["median"] / floor[0]) if floor and floor[0] > 0 else "-"
                over_floor_cpu = ("%.2f" % (v["cpu"] / floor[1]) if floor and floor[1] > 0 and v.get("cpu") is not None
                                  else "-")
                body.append([size, "%g" % radius, sigma, label, ms(v["median"]), v["frames"], ms(v["first"]),
                             ms(v["checkout"]), ms(v.get("cpu")), ms(floor[0]) if floor else "-", over_floor, over_floor_cpu,
                             compared, v["output"]])
    notes = [
        "Machine: %s, %s cores; GL renderer: %s, %s; %s threads for the host, llvmpipe, GEGL and G'MIC."
        % (machine.get("cpu", "?"), machine.get("cores", "?"), machine.get("gl_renderer", "?"),
           machine.get("gl_renderer_source", "?"), machine.get("threads", "?")),
        "Run %s at commit %s (%s mode); load average before %s, after %s; GEGL %s, G'MIC %s."
        % (machine.get("date", "?"), machine.get("commit", "?"), machine.get("mode", "?"),
           machine.get("load_before", "?"), machine.get("load_after", "?"), machine.get("gegl", "?"),
           machine.get("gmic", "?")),
        "Effect: smart pre-render + render per frame, median of the frames after the first; 'first' is the "
        "first frame of a fresh process (program builds included). 'in checkouts': the part spent in the "
        "host's layer and output checkouts. 'CPU': the process's CPU time over the same commands, every thread "
        "counted (steadier than wall time on a shared machine; on a software renderer, the work itself).",
        "Floor: the same passes (upload, pre-process, down-samples, both blurs of each level, clear, blended "
        "up-samples, post-process, read-back) drawn by static shaders of the same taps into targets of the same "
        "size and format, median wall time, same renderer and threads; 'x floor' = effect median / floor, 'x floor "
        "CPU' the same with process CPU times. The "
        "effect's time also holds the host's checkouts and its copies into and out of the transfer buffers.",
        "Peers: wall time minus the same tool's pass-through of the same frame, in pairs; reach matched by the glow's "
        "widest Gaussian (sigma = 0.1225 x Radius).",
        "Output: 'glow' = more light than the input, 'unchanged' = the input's pixels, 'none' = no output "
        "written: a time without a glow does not measure a glow.",
    ]
    return header, body, notes


def text_table(header, body):
    widths = [max(len(str(row[i])) for row in [header] + body) for i in range(len(header))]
    lines = ["  ".join(str(c).ljust(w) for c, w in zip(header, widths)).rstrip()]
    lines.append("  ".join("-" * w for w in widths))
    previous = None
    for row in body:
        group = (row[0], row[1])
        if previous is not None and group != previous:
            lines.append("")
        previous = group
        lines.append("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip())
    return "\n".join(lines)


def markdown_table(header, body):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in body]
    return "\n".join(lines)


def plot(peers, effects, machine, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("report.py: matplotlib is missing (Debian: python3-matplotlib); no plot", file=sys.stderr)
        return False
    sizes = sorted({k[1] for k in list(peers) + list(effects)}, key=size_key)
    fig, axes = plt.subplots(1, len(sizes), figsize=(7.5 * len(sizes), 6), squeeze=False)
    for ax, size in zip(axes[0], sizes):
        series = {}
        for (label, s, r), v in effects.items():
            if s == size and v["status"] == "ok" and v["median"] > 0:
                series.setdefault(("effect", label, v["output"]), []).append((r, v["median"]))
        for (name, s, r), v in peers.items():
            if s == size and v["status"] == "ok" and v["median"] > 0:
                series.setdefault(("peer", name, "peer"), []).append((r, v["median"]))
        for (kind, label, output), points in series.items():
            points.sort()
            style = "--" if kind == "peer" else "-"
            marker = "s" if kind == "peer" else "o"
            name = label if output in ("glow", "peer") else "%s (output: %s)" % (label, output)
            ax.plot([p[0] for p in points], [p[1] for p in points], style, marker=marker, label=name)
        ax.set_xscale("log")
        radii = sorted({p[0] for points in series.values() for p in points})
        ax.set_xticks(radii)
        ax.set_xticklabels(["%g" % r for r in radii])
        ax.minorticks_off()
        ax.set_yscale("log")
        ax.set_xlabel("Radius (peers at sigma = 0.1225 x Radius)")
        ax.set_ylabel("frame time, ms (median)")
        ax.set_title(size)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7)
    fig.suptitle("%s, %s threads, %s" % (machine.get("cpu", "?"), machine.get("threads", "?"),
                                         machine.get("gl_renderer", "?")), fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    rows = read_tsv(args.results)
    machine = read_machine(args.machine)
    peers, effects = peer_lines(rows), effect_lines(rows)
    header, body, notes = build_table(peers, effects, machine, floor_lines(rows))
    text = "\n".join(notes) + "\n\n" + text_table(header, body) + "\n"
    with open(os.path.join(args.out, "table.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(args.out, "table.md"), "w") as f:
        f.write("\n\n".join(notes) + "\n\n" + markdown_table(header, body) + "\n")
    sys.stdout.write(text)
    plot(peers, effects, machine, os.path.join(args.out, "frame-time.png"))


if __name__ == "__main__":
    main()
