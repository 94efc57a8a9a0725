"""Side-by-side timing of Zavoket, curl, wget and aria2 against one nginx on 127.0.0.1.

Conditions: the full sample collection on plain loopback, the same on a link limited to
50 MB/s per connection, and a tiny collection (194 files of 1 KB). Every run goes into a fresh
empty folder and is checked for 194 byte-exact files; a wrong run counts as failed. "rerun" is
a second batch into the folder a first, untimed one filled: Zavoket against wget -N. "far" is
the sample server standing in for a far server (40 ms before each answer, one 20 MB/s link
shared by all connections), with curl one file after another, curl -Z, and the link's floor;
"far-rerun" a second batch from it into a filled folder (every file answered 304), and
"far-https" the same far server behind nginx over HTTPS with HTTP/2, with a certificate from a
test authority the bench makes and trusts for the run only. "flaky" is nginx behind a line that
resets the connection carrying every 40th MB and is down for 3 s once (flaky_line.py), with
wget and curl told to retry and resume. "one-connection" is nginx allowing one connection per
client address at a time (limit_conn 1).
"""

import argparse
import concurrent.futures
import csv
import datetime
import email.utils
import filecmp
import os
import platform
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

PORTS = {"loopback": 18194, "link-50MB/s": 18195, "tiny": 18196, "rerun": 18197, "far": 18198,
         "far-rerun": 18198, "far-https": 18199, "flaky": 18200, "one-connection": 18201}
# The tools that can fetch only what changed since a folder was filled.
RERUN_TOOLS = {"zavoket", "zavoket-noflush", "wget"}
# Which tools each of the other conditions compares; the plain ones take every tool but curl -Z.
CONDITION_TOOLS = {"rerun": RERUN_TOOLS, "far-rerun": {"zavoket", "wget"},
                   "far": {"zavoket", "curl", "curl-Z"}, "far-https": {"zavoket", "curl", "curl-Z"},
                   "flaky": {"zavoket", "curl", "wget", "wget-connrefused"},
                   "one-connection": {"zavoket", "curl", "curl-Z", "wget"}}
# Conditions served by the sample server itself, which logs client ports rather than nginx's
# connection numbers; and those too long to be worth a warm-up round.
FAR_SERVED = {"far", "far-rerun"}
SLOW = {"far", "far-rerun", "far-https"}
FAR_LATENCY_MS, FAR_LINK = 40, 20_000_000
RUN_LIMIT_S = 600
# Peers that only some conditions compare.
EXTRA_TOOLS = ["curl-Z", "wget-connrefused"]
FLAKY_RESET_EVERY, FLAKY_DOWN_S = 40_000_000, 3
TRUSTED_CA = "/usr/local/share/ca-certificates/zavoket-bench-test-authority.crt"


def free(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) != 0


def nginx_conf(prefix, full, tiny, tls):
    return f"""
worker_processes 1;
error_log {prefix}/error.log warn;
pid {prefix}/nginx.pid;
{"user root root;" if os.geteuid() == 0 else ""}
events {{ worker_connections 256; }}
http {{
    log_format bench '$connection $connection_requests $status $body_bytes_sent $uri $server_protocol $msec $request_time $request_method';
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
    limit_conn_zone $binary_remote_addr zone=perclient:1m;
    server {{ listen 127.0.0.1:{PORTS["one-connection"]}; root {full}; limit_conn perclient 1; }}
    upstream far {{ server 127.0.0.1:{PORTS["far"]}; keepalive 16; }}
    server {{
        listen 127.0.0.1:{PORTS["far-https"]} ssl http2;
        ssl_certificate {tls}/server.crt;
        ssl_certificate_key {tls}/server.key;
        location / {{
            proxy_pass http://far;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            # Streamed as it comes: the far server's link is what is being measured.
            proxy_buffering off;
            proxy_buffer_size 64k;
            proxy_buffers 4 64k;
        }}
    }}
}}
"""


