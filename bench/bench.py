"""Side-by-side timing of Zavoket, curl, wget and aria2 against one nginx on 127.0.0.1.

Conditions: the full sample collection on plain loopback, the same on a link limited to
50 MB/s per connection, and a tiny collection (194 files of 1 KB). Every run goes into a fresh
empty folder and is checked for 194 byte-exact files; a wrong run counts as failed. "rerun" is
a second batch into the folder a first, untimed one filled: Zavoket against wget -N. "far" is
the sample server standing in for a far server (40 ms before each answer, one 20 MB/s link
shared by all connections), with curl one file after another, curl -Z, and the link's floor.
"""

import argparse
import csv
import datetime
import filecmp
import os
import platform
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

PORTS = {"loopback": 18194, "link-50MB/s": 18195, "tiny": 18196, "rerun": 18197, "far": 18198}
# The tools that can fetch only what changed since a folder was filled.
RERUN_TOOLS = {"zavoket", "zavoket-noflush", "wget"}
FAR_TOOLS = {"zavoket", "curl", "curl-Z"}
FAR_LATENCY_MS, FAR_LINK = 40, 20_000_000


def free(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) != 0


def nginx_conf(prefix, full, tiny):
    return f"""
worker_processes 1;
error_log {prefix}/error.log warn;
pid {prefix}/nginx.pid;
{"user root root;" if os.geteuid() == 0 else ""}
events {{ worker_connections 256; }}
http {{
    log_format bench '$connection $connection_requests $status $body_bytes_sent $uri';
    access_log {prefix}/access.log bench;
    sendfile on;
    tcp_nodelay on;
    keepalive_timeout 65;
    keepalive_requests 100000;
    types {{ image/jpeg jpg; video/mpeg mpg; }}
    client_body_temp_path {prefix}/client;
    proxy_temp_path {prefix}/proxy;
    fastcgi_temp_path {prefix}/fastcgi;
    uwsgi_temp_path {prefix}/uwsgi;
    scgi_temp_path {prefix}/scgi;
    server {{ listen 127.0.0.1:{PORTS["loopback"]}; root {full}; }}
    server {{ listen 127.0.0.1:{PORTS["link-50MB/s"]}; root {full}; limit_rate 50000000; }}
    server {{ listen 127.0.0.1:{PORTS["tiny"]}; root {tiny}; }}
    server {{ listen 127.0.0.1:{PORTS["rerun"]}; root {full}; }}
}}
"""


def command(tool, base, urls_file, folder, build, condition):
    urls = [base + p for p in PATHS]
    if tool == "zavoket":
        return [f"{build}/bench/zavoket_bench", base, folder]
    if tool == "zavoket-noflush":
        return [f"{build}/bench/zavoket_bench", "--no-flush", base, folder]
    if tool == "curl":
        return ["curl", "-s", "--remote-name-all", "--output-dir", folder] + urls
    if tool == "curl-Z":
        return ["curl", "-s", "-Z", "--parallel-max", "4", "--remote-name-all", "--output-dir",
                folder] + urls
    if tool == "wget":
        return ["wget", "-q", "-nd", "-P", folder, "-i", urls_file] + (
            ["-N"] if condition == "rerun" else [])
    if tool == "aria2":
        return ["aria2c", "-q", "-i", urls_file, "-j1", "-x1", "--file-allocation=none",
                "-d", folder]
    raise ValueError(tool)


def verify(folder, root):
    names = sorted(os.listdir(folder))
    expected = sorted(p.split("/")[1] for p in PATHS)
    if names != expected:
        return f"{len(names)} files, {len(set(names) - set(expected))} unexpected"
    for p in PATHS:
        if not filecmp.cmp(os.path.join(folder, p.split("/")[1]), os.path.join(root, p),
                           shallow=False):
            return f"{p} differs"
    return None


