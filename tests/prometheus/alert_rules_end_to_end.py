#!/usr/bin/env python3
"""The shipped alert rules end to end, everything on 127.0.0.1.

A real `pulsewick-cli monitor` checks a TCP port nobody listens on; a real Prometheus scrapes it
with the rules; a real Alertmanager sends to a webhook receiver here. The alert for the entry must
arrive with the entry's labels, and a resolved notice once a listener makes the port answer.
The rules are the shipped ones with their "for:" durations shortened to seconds.
"""
import argparse
import http.server
import json
import os
import queue
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77  # ctest's SKIP_RETURN_CODE
WAIT_SECONDS = 180  # generous: the machine may be loaded; a normal run takes a few seconds
ALERT = "PulsewickEntryDown"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Webhook(http.server.ThreadingHTTPServer):
    """Alertmanager's webhook receiver: every notification, parsed, into a queue."""

    def __init__(self):
        self.notifications = queue.Queue()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                outer.notifications.put(json.loads(body))
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)


def wait_for_notification(webhook, status, labels, what):
    """The first alert of a notification with this status whose labels include labels."""
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        try:
            notification = webhook.notifications.get(timeout=1)
        except queue.Empty:
            continue
        for alert in notification.get("alerts", []):
            if alert.get("status") == status and labels.items() <= alert.get("labels", {}).items():
                return alert
    raise AssertionError(f"no {what} within {WAIT_SECONDS} s")


def wait_for_line(path, pattern, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as f:
            match = re.search(pattern, f.read())
        if match:
            return match
        time.sleep(0.1)
    raise AssertionError(f"no line matching {pattern!r} in {path}")


def accept_and_close(listener):
    # A pass connects every second: accepted and closed so the backlog never fills.
    try:
        while True:
            listener.accept()[0].close()
    except OSError:
        pass  # the listener was closed


class Processes:
    """Children started with their output in a log file each; ended (and their logs shown on a
    failure) at the end."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.children = []

    def start(self, name, argv, env=None):
        log = os.path.join(self.tmp, name + ".log")
        with open(log, "wb") as out:
            child = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                     env=dict(os.environ, **(env or {})), cwd=self.tmp)
        self.children.append((name, child, log))
        return log

    def end(self, show_logs):
        for name, child, log in reversed(self.children):
            child.terminate()
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
            if show_logs:
                with open(log, encoding="utf-8", errors="replace") as f:
                    sys.stderr.write(f"---- {name} ----\n{f.read()[-4000:]}\n")


def start_server(processes, name, argv_for_port, attempts=5):
    """Starts a server on a free loopback port and returns the port once it answers /-/ready. A
    port is only free until somebody binds it: when another process took it first, the server
    ends with a listen error and is started again on another port."""
    for attempt in range(attempts):
        port = free_port()
        processes.start(f"{name}-{attempt}" if attempt else name, argv_for_port(port))
        child = processes.children[-1][1]
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and child.poll() is None:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/-/ready", timeout=2) as reply:
                    if reply.status == 200:
                        return port
            except OSError:
                pass  # not listening yet, or somebody else answers there
            time.sleep(0.2)
        if child.poll() is None:
            raise AssertionError(f"{name} is not ready on port {port} after 60 s")
    raise AssertionError(f"{name} found no free port in {attempts} attempts")


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def run(args, tmp, processes):
    cli = args.cli
    entry_port = free_port()  # nobody listens here until the test opens a listener
    listing = os.path.join(tmp, "list.pwk")
    for command in (["new", listing], ["add", listing, "tcp", "127.0.0.1", str(entry_port)],
                    ["set", listing, "period", "1"]):
        subprocess.run([cli] + command, check=True, capture_output=True)

    webhook = Webhook()
    threading.Thread(target=webhook.serve_forever, daemon=True).start()

    # The monitor binds its own free port first, so no server below can be given that one.
    monitor_log = processes.start("monitor", [cli, "monitor", listing, "--metrics", "127.0.0.1:0"],
                                  env={"PULSEWICK_MINUTE_MS": "1000"})  # a pass every second
    metrics_port = int(wait_for_line(monitor_log, r"metrics on http://127\.0\.0\.1:(\d+)/metrics").group(1))

    write(os.path.join(tmp, "alertmanager.yml"), f"""
global:
  resolve_timeout: 5s
route:
  receiver: test
  group_by: [alertname, row]
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: test
    webhook_configs:
      - url: http://127.0.0.1:{webhook.server_address[1]}/
        send_resolved: true
""")
    alertmanager_port = start_server(processes, "alertmanager", lambda port: [
        args.alertmanager, "--config.file=" + os.path.join(tmp, "alertmanager.yml"),
        "--storage.path=" + os.path.join(tmp, "alertmanager-data"),
        f"--web.listen-address=127.0.0.1:{port}",
        "--cluster.listen-address=",  # no gossip: a single instance on loopback
    ])

    with open(args.rules, encoding="utf-8") as f:
        rules = re.sub(r"\bfor: \d+m\b", "for: 3s", f.read())
    write(os.path.join(tmp, "rules.yml"), rules)
    write(os.path.join(tmp, "prometheus.yml"), f"""
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files: [rules.yml]
alerting:
  alertmanagers:
    - static_configs:
        - targets: ['127.0.0.1:{alertmanager_port}']
scrape_configs:
  - job_name: pulsewick
    static_configs:
      - targets: ['127.0.0.1:{metrics_port}']
""")
    start_server(processes, "prometheus", lambda port: [
        args.prometheus, "--config.file=" + os.path.join(tmp, "prometheus.yml"),
        "--storage.tsdb.path=" + os.path.join(tmp, "prometheus-data"),
        f"--web.listen-address=127.0.0.1:{port}",
        "--rules.alert.resend-delay=1s",
    ])

    entry = {"alertname": ALERT, "job": "pulsewick", "row": "1", "address": "127.0.0.1", "kind": "tcp",
             "port": str(entry_port), "severity": "critical"}
    firing = wait_for_notification(webhook, "firing", entry, "alert for the entry that does not answer")
    summary = firing["annotations"]["summary"]
    if summary != f"127.0.0.1 (tcp {entry_port}) does not answer":
        raise AssertionError(f"unexpected summary: {summary!r}")
    print(f"firing: {firing['labels']}")

    with socket.socket() as listener:  # the entry answers again
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", entry_port))
        listener.listen(64)
        threading.Thread(target=accept_and_close, args=(listener,), daemon=True).start()
        resolved = wait_for_notification(webhook, "resolved", entry, "resolved notice once the entry answers")
    print(f"resolved: {resolved['labels']}")
    webhook.shutdown()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rules", required=True)
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)  # the children run in the temporary folder
    args.prometheus = shutil.which("prometheus")
    args.alertmanager = shutil.which("prometheus-alertmanager") or shutil.which("alertmanager")
    if not args.prometheus or not args.alertmanager:
        print("SKIPPED: needs prometheus and prometheus-alertmanager (scripts/setup.sh installs them)")
        return SKIP

    with tempfile.TemporaryDirectory(prefix="pulsewick-alert-rules-") as tmp:
        processes = Processes(tmp)
        ok = False
        try:
            run(args, tmp, processes)
            ok = True
        finally:
            processes.end(show_logs=not ok)
    return 0


if __name__ == "__main__":
    sys.exit(main())