def make_authority(tls):
    """A test authority of the bench's own and a certificate it signs for 127.0.0.1."""
    os.makedirs(tls)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["openssl", "req", "-x509", *ec, "-keyout", f"{tls}/ca.key", "-out",
                    f"{tls}/ca.crt", "-days", "2", "-subj", "/CN=Zavoket bench test authority",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"], **quiet)
    subprocess.run(["openssl", "req", *ec, "-keyout", f"{tls}/server.key", "-out",
                    f"{tls}/server.csr", "-subj", "/CN=127.0.0.1"], **quiet)
    with open(f"{tls}/server.ext", "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "extendedKeyUsage=serverAuth\n")
    subprocess.run(["openssl", "x509", "-req", "-in", f"{tls}/server.csr", "-CA",
                    f"{tls}/ca.crt", "-CAkey", f"{tls}/ca.key", "-CAcreateserial", "-out",
                    f"{tls}/server.crt", "-days", "2", "-extfile", f"{tls}/server.ext"], **quiet)


def as_root(argv):
    return argv if os.geteuid() == 0 else ["sudo"] + argv


def trust(ca):
    """Adds the test authority to the system's bundle (which Debian's libcurl reads), or with
    ca None takes it away again."""
    if ca:
        subprocess.run(as_root(["install", "-m", "644", ca, TRUSTED_CA]), check=True)
    elif os.path.exists(TRUSTED_CA):
        subprocess.run(as_root(["rm", "-f", TRUSTED_CA]), check=True)
    subprocess.run(as_root(["update-ca-certificates"]), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    if not ca:  # update-ca-certificates leaves the links to a removed authority behind
        name = os.path.splitext(os.path.basename(TRUSTED_CA))[0]
        links = [os.path.join("/etc/ssl/certs", entry) for entry in os.listdir("/etc/ssl/certs")]
        stale = [link for link in links if os.path.islink(link) and name in os.readlink(link)]
        if stale:
            subprocess.run(as_root(["rm", "-f"] + stale), check=True)



def command(tool, base, urls_file, folder, build, condition):
    urls = [base + p for p in PATHS]
    if tool == "zavoket":
        return [f"{build}/bench/zavoket_bench", base, folder]
    if tool == "zavoket-noflush":
        return [f"{build}/bench/zavoket_bench", "--no-flush", base, folder]
    if tool == "curl":
        retry = ["--retry", "5", "--retry-all-errors", "-C", "-"] if condition == "flaky" else []
        return ["curl", "-s", *retry, "--remote-name-all", "--output-dir", folder] + urls
    if tool == "curl-Z":
        return ["curl", "-s", "-Z", "--parallel-max", "4", "--remote-name-all", "--output-dir",
                folder] + urls
    if tool == "wget":
        return ["wget", "-q", "-nd", "-P", folder, "-i", urls_file] + (
            ["-N"] if condition in ("rerun", "far-rerun") else []) + (
            ["--tries=20", "--waitretry=1", "-c"] if condition == "flaky" else [])
    if tool == "wget-connrefused":  # wget gives a file up at a refused connection without it
        return command("wget", base, urls_file, folder, build, condition) + [
            "--retry-connrefused"]
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


def base_url(condition):
    scheme = "https" if condition == "far-https" else "http"
    return f"{scheme}://127.0.0.1:{PORTS[condition]}/"


def served(lines, far):
    """From the server's log, nginx's or the sample server's: connections, connections that
    carried a file (or its 304), body bytes, busy answers (503), 304 answers, protocols, and the
    most requests under way at once (nginx only: from when each ended and how long it took)."""
    if far:  # "127.0.0.1:PORT METHOD PATH STATUS"
        fields = [line.split() for line in lines if " GET " in line or " HEAD " in line]
        carried = len({f[0] for f in fields if f[-1] in ("200", "206", "304")})
        return (len({f[0] for f in fields}), carried, 0, 0,
                sum(f[-1] == "304" for f in fields), "", "",
                sum(f[1] == "HEAD" for f in fields))
    fields = [line.split() for line in lines]
    carried = len({f[0] for f in fields if f[2] in ("200", "206", "304")})
    events = sorted(e for f in fields for e in ((float(f[6]) - float(f[7]), 1), (float(f[6]), -1)))
    under_way = most = 0
    for _, step in events:
        under_way += step
        most = max(most, under_way)
    return (len({f[0] for f in fields}), carried, sum(int(f[3]) for f in fields),
            sum(f[2] == "503" for f in fields), sum(f[2] == "304" for f in fields),
            "/".join(sorted({f[5] for f in fields})), most, sum(f[8] == "HEAD" for f in fields))


def run_once(tool, condition, work, roots, build, logs):
    log = logs["far" if condition in FAR_SERVED else "nginx"]
    base = base_url(condition)
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
    if condition in ("rerun", "far-rerun"):  # the first batch, not timed, from nginx nearby
        fill = "rerun"
        subprocess.run(command(tool, base_url(fill), os.path.join(work, f"urls-{fill}.txt"),
                               folder, build, fill),
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    line = proc = watchdog = None
    try:
        if condition == "flaky":
            line = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__),
                                                                  "flaky_line.py"),
                                     "--listen", str(PORTS["flaky"]),
                                     "--to", str(PORTS["loopback"]),
                                     "--reset-every", str(FLAKY_RESET_EVERY),
                                     "--down", str(FLAKY_DOWN_S), "--lifetime", "600"],
                                    stdout=subprocess.PIPE, text=True)
            wait_listening([PORTS["flaky"]])
        time.sleep(0.05)
        offset = os.path.getsize(log)
        started = time.perf_counter()
        with tempfile.TemporaryFile("w+") as out_file, tempfile.TemporaryFile("w+") as err_file:
            proc = subprocess.Popen(command(tool, base, urls_file, folder, build, condition),
                                    env=env, stdout=out_file, stderr=err_file)
            watchdog = threading.Timer(RUN_LIMIT_S, proc.kill)  # no run goes on for ever
            watchdog.daemon = True
            watchdog.start()
            _, status, usage = os.wait4(proc.pid, 0)
            seconds = time.perf_counter() - started
            proc.returncode = os.waitstatus_to_exitcode(status)
            out_file.seek(0)
            err_file.seek(0)
            out, err = out_file.read(), err_file.read()
        resets = ""
        if line:
            line.terminate()
            figures = dict(re.findall(r"(\w+)=(\S+)", line.communicate(timeout=30)[0]))
            resets = figures.get("resets", "")
    finally:  # a bench cut short leaves neither the tool nor the line running
        if watchdog:
            watchdog.cancel()
        for child in (proc, line):
            if child and child.returncode is None:
                child.kill()
                child.wait()
    time.sleep(0.05)  # nginx writes its log line after the response
    with open(log) as f:
        f.seek(offset)
        lines = f.read().splitlines()
    connections, carried, body_bytes, busy, not_modified, protocols, most, heads = served(
        lines, condition in FAR_SERVED)
    error = verify(folder, root) if proc.returncode == 0 else f"exit {proc.returncode}"
    if error and tool.startswith("zavoket"):
        error += " " + " ".join(out.split())[:200]
    shutil.rmtree(folder)
    row = {"tool": tool, "condition": condition, "seconds": seconds,
           "peak_rss_mb": usage.ru_maxrss / 1024, "connections": connections,
           "requests": len(lines), "error": error or "", "file_connections": carried,
           "body_bytes": body_bytes, "busy_answers": busy, "protocol": protocols,
           "not_modified": not_modified, "most_under_way": most, "heads": heads,
           "resets": resets}
    row["process_seconds"] = seconds
    if tool.startswith("zavoket"):
        # The window's own clock, from the click to the ending: what a user waits for once
        # the window is open. Its start-up is in process_seconds.
        figures = dict(re.findall(r"(\w+)=(\S+)", out))
        row["seconds"] = float(figures.get("seconds", "nan"))
        row["tick_gap_ms"] = float(figures.get("max_tick_gap_ms", "nan"))
        row["stall_ms"] = float(figures.get("max_stall_ms", "nan"))
        row["idle_rss_mb"] = int(figures.get("idle_rss_kb", "0")) / 1024
        # What the status bar said while a file waited to be asked for again.
        notes = [l.split("status=", 1)[1] for l in err.splitlines() if l.startswith("status=")]
        row["status_notes"] = len(notes)
        row["status_sample"] = notes[0] if notes else ""
    return row