def disk_floor(root, folder):
    """What the disk alone needs: every file of the collection written and flushed, one after
    another, from the page cache, with no network in between."""
    for p in PATHS:
        with open(os.path.join(root, p), "rb") as source:
            data = source.read()
        fd = os.open(os.path.join(folder, p.split("/")[1]), os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            os.write(fd, data)
            os.fdatasync(fd)
        finally:
            os.close(fd)


def served(lines, far):
    """Connections and requests from the server's log: nginx's, or the sample server's."""
    if far:  # "127.0.0.1:PORT GET PATH STATUS"
        lines = [line for line in lines if " GET " in line]
        return len({line.split()[0] for line in lines}), 0
    return len({line.split()[0] for line in lines}), sum(int(line.split()[3]) for line in lines)


def run_once(tool, condition, work, roots, build, logs):
    log = logs["far" if condition == "far" else "nginx"]
    base = f"http://127.0.0.1:{PORTS[condition]}/"
    root = roots["tiny" if condition == "tiny" else "full"]
    urls_file = os.path.join(work, f"urls-{condition.replace('/', '-')}.txt")
    folder = tempfile.mkdtemp(dir=work, prefix="run-")
    if tool == "disk":
        started = time.perf_counter()
        disk_floor(root, folder)
        seconds = time.perf_counter() - started
        error = verify(folder, root)
        shutil.rmtree(folder)
        return {"tool": tool, "condition": condition, "seconds": seconds,
                "process_seconds": seconds, "peak_rss_mb": float("nan"), "connections": 0,
                "requests": 0, "body_bytes": 0, "error": error or ""}
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if condition == "rerun":  # the first batch, not timed
        subprocess.run(command(tool, base, urls_file, folder, build, condition), env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.05)
    offset = os.path.getsize(log)
    started = time.perf_counter()
    proc = subprocess.Popen(command(tool, base, urls_file, folder, build, condition), env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - started
    proc.returncode = os.waitstatus_to_exitcode(status)
    time.sleep(0.05)  # nginx writes its log line after the response
    with open(log) as f:
        f.seek(offset)
        lines = f.read().splitlines()
    connections, body_bytes = served(lines, condition == "far")
    error = verify(folder, root) if proc.returncode == 0 else f"exit {proc.returncode}"
    shutil.rmtree(folder)
    row = {"tool": tool, "condition": condition, "seconds": seconds,
           "peak_rss_mb": usage.ru_maxrss / 1024, "connections": connections,
           "requests": len(lines), "error": error or "",
           "body_bytes": body_bytes}
    row["process_seconds"] = seconds
    if tool.startswith("zavoket"):
        # The window's own clock, from the click to the ending: what a user waits for once
        # the window is open. Its start-up is in process_seconds.
        figures = dict(re.findall(r"(\w+)=(\S+)", out))
        row["seconds"] = float(figures.get("seconds", "nan"))
        row["tick_gap_ms"] = float(figures.get("max_tick_gap_ms", "nan"))
        row["stall_ms"] = float(figures.get("max_stall_ms", "nan"))
        row["idle_rss_mb"] = int(figures.get("idle_rss_kb", "0")) / 1024
    return row


def main():
    global PATHS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--tools", default="zavoket,zavoket-noflush,curl,wget,aria2,disk")
    parser.add_argument("--conditions", default="loopback,link-50MB/s,tiny,rerun,far")
    parser.add_argument("--csv", default="bench/results.csv")
    args = parser.parse_args()
    tools = args.tools.split(",")
    conditions = args.conditions.split(",")
    server = f"{args.build}/tools/zavoket-sample-server"
    PATHS = subprocess.run([server, "--paths"], check=True, capture_output=True,
                           text=True).stdout.split()

    work = tempfile.mkdtemp(prefix="zavoket-bench-")
    os.chmod(work, 0o755)
    prefix = os.path.join(work, "nginx")
    roots = {"full": os.path.join(work, "full"), "tiny": os.path.join(work, "tiny")}
    for d in ["client", "proxy", "fastcgi", "uwsgi", "scgi"]:
        os.makedirs(os.path.join(prefix, d))
    subprocess.run([server, "--profile", "full", "--write", roots["full"]], check=True)
    subprocess.run([server, "--profile", "tiny", "--write", roots["tiny"]], check=True)
    sizes = {name: [os.path.getsize(os.path.join(root, p)) for p in PATHS]
             for name, root in roots.items()}
    for condition in conditions:
        with open(os.path.join(work, f"urls-{condition.replace('/', '-')}.txt"), "w") as f:
            f.writelines(f"http://127.0.0.1:{PORTS[condition]}/{p}\n" for p in PATHS)
    for port in PORTS.values():
        if not free(port):
            sys.exit(f"bench: port {port} is taken")
    with open(os.path.join(prefix, "nginx.conf"), "w") as f:
        f.write(nginx_conf(prefix, roots["full"], roots["tiny"]))
    log = os.path.join(prefix, "access.log")
    open(log, "w").close()
    logs = {"nginx": log, "far": os.path.join(work, "far.log")}
    far = None
    if "far" in conditions:
        far = subprocess.Popen([server, "--profile", "full", "--port", str(PORTS["far"]),
                                "--latency", str(FAR_LATENCY_MS), "--link", str(FAR_LINK),
                                "--log"], stdout=open(logs["far"], "w"), stderr=subprocess.DEVNULL)
    nginx = subprocess.Popen(["nginx", "-p", prefix, "-c", os.path.join(prefix, "nginx.conf"),
                              "-g", "daemon off;"])
    try:
        for _ in range(100):
            if not free(PORTS["tiny"]) and (not far or not free(PORTS["far"])):
                break
            time.sleep(0.05)
        rows = []
        pairs = [(t, c) for t in tools + ["curl-Z"] for c in conditions
                 if (c != "rerun" or t in RERUN_TOOLS) and (c != "far" or t in FAR_TOOLS)
                 and (t != "curl-Z" or c == "far")]
        for round_number in range(args.rounds + 1):
            random.shuffle(pairs)
            for tool, condition in pairs:
                row = run_once(tool, condition, work, roots, args.build, logs)
                row["round"] = round_number
                print(f"round {round_number} {tool:16} {condition:12} {row['seconds']:7.3f} s"
                      f" {row['error']}", file=sys.stderr, flush=True)
                if round_number > 0:  # the first round only warms caches up
                    rows.append(row)
    finally:
        nginx.terminate()
        nginx.wait()
        if far:
            far.terminate()
            far.wait()
        shutil.rmtree(work, ignore_errors=True)

    with open(args.csv, "w", newline="") as f:
        fields = ["round", "tool", "condition", "seconds", "process_seconds", "peak_rss_mb",
                  "connections", "requests", "body_bytes", "tick_gap_ms", "stall_ms",
                  "idle_rss_mb", "error"]
        writer = csv.DictWriter(f, fieldnames=fields)
        writer.writeheader()
        writer.writerows(rows)

    print(f"\n{datetime.date.today()} on {platform.node()}: {os.cpu_count()} cores, "
          f"{platform.platform()}; {args.rounds} counted rounds after one warm-up\n")
    print("| condition | tool | median s | min s | max s | MB/s | x curl | peak RSS MB "
          "| connections | body MB | longest tick gap ms | longest stall ms | failed runs |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    full_mb = sum(sizes["full"]) / 1e6
    megabytes = {"loopback": full_mb, "link-50MB/s": full_mb, "tiny": sum(sizes["tiny"]) / 1e6,
                 "rerun": full_mb, "far": full_mb}
    for condition in conditions:
        medians = {}
        baseline = "wget" if condition == "rerun" else "curl"
        for tool in tools + ["curl-Z"]:
            good = [r for r in rows if r["tool"] == tool and r["condition"] == condition
                    and not r["error"]]
            if good:
                medians[tool] = statistics.median(r["seconds"] for r in good)
        if condition == "far":
            floor = sum(sizes["full"]) / FAR_LINK
            print(f"| far | link floor | {floor:.3f} | | | {FAR_LINK / 1e6:.1f} |"
                  f" {floor / medians['curl']:.2f} | | | | | | |" if "curl" in medians else "")
        for tool in tools + ["curl-Z"]:
            mine = [r for r in rows if r["tool"] == tool and r["condition"] == condition]
            good = [r for r in mine if not r["error"]]
            failed = len(mine) - len(good)
            if not mine:
                continue
            if not good:
                print(f"| {condition} | {tool} | – | – | – | – | – | – | – | – | – | – | {failed} |")
                continue
            times = [r["seconds"] for r in good]
            median = medians[tool]
            ratio = median / medians[baseline] if baseline in medians else float("nan")
            body = "" if tool == "disk" else f"{max(r['body_bytes'] for r in good) / 1e6:.1f}"
            gap = (f"{max(r['tick_gap_ms'] for r in good):.0f}"
                   if tool.startswith("zavoket") else "")
            stall = (f"{max(r['stall_ms'] for r in good):.1f}"
                     if tool.startswith("zavoket") else "")
            rss = max(r["peak_rss_mb"] for r in good)
            rss_text = "" if tool == "disk" else f"{rss:.1f}"
            idle = (f" (idle {max(r['idle_rss_mb'] for r in good):.1f})"
                    if tool.startswith("zavoket") else "")
            conns = "/".join(str(c) for c in sorted({r["connections"] for r in good}))
            print(f"| {condition} | {tool} | {median:.3f} | {min(times):.3f} | {max(times):.3f}"
                  f" | {megabytes[condition] / median:.1f} | {ratio:.2f} | {rss_text}{idle}"
                  f" | {conns} | {body} | {gap} | {stall} | {failed} |")
    print("\nOn the rerun row \"x curl\" is against wget -N, and \"body MB\" is what the server"
          " sent in the second batch.")
    print("\nZavoket's time runs from the click on its start button to the ending text (the"
          " window's start-up, about 0.2 s, is left out); the others' is their whole process."
          " Ticks of the animation clock are 200 ms apart when the window keeps up. \"disk\" is"
          " the floor: the same files written and flushed one after another from memory, with"
          " no network.")
    print(f"\nfull collection {full_mb:.1f} MB, largest file {max(sizes['full']) / 2**20:.1f} MiB;"
          f" tiny collection {megabytes['tiny'] * 1e3:.0f} KB")


if __name__ == "__main__":
    main()
