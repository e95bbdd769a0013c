#!/usr/bin/env python3
"""Measures zentavol and zentavol-send side by side with the tools users would pick instead.

Everything runs on pseudo-terminal pairs made here; the far end is played by this script.
Prints one table (our figure, each peer's figure, the ratio) and writes it as Markdown.
"""

import argparse
import os
import platform
import random
import resource
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

XON, XOFF = 0x11, 0x13


def line_safe_stream(size, seed=1):
    """Random bytes without the two flow-control characters, which a XON/XOFF line consumes."""
    rng = random.Random(seed)
    raw = bytearray(rng.randbytes(size + size // 64 + 1024))
    clean = raw.replace(bytes([XON]), b"").replace(bytes([XOFF]), b"")
    while len(clean) < size:
        clean += b"x" * (size - len(clean))
    return bytes(clean[:size])


def make_line():
    """A pty pair whose slave is set to the programs' line: raw 9600 8N1 with XON/XOFF."""
    master, slave = os.openpty()
    tty.setraw(slave)
    attrs = termios.tcgetattr(slave)
    attrs[0] |= termios.IXON | termios.IXOFF
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    return master, slave, os.ttyname(slave)


def proc_times(pid):
    """CPU seconds the process has run, at nanosecond resolution (summed over its threads)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as f:
            total += int(f.read().split()[0])
    return total / 1e9


def proc_status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGINT)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def drain(master, stop_event):
    """Reads and drops what the slave sends back (XOFF/XON from its input flow control)."""
    while not stop_event.is_set():
        r, _, _ = select.select([master], [], [], 0.1)
        if r:
            try:
                os.read(master, 4096)
            except OSError:
                return


PYSERIAL_LOOP = r"""
import sys, serial
port = serial.Serial(sys.argv[1], 9600, bytesize=8, parity="N", stopbits=1, xonxoff=True, timeout=1)
with open(sys.argv[2], "ab") as out:
    while True:
        data = port.read(port.in_waiting or 1)
        if data:
            out.write(data)
            out.flush()
"""


def capture_command(tool, bin_dir, slave, capture):
    if tool == "zentavol":
        return [os.path.join(bin_dir, "zentavol"), slave], None
    if tool == "zentavol -t":
        return [os.path.join(bin_dir, "zentavol"), "-t", slave], None
    if tool.startswith("zentavol@"):  # another build of ours, for a before/after comparison
        return [os.path.join(tool.split("@", 1)[1], "zentavol"), slave], None
    if tool == "cat":
        return ["cat", slave], capture
    if tool == "socat -u":
        return ["socat", "-u", f"OPEN:{slave},rdonly", f"OPEN:{capture},creat,append"], None
    if tool == "pyserial":
        return ["/usr/bin/python3", "-c", PYSERIAL_LOOP, slave, capture], None
    raise ValueError(tool)


def throughput_run(tool, bin_dir, stream):
    """Pushes the stream into the far end as fast as it takes it; MiB/s and CPU s/MiB."""
    master, slave, slave_path = make_line()
    with tempfile.TemporaryDirectory() as cwd:
        capture = os.path.join(cwd, "zentavol.dat")
        argv, append_to = capture_command(tool, bin_dir, slave_path, capture)
        out = open(append_to, "ab") if append_to else subprocess.DEVNULL
        proc = subprocess.Popen(argv, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL)
        # Ready when the program holds the port (ours also announces and configures first).
        time.sleep(0.5)
        stop_event = threading.Event()
        drainer = threading.Thread(target=drain, args=(master, stop_event), daemon=True)
        drainer.start()
        cpu_before = proc_times(proc.pid)
        start = time.perf_counter()

        def feed():
            view = memoryview(stream)
            while view:
                n = os.write(master, view[:65536])
                view = view[n:]

        feeder = threading.Thread(target=feed, daemon=True)
        feeder.start()
        deadline = start + 120
        size = 0
        while time.perf_counter() < deadline:
            try:
                size = os.stat(capture).st_size
            except FileNotFoundError:
                size = 0
            if size >= len(stream):
                break
            time.sleep(0.001)
        elapsed = time.perf_counter() - start
        cpu = proc_times(proc.pid) - cpu_before
        rss_kib = proc_status(proc.pid, "VmHWM")
        stop(proc)
        stop_event.set()
        if append_to:
            out.close()
        with open(capture, "rb") as f:
            intact = f.read() == stream
        os.close(master)
        os.close(slave)
    mib = len(stream) / (1 << 20)
    return {"mibps": mib / elapsed if intact else 0.0, "cpu_per_mib": cpu / mib,
            "intact": intact, "rss_kib": rss_kib}


def measure_throughput(bin_dir, sizes, runs, tools):
    results = {}
    for size in sizes:
        stream = line_safe_stream(size)
        for tool in tools:
            samples = [throughput_run(tool, bin_dir, stream) for _ in range(runs)]
            results[(tool, size)] = samples
            mib = [s["mibps"] for s in samples]
            print(f"  throughput {tool:9s} {size >> 20:3d} MiB: median {statistics.median(mib):7.2f} MiB/s"
                  f"  spread {min(mib):.2f}..{max(mib):.2f}"
                  f"  CPU {statistics.median(s['cpu_per_mib'] for s in samples) * 1e3:.2f} ms/MiB"
                  f"  lost or reordered: "
                  f"{sum(not s['intact'] for s in samples)}", file=sys.stderr)
    return results


def measure_latency(bin_dir, count, tool="zentavol"):
    """Single bytes, spaced apart: time until each is in the capture file and on stdout."""
    master, slave, slave_path = make_line()
    with tempfile.TemporaryDirectory() as cwd:
        capture = os.path.join(cwd, "zentavol.dat")
        argv, append_to = capture_command(tool, bin_dir, slave_path, capture)
        read_end, write_end = os.pipe()
        out = open(append_to, "ab") if append_to else write_end
        proc = subprocess.Popen(argv, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL)
        os.close(write_end)
        if append_to:
            out.close()
        time.sleep(0.5)
        if not append_to:
            os.read(read_end, 4096)  # the announcement
        to_file, to_echo = [], []
        fd = os.open(capture, os.O_RDONLY | os.O_CREAT)
        for i in range(count):
            sent = time.perf_counter()
            os.write(master, b"a")
            file_at = echo_at = None
            limit = sent + 0.5
            while (file_at is None or (echo_at is None and not append_to)) and time.perf_counter() < limit:
                now = time.perf_counter()
                if file_at is None and os.fstat(fd).st_size > i:
                    file_at = now
                if echo_at is None and not append_to and select.select([read_end], [], [], 0)[0]:
                    os.read(read_end, 4096)
                    echo_at = now
            to_file.append((file_at or limit) - sent)
            if not append_to:
                to_echo.append((echo_at or limit) - sent)
            time.sleep(0.002)
        os.close(fd)
        stop(proc)
        os.close(read_end)
        os.close(master)
        os.close(slave)
    return to_file, to_echo


def measure_idle(bin_dir, seconds):
    master, slave, slave_path = make_line()
    with tempfile.TemporaryDirectory() as cwd:
        proc = subprocess.Popen([os.path.join(bin_dir, "zentavol"), slave_path], cwd=cwd,
                                stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        cpu0, wake0 = proc_times(proc.pid), proc_status(proc.pid, "voluntary_ctxt_switches")
        time.sleep(seconds)
        cpu1, wake1 = proc_times(proc.pid), proc_status(proc.pid, "voluntary_ctxt_switches")
        stop(proc)
    os.close(master)
    os.close(slave)
    return cpu1 - cpu0, wake1 - wake0


def record_starts(master, proc, timeout):
    """Arrival times of the first byte after each silence of more than half a second."""
    starts, last = [], None
    end = time.perf_counter() + timeout
    while time.perf_counter() < end:
        r, _, _ = select.select([master], [], [], 0.05)
        now = time.perf_counter()
        if r:
            try:
                os.read(master, 4096)
            except OSError:
                break
            if last is None or now - last > 0.5:
                starts.append(now)
            last = now
        elif proc.poll() is not None and (last is None or now - last > 0.2):
            break
    return starts


def measure_pacing(bin_dir, lines):
    """Our sender and ascii-xfr -l 1000 on the same file, each on its own line, side by side."""
    with tempfile.TemporaryDirectory() as cwd:
        data = os.path.join(cwd, "lines.txt")
        with open(data, "w") as f:
            for i in range(lines):
                f.write(f"line {i:02d} of the pacing test\n")
        results = {}
        threads = []

        def run(name, argv_for):
            master, slave, slave_path = make_line()
            argv, stdout = argv_for(slave_path)
            start = time.perf_counter()
            # ascii-xfr, as under minicom, wants the port on its standard input as well.
            proc = subprocess.Popen(argv, stdout=stdout if stdout is not None else subprocess.DEVNULL,
                                    stdin=stdout if stdout is not None else subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            starts = record_starts(master, proc, lines * 1.2 + 10)
            proc.wait(30)
            whole = time.perf_counter() - start
            if stdout is not None:
                stdout.close()
            gaps = [b - a for a, b in zip(starts, starts[1:])]
            results[name] = {"gaps": gaps, "whole": whole, "records": len(starts)}
            os.close(master)
            os.close(slave)

        ours = lambda slave: ([os.path.join(bin_dir, "zentavol-send"), slave, data], None)
        peer = lambda slave: (["ascii-xfr", "-s", "-n", "-l", "1000", data], open(slave, "r+b", buffering=0))
        for name, argv_for in (("zentavol-send", ours), ("ascii-xfr -l 1000", peer)):
            t = threading.Thread(target=run, args=(name, argv_for))
            t.start()
            threads.append(t)
        for t in threads:
            t.join()
    return results


def measure_memory_and_start(bin_dir, runs):
    out = {}
    with tempfile.TemporaryDirectory() as cwd:
        for size_name, size in (("1 MiB", 1 << 20), ("1 GiB", 1 << 30)):
            data = os.path.join(cwd, f"data-{size}")
            with open(data, "wb") as f:
                f.truncate(size)  # sparse: zero bytes, cut into 98-byte pieces
            master, slave, slave_path = make_line()
            proc = subprocess.Popen([os.path.join(bin_dir, "zentavol-send"), slave_path, data],
                                    stdout=subprocess.DEVNULL)
            time.sleep(3.5)  # a few records
            out[f"sender peak RSS, {size_name} data file"] = proc_status(proc.pid, "VmHWM")
            stop(proc)
            os.close(master)
            os.close(slave)
        starts = []
        for _ in range(runs):
            master, slave, slave_path = make_line()
            t0 = time.perf_counter()
            proc = subprocess.Popen([os.path.join(bin_dir, "zentavol"), slave_path], cwd=cwd,
                                    stdout=subprocess.PIPE)
            proc.stdout.readline()
            starts.append(time.perf_counter() - t0)
            stop(proc)
            os.close(master)
            os.close(slave)
    return out, starts


def measure_backlogs(bin_dir, stream_size=40 << 20):
    """Both backlogs full at once: a console nobody reads and a capture file that refuses bytes
    (a 1 MiB file size limit). Peak RSS while both hold their bound, then RSS a few seconds after
    the limit is lifted and the console read, so that both drain."""
    master, slave, slave_path = make_line()
    stream = line_safe_stream(stream_size, seed=7)
    limit = 1 << 20
    with tempfile.TemporaryDirectory() as cwd:
        read_end, write_end = os.pipe()
        hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
        proc = subprocess.Popen(
            [os.path.join(bin_dir, "zentavol"), slave_path], cwd=cwd, stdout=write_end,
            stderr=subprocess.DEVNULL,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, hard)))
        os.close(write_end)
        time.sleep(0.5)
        stop_event = threading.Event()
        drainer = threading.Thread(target=drain, args=(master, stop_event), daemon=True)
        drainer.start()
        view = memoryview(stream)
        while view:
            n = os.write(master, view[:65536])
            view = view[n:]
        time.sleep(2)  # the last chunks through the pty
        peak = proc_status(proc.pid, "VmHWM")
        full = proc_status(proc.pid, "VmRSS")
        resource.prlimit(proc.pid, resource.RLIMIT_FSIZE, (hard, hard))
        echoed = 0
        end = time.perf_counter() + 30
        quiet_since = time.perf_counter()
        while time.perf_counter() < end and time.perf_counter() - quiet_since < 2:
            r, _, _ = select.select([read_end], [], [], 0.2)
            if r:
                got = os.read(read_end, 1 << 20)
                echoed += len(got)
                quiet_since = time.perf_counter()
        time.sleep(3)  # "within a few seconds of both draining"
        drained = proc_status(proc.pid, "VmRSS")
        stored = os.stat(os.path.join(cwd, "zentavol.dat")).st_size
        stop(proc)
        stop_event.set()
        os.close(read_end)
    os.close(master)
    os.close(slave)
    return {"peak_kib": peak, "full_kib": full, "drained_kib": drained, "stored": stored,
            "echoed": echoed}


def compare_builds(before_dir, after_dir, size, runs, rounds, latency_count):
    """Interleaved A/B: each round runs `runs` captures of each build and of cat, in turn."""
    tools = [f"zentavol@{before_dir}", f"zentavol@{after_dir}", "cat"]
    names = {tools[0]: "before", tools[1]: "after", "cat": "cat"}
    stream = line_safe_stream(size)
    rounds_out = []
    for r in range(rounds):
        row = {}
        for tool in tools:
            samples = [throughput_run(tool, None, stream) for _ in range(runs)]
            row[names[tool]] = {
                "mibps": statistics.median(x["mibps"] for x in samples),
                "cpu": statistics.median(x["cpu_per_mib"] for x in samples),
                "lost": sum(not x["intact"] for x in samples),
                "rss": max(x["rss_kib"] for x in samples)}
        rounds_out.append(row)
        print(f"  round {r + 1}: " + ", ".join(
            f"{n} {v['mibps']:.1f} MiB/s {v['cpu'] * 1e3:.2f} ms/MiB" for n, v in row.items()),
            file=sys.stderr)
    latency = {}
    for tool in tools[:2]:
        to_file, to_echo = measure_latency(None, latency_count, tool=tool)
        latency[names[tool]] = (pct(to_file, 50), pct(to_file, 99), pct(to_echo, 99))
    memory = {names[t]: measure_backlogs(t.split("@", 1)[1]) for t in tools[:2]}
    lines = [f"Interleaved before/after, {size >> 20} MiB streams, median of {runs} runs a round:",
             "", "| round | build | MiB/s | ratio to cat | CPU ms/MiB | ratio to cat | lost |",
             "|---|---|---|---|---|---|---|"]
    for i, row in enumerate(rounds_out, 1):
        for name in ("before", "after", "cat"):
            v = row[name]
            lines.append(f"| {i} | {name} | {v['mibps']:.1f} | {v['mibps'] / row['cat']['mibps']:.2f} "
                         f"| {v['cpu'] * 1e3:.2f} | {v['cpu'] / row['cat']['cpu']:.2f} | {v['lost']} |")
    lines += ["", "| build | latency to file p50 / p99 (ms) | to stdout p99 (ms) | peak RSS, both "
              "backlogs full (MiB) | RSS after they drain (MiB) | bytes stored / echoed |",
              "|---|---|---|---|---|---|"]
    for name in ("before", "after"):
        p50, p99, e99 = latency[name]
        m = memory[name]
        lines.append(f"| {name} | {p50 * 1e3:.3f} / {p99 * 1e3:.3f} | {e99 * 1e3:.3f} | "
                     f"{m['peak_kib'] / 1024:.1f} | {m['drained_kib'] / 1024:.1f} | "
                     f"{m['stored']} / {m['echoed']} |")
    return "\n".join(lines) + "\n"


def measure_time_index(bin_dir, runs):
    """CPU per MiB of a continuous capture with the time index and without, interleaved."""
    stream = line_safe_stream(16 << 20)
    cpu = {"zentavol": [], "zentavol -t": []}
    for _ in range(runs):
        for tool in cpu:
            cpu[tool].append(throughput_run(tool, bin_dir, stream)["cpu_per_mib"])
    return {tool: statistics.median(values) for tool, values in cpu.items()}


def measure_show_window(bin_dir, runs):
    """zentavol-show --since/--until: a window of a few KB out of a 1 GiB capture whose index
    holds a day of entries (one a second)."""
    size = 1 << 30
    with tempfile.TemporaryDirectory() as cwd:
        capture = os.path.join(cwd, "zentavol.dat")
        with open(capture, "wb") as f:
            f.truncate(size)  # sparse: reads back as zero bytes
        day = 86400
        step = size // day
        with open(capture + ".times", "w") as f:
            f.write("2026-12-11T00:00:00.000000Z\t0\topen\t/dev/ttyUSB0\t115200 8 none 1 none\n")
            for second in range(day):
                h, m, sec = second // 3600, second // 60 % 60, second % 60
                f.write(f"2026-12-11T{h:02d}:{m:02d}:{sec:02d}.000000Z\t{second * step}\tdata\n")
        argv = [os.path.join(bin_dir, "zentavol-show"), "--utc", "--raw", "--since",
                "2026-12-11T12:00:00Z", "--until", "2026-12-11T12:00:00.3Z", capture]
        walls, cpus, shown = [], [], 0
        for _ in range(runs):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            out = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
            walls.append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpus.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            shown = len(out.stdout)
    return statistics.median(walls), statistics.median(cpus), shown


def pct(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="small sizes, short pacing run")
    parser.add_argument("--markdown", default=None)
    parser.add_argument("--only-throughput", default=None, help="tools, comma-separated")
    parser.add_argument("--compare", default=None, metavar="BEFORE_BIN_DIR",
                        help="interleaved before/after run against another build's programs")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only-index", action="store_true",
                        help="only the time index's cost and zentavol-show's window")
    args = parser.parse_args()

    if args.only_index:
        cpu = measure_time_index(args.bin_dir, args.runs)
        wall, cpu_show, shown = measure_show_window(args.bin_dir, args.runs)
        print(f"capture CPU without -t {cpu['zentavol'] * 1e3:.2f} ms/MiB, with -t "
              f"{cpu['zentavol -t'] * 1e3:.2f} ms/MiB ({cpu['zentavol -t'] / cpu['zentavol']:.2f}x)")
        print(f"zentavol-show window of {shown} bytes out of 1 GiB with a day's index: "
              f"{wall * 1e3:.1f} ms wall, {cpu_show * 1e3:.1f} ms CPU")
        return 0

    if args.compare:
        report = compare_builds(args.compare, args.bin_dir, 16 << 20, args.runs, args.rounds,
                                100 if args.quick else 500)
        print(report)
        if args.markdown:
            with open(args.markdown, "w") as f:
                f.write(report)
        return 0

    sizes = [1 << 20] if args.quick else [1 << 20, 8 << 20, 32 << 20]
    tools = ["zentavol", "cat", "socat -u", "pyserial"]
    rows = []  # (measurement, ours, peer name, peer figure, ratio)
    if args.only_throughput:
        measure_throughput(args.bin_dir, [32 << 20], args.runs, args.only_throughput.split(","))
        return 0

    print("capture throughput ...", file=sys.stderr)
    tp = measure_throughput(args.bin_dir, sizes, args.runs, tools)
    big = sizes[-1]
    ours = [s["mibps"] for s in tp[("zentavol", big)]]
    lost = sum(not s["intact"] for samples in tp.values() for s in samples)
    for tool in tools[1:]:
        theirs = [s["mibps"] for s in tp[(tool, big)]]
        rows.append((f"capture throughput, {big >> 20} MiB (MiB/s, higher is better)",
                     f"{statistics.median(ours):.1f} ({min(ours):.1f}..{max(ours):.1f})", tool,
                     f"{statistics.median(theirs):.1f} ({min(theirs):.1f}..{max(theirs):.1f})",
                     f"{statistics.median(ours) / statistics.median(theirs):.2f}"))
    for tool in tools[1:]:
        o = statistics.median(s["cpu_per_mib"] for s in tp[("zentavol", big)])
        t = statistics.median(s["cpu_per_mib"] for s in tp[(tool, big)])
        rows.append((f"capture CPU, {big >> 20} MiB (CPU s per MiB, lower is better)",
                     f"{o:.4f}", tool, f"{t:.4f}", f"{o / t:.2f}" if t else "-"))
    scaling = []
    for size in sizes:
        scaling.append((size >> 20, {tool: statistics.median(s["mibps"] for s in tp[(tool, size)])
                                     for tool in tools}))

    print("latency ...", file=sys.stderr)
    count = 100 if args.quick else 500
    to_file, to_echo = measure_latency(args.bin_dir, count)
    cat_file, _ = measure_latency(args.bin_dir, count, tool="cat")
    for p in (50, 99):
        rows.append((f"capture latency p{p}, byte to file (ms)", f"{pct(to_file, p) * 1e3:.3f}",
                     "cat", f"{pct(cat_file, p) * 1e3:.3f}",
                     f"{pct(to_file, p) / pct(cat_file, p):.2f}"))
        rows.append((f"capture latency p{p}, byte to stdout (ms)", f"{pct(to_echo, p) * 1e3:.3f}",
                     "-", "-", "-"))

    print("idle ...", file=sys.stderr)
    idle_s = 3 if args.quick else 10
    cpu, wakes = measure_idle(args.bin_dir, idle_s)
    rows.append((f"idle CPU over {idle_s} s (s)", f"{cpu:.2f}", "-", "-", "-"))
    rows.append((f"idle wake-ups over {idle_s} s", f"{wakes}", "-", "-", "-"))

    print("pacing ...", file=sys.stderr)
    lines = 10 if args.quick else 60
    pacing = measure_pacing(args.bin_dir, lines)
    o, a = pacing["zentavol-send"], pacing["ascii-xfr -l 1000"]
    err = lambda gaps, p: pct([abs(g - 1.0) for g in gaps], p) * 1e3
    for p in (50, 99):
        rows.append((f"pacing |gap - 1000 ms| p{p} (ms)", f"{err(o['gaps'], p):.2f}",
                     "ascii-xfr -l 1000", f"{err(a['gaps'], p):.2f}",
                     f"{err(o['gaps'], p) / err(a['gaps'], p):.2f}" if err(a['gaps'], p) else "-"))
    rows.append((f"pacing, whole run of {lines} lines (s)", f"{o['whole']:.2f}", "ascii-xfr -l 1000",
                 f"{a['whole']:.2f}", f"{o['whole'] / a['whole']:.2f}"))

    print("time index ...", file=sys.stderr)
    index_cpu = measure_time_index(args.bin_dir, args.runs)
    rows.append(("capture CPU with the time index, 16 MiB (ms per MiB)",
                 f"{index_cpu['zentavol -t'] * 1e3:.2f}", "zentavol without -t",
                 f"{index_cpu['zentavol'] * 1e3:.2f}",
                 f"{index_cpu['zentavol -t'] / index_cpu['zentavol']:.2f}"))
    wall, cpu_show, shown = measure_show_window(args.bin_dir, args.runs)
    rows.append((f"zentavol-show --since/--until, {shown} bytes of a 1 GiB capture with a day's "
                 "index (ms wall / ms CPU)", f"{wall * 1e3:.1f} / {cpu_show * 1e3:.1f}", "-", "-",
                 "-"))

    print("memory and start-up ...", file=sys.stderr)
    memory, starts = measure_memory_and_start(args.bin_dir, 10)
    receiver_rss = max(s["rss_kib"] for s in tp[("zentavol", big)])
    rows.append((f"receiver peak RSS after {big >> 20} MiB (KiB)", f"{receiver_rss}", "cat",
                 f"{max(s['rss_kib'] for s in tp[('cat', big)])}", "-"))
    for name, kib in memory.items():
        rows.append((f"{name} (KiB)", f"{kib}", "-", "-", "-"))
    rows.append(("start to announcement, median of 10 (ms)", f"{statistics.median(starts) * 1e3:.2f}",
                 "-", "-", "-"))

    header = "| measurement | zentavol | peer | peer's figure | ratio |\n|---|---|---|---|---|\n"
    table = header + "".join(f"| {' | '.join(r)} |\n" for r in rows)
    scale = "| stream | " + " | ".join(tools) + " |\n|---|" + "---|" * len(tools) + "\n"
    scale += "".join(f"| {mib} MiB | " + " | ".join(f"{v[t]:.1f}" for t in tools) + " |\n"
                     for mib, v in scaling)
    machine = (f"{os.cpu_count()} cores, {platform.machine()}, Linux {platform.release()}, "
               f"{lost} runs lost or reordered bytes")
    print(machine)
    print(table)
    print("throughput (MiB/s, median) against stream size:\n" + scale)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(f"Machine: {machine}\n\n{table}\nThroughput against stream size (MiB/s, median of "
                    f"{args.runs} runs):\n\n{scale}")
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