# Straight to 127.0.0.1, whatever proxy the environment names.
LOOPBACK = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def served_times(root):
    """Gives each file of the collection nginx serves the time the far server says it was last
    changed, so that a folder filled from nginx is up to date for the far server too."""
    def head(path):
        request = urllib.request.Request(f"http://127.0.0.1:{PORTS['far']}/{path}", method="HEAD")
        with LOOPBACK.open(request, timeout=30) as answer:
            when = email.utils.parsedate_to_datetime(answer.headers["Last-Modified"]).timestamp()
        os.utime(os.path.join(root, path), (when, when))
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        list(pool.map(head, PATHS))


def wait_listening(ports):
    for _ in range(200):
        if not any(free(p) for p in ports):
            return
        time.sleep(0.05)
    sys.exit(f"bench: nothing listens on {ports}")


def main():
    global PATHS
    # A bench told to stop stops its servers and takes its test authority away on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--tools", default="zavoket,zavoket-noflush,curl,wget,aria2,disk")
    parser.add_argument("--conditions", default="loopback,link-50MB/s,tiny,rerun,far,far-rerun,"
                        "far-https,flaky,one-connection")
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
    tls = os.path.join(work, "tls")
    roots = {"full": os.path.join(work, "full"), "tiny": os.path.join(work, "tiny")}
    for d in ["client", "proxy", "fastcgi", "uwsgi", "scgi"]:
        os.makedirs(os.path.join(prefix, d))
    subprocess.run([server, "--profile", "full", "--write", roots["full"]], check=True)
    subprocess.run([server, "--profile", "tiny", "--write", roots["tiny"]], check=True)
    sizes = {name: [os.path.getsize(os.path.join(root, p)) for p in PATHS]
             for name, root in roots.items()}
    for condition in PORTS:
        with open(os.path.join(work, f"urls-{condition.replace('/', '-')}.txt"), "w") as f:
            f.writelines(f"{base_url(condition)}{p}\n" for p in PATHS)
    for port in set(PORTS.values()):
        if not free(port):
            sys.exit(f"bench: port {port} is taken")
    make_authority(tls)
    with open(os.path.join(prefix, "nginx.conf"), "w") as f:
        f.write(nginx_conf(prefix, roots["full"], roots["tiny"], tls))
    log = os.path.join(prefix, "access.log")
    open(log, "w").close()
    logs = {"nginx": log, "far": os.path.join(work, "far.log")}
    far = None
    nginx = None
    trusted = False
    try:
        if {"far", "far-rerun", "far-https"} & set(conditions):
            far = subprocess.Popen([server, "--profile", "full", "--port", str(PORTS["far"]),
                                    "--latency", str(FAR_LATENCY_MS), "--link", str(FAR_LINK),
                                    "--log"], stdout=open(logs["far"], "w"),
                                   stderr=subprocess.DEVNULL)
        if far:
            wait_listening([PORTS["far"]])
            served_times(roots["full"])
        if "far-https" in conditions:
            trusted = True
            trust(os.path.join(tls, "ca.crt"))
        nginx = subprocess.Popen(["nginx", "-p", prefix, "-c",
                                  os.path.join(prefix, "nginx.conf"), "-g", "daemon off;"])
        wait_listening([PORTS["tiny"], PORTS["far-https"]] + ([PORTS["far"]] if far else []))
        rows = []
        pairs = [(t, c) for t in tools + EXTRA_TOOLS for c in conditions
                 if t in CONDITION_TOOLS.get(c, set(tools))]
        for round_number in range(args.rounds + 1):
            random.shuffle(pairs)
            for tool, condition in pairs:
                if round_number == 0 and condition in SLOW:
                    continue  # the warm-up round only fills caches; these take long
                row = run_once(tool, condition, work, roots, args.build, logs)
                row["round"] = round_number
                print(f"round {round_number} {tool:16} {condition:14} {row['seconds']:7.3f} s"
                      f" {row['connections']} connections {row['error']}", file=sys.stderr,
                      flush=True)
                if round_number > 0:  # the first round only warms caches up
                    rows.append(row)
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait()
        if far:
            far.terminate()
            far.wait()
        if trusted:
            trust(None)
        shutil.rmtree(work, ignore_errors=True)

    with open(args.csv, "w", newline="") as f:
        fields = ["round", "tool", "condition", "seconds", "process_seconds", "peak_rss_mb",
                  "connections", "file_connections", "requests", "most_under_way",
                  "busy_answers", "not_modified", "heads", "resets", "protocol", "body_bytes",
                  "tick_gap_ms", "stall_ms", "idle_rss_mb", "status_notes", "status_sample",
                  "error"]
        writer = csv.DictWriter(f, fieldnames=fields)
        writer.writeheader()
        writer.writerows(rows)

    print(f"\n{datetime.date.today()} on {platform.node()}: {os.cpu_count()} cores, "
          f"{platform.platform()}; {args.rounds} counted rounds after one warm-up (none for "
          f"{', '.join(sorted(SLOW))})\n")
    print("| condition | tool | median s | min s | max s | MB/s | x curl | peak RSS MB "
          "| connections | body MB | longest tick gap ms | longest stall ms | notes "
          "| failed runs |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    full_mb = sum(sizes["full"]) / 1e6
    floor = sum(sizes["full"]) / FAR_LINK
    for condition in conditions:
        megabytes = sum(sizes["tiny" if condition == "tiny" else "full"]) / 1e6
        medians = {}
        baseline = "wget" if condition in ("rerun", "far-rerun", "flaky") else "curl"
        for tool in tools + EXTRA_TOOLS:
            good = [r for r in rows if r["tool"] == tool and r["condition"] == condition
                    and not r["error"]]
            if good:
                medians[tool] = statistics.median(r["seconds"] for r in good)
        if condition in ("far", "far-https") and "curl" in medians:
            print(f"| {condition} | link floor | {floor:.3f} | | | {FAR_LINK / 1e6:.1f} |"
                  f" {floor / medians['curl']:.2f} | | | | | | | |")
        if baseline == "wget" and "wget" not in medians:
            baseline = "wget-connrefused"
        for tool in tools + EXTRA_TOOLS:
            mine = [r for r in rows if r["tool"] == tool and r["condition"] == condition]
            good = [r for r in mine if not r["error"]]
            failed = len(mine) - len(good)
            if not mine:
                continue
            name = label(tool, condition)
            if not good:
                print(f"| {condition} | {name} | – | – | – | – | – | – | – | – | – | – |"
                      f" {mine[0]['error'][:80]} | {failed} |")
                continue
            times = [r["seconds"] for r in good]
            median = medians[tool]
            ratio = median / medians[baseline] if baseline in medians else float("nan")
            far_served = condition in FAR_SERVED
            body = ("" if tool == "disk" or far_served
                    else f"{max(r['body_bytes'] for r in good) / 1e6:.1f}")
            gap = (f"{max(r['tick_gap_ms'] for r in good):.0f}"
                   if tool.startswith("zavoket") else "")
            stall = (f"{max(r['stall_ms'] for r in good):.1f}"
                     if tool.startswith("zavoket") else "")
            rss = max(r["peak_rss_mb"] for r in good)
            rss_text = "" if tool == "disk" else f"{rss:.1f}"
            idle = (f" (idle {max(r['idle_rss_mb'] for r in good):.1f})"
                    if tool.startswith("zavoket") else "")
            conns = "/".join(str(c) for c in sorted({r["connections"] for r in good}))
            notes = []
            if condition in ("far", "far-https"):
                notes.append(f"{median / floor:.3f} x floor")
            if condition == "far-https":
                notes.append("/".join(sorted({r["protocol"] for r in good})))
            most = max(r.get("most_under_way") or 0 for r in good)
            if most > 1:  # nginx logs to the millisecond: shorter requests do not show
                notes.append(f"at most {most} under way")
            if condition in ("rerun", "far-rerun"):
                notes.append(f"{min(r['not_modified'] for r in good)} answered 304, "
                             f"{min(r['heads'] for r in good)} HEAD")
            busy = max(r.get("busy_answers", 0) for r in good)
            if busy:
                notes.append(f"{busy} answered 503; "
                             f"{max(r['file_connections'] for r in good)} carried files")
            if condition == "flaky":
                notes.append(f"{max(int(r['resets'] or 0) for r in good)} resets")
            retries = max(r.get("status_notes", 0) for r in good)
            if retries:
                notes.append(f"{retries} retry notes in the status bar")
            print(f"| {condition} | {name} | {median:.3f} | {min(times):.3f} | {max(times):.3f}"
                  f" | {megabytes / median:.1f} | {ratio:.2f} | {rss_text}{idle}"
                  f" | {conns} | {body} | {gap} | {stall} | {'; '.join(notes)} | {failed} |")
    samples = {r["status_sample"] for r in rows if r.get("status_sample")}
    if samples:
        print("\nThe status bar while a file waited to be asked for again: "
              + " / ".join(sorted(samples)[:3]))
    print("\nOn the rerun rows and the flaky one \"x curl\" is against wget, and \"body MB\" is"
          " what nginx sent in that batch.")
    print("\nZavoket's time runs from the click on its start button to the ending text (the"
          " window's start-up, about 0.2 s, is left out); the others' is their whole process."
          " Ticks of the animation clock are 200 ms apart when the window keeps up. \"disk\" is"
          " the floor: the same files written and flushed one after another from memory, with"
          " no network.")
    print(f"\nfull collection {full_mb:.1f} MB, largest file {max(sizes['full']) / 2**20:.1f} MiB;"
          f" tiny collection {sum(sizes['tiny']):,} bytes")


def label(tool, condition):
    if tool == "wget" and condition in ("rerun", "far-rerun"):
        return "wget -N"
    if tool == "wget" and condition == "flaky":
        return "wget --tries=20 --waitretry=1 -c"
    if tool == "curl" and condition == "flaky":
        return "curl --retry 5 --retry-all-errors -C -"
    if tool == "wget-connrefused":
        return "wget --tries=20 --waitretry=1 -c --retry-connrefused"
    if tool == "curl-Z":
        return "curl -Z"
    return tool

if __name__ == "__main__":
    main()
