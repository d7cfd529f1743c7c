"""Real Prometheus and Alertmanager servers for the end-to-end tests of the alert rules: starting
them with their configuration, asking them, a webhook receiver, and the children's lifetimes."""
import argparse
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

SKIP = 77  # ctest's SKIP_RETURN_CODE
WAIT_SECONDS = 180  # generous: the machine may be loaded; a normal run takes a few seconds
FOR_SECONDS = 3  # every "for:" of the rules, shortened for the tests


def find_engines():
    """(prometheus, alertmanager), or None when one is missing."""
    prometheus = shutil.which("prometheus")
    alertmanager = shutil.which("prometheus-alertmanager") or shutil.which("alertmanager")
    return (prometheus, alertmanager) if prometheus and alertmanager else None


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--rules", required=True)
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)  # the children run in the temporary folder
    args.rules = os.path.abspath(args.rules)
    return args


def run_with_engines(run, args, prefix):
    """run(args, tmp, processes) with args.prometheus and args.alertmanager set, in a temporary
    folder, its children ended after it; returns 0, or SKIP without the engines."""
    found = find_engines()
    if not found:
        print("SKIPPED: needs prometheus and prometheus-alertmanager (scripts/setup.sh installs them)")
        return SKIP
    args.prometheus, args.alertmanager = found
    with tempfile.TemporaryDirectory(prefix=prefix) as tmp:
        processes = Processes(tmp)
        ok = False
        try:
            run(args, tmp, processes)
            ok = True
        finally:
            processes.end(show_logs=not ok)
    return 0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def wait_until(condition, what, seconds=WAIT_SECONDS):
    """condition's first true value, asked every 0.2 s."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"no {what} within {seconds} s")


def wait_for_line(path, pattern, seconds=60):
    def match():
        with open(path, encoding="utf-8", errors="replace") as f:
            return re.search(pattern, f.read())
    return wait_until(match, f"line matching {pattern!r} in {path}", seconds)


class Processes:
    """Children started with their output in a log file each; ended (and their logs shown on a
    failure) at the end. A child dies with this process, should it be killed first."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.children = {}

    def start(self, name, argv, env=None):
        log = os.path.join(self.tmp, name + ".log")
        with open(log, "wb") as out:
            child = subprocess.Popen(["setpriv", "--pdeathsig", "KILL", "--"] + argv, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=subprocess.STDOUT, env=dict(os.environ, **(env or {})),
                                     cwd=self.tmp)
        self.children[name] = (child, log)
        return child, log

    def kill(self, name):
        child = self.children[name][0]
        child.kill()
        child.wait()

    def end(self, show_logs):
        for name, (child, log) in reversed(self.children.items()):
            child.terminate()
            try:
                child.wait(timeout=10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
            if show_logs:
                with open(log, encoding="utf-8", errors="replace") as f:
                    sys.stderr.write(f"---- {name} ----\n{f.read()[-4000:]}\n")


class Webhook(http.server.ThreadingHTTPServer):
    """Alertmanager's webhook receiver on 127.0.0.1: keeps every notification, parsed."""

    def __init__(self):
        self.notifications = []
        self.lock = threading.Lock()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                with outer.lock:
                    outer.notifications.append(json.loads(body))
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/"

    def matching(self, status, labels):
        """Per notification that holds one, its first alert with this status and these labels."""
        with self.lock:
            notifications = list(self.notifications)
        found = []
        for notification in notifications:
            for alert in notification.get("alerts", []):
                if alert.get("status") == status and labels.items() <= alert.get("labels", {}).items():
                    found.append(alert)
                    break
        return found

    def instances(self, status, labels):
        """The distinct alerts among matching(): a cluster delivers at least once, and the same
        alert (fingerprint and start) sent again by a second Alertmanager is not a second alert."""
        return {(alert.get("fingerprint"), alert.get("startsAt")) for alert in self.matching(status, labels)}

    def wait_for(self, status, labels, what):
        return wait_until(lambda: self.matching(status, labels), what)[0]

    def alert_names(self):
        with self.lock:
            return {alert["labels"]["alertname"] for n in self.notifications for alert in n.get("alerts", [])}


def start_server(processes, name, argv_for_port, port=None, attempts=5):
    """Starts a server and returns its port once it answers /-/ready. Without a port given, on a
    free one: a port is only free until somebody binds it, so when another process took it first
    and the server ends with a listen error, it is started again on another port."""
    for attempt in range(attempts if port is None else 1):
        chosen = port or free_port()
        child, _ = processes.start(f"{name}-{attempt}" if attempt else name, argv_for_port(chosen))
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and child.poll() is None:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{chosen}/-/ready", timeout=2) as reply:
                    if reply.status == 200:
                        return chosen
            except OSError:
                pass  # not listening yet, or somebody else answers there
            time.sleep(0.2)
        if child.poll() is None:
            raise AssertionError(f"{name} is not ready on port {chosen} after 60 s")
    raise AssertionError(f"{name} could not start (see its log)")


def shortened_rules(rules, tmp):
    """A copy of the rule file whose "for:" durations are FOR_SECONDS; returns its path."""
    with open(rules, encoding="utf-8") as f:
        text = re.sub(r"\bfor: \d+m\b", f"for: {FOR_SECONDS}s", f.read())
    path = os.path.join(tmp, "rules.yml")
    write(path, text)
    return path


def start_alertmanager(processes, alertmanager, tmp, name, config, port=None, cluster=""):
    """cluster: the --cluster.* arguments (none: a single instance without gossip)."""
    path = os.path.join(tmp, name + ".yml")
    write(path, config)
    return start_server(processes, name, lambda chosen: [
        alertmanager, "--config.file=" + path, "--storage.path=" + os.path.join(tmp, name + "-data"),
        f"--web.listen-address=127.0.0.1:{chosen}"] + (cluster.split() or ["--cluster.listen-address="]), port)


def start_prometheus(processes, prometheus, tmp, name, config, port=None):
    path = os.path.join(tmp, name + ".yml")
    write(path, config)
    return start_server(processes, name, lambda chosen: [
        prometheus, "--config.file=" + path, "--storage.tsdb.path=" + os.path.join(tmp, name + "-data"),
        f"--web.listen-address=127.0.0.1:{chosen}"], port)


class PrometheusApi:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}/api/v1/"

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=10) as reply:
            return json.load(reply)["data"]

    def values(self, expr):
        """The instant query's values as floats, in the server's order."""
        result = self.get("query?" + urllib.parse.urlencode({"query": expr}))["result"]
        return [float(sample["value"][1]) for sample in result]

    def active_alerts(self, alertname):
        """The alerts of that name that are pending or firing now."""
        return [a for a in self.get("alerts")["alerts"] if a["labels"]["alertname"] == alertname]
