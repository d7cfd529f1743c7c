#!/usr/bin/env python3
"""The shipped alert rules end to end, everything on 127.0.0.1.

A real `pulsewick-cli monitor` checks a TCP port nobody listens on; a real Prometheus scrapes it
with the rules; a real Alertmanager sends to a webhook receiver here. The alert for the entry must
arrive with the entry's labels, and a resolved notice once a listener makes the port answer.
The rules are the shipped ones with their "for:" durations shortened to seconds.
"""
import os
import socket
import subprocess
import sys
import threading

import engines

ALERT = "PulsewickEntryDown"


def accept_and_close(listener):
    # A pass connects every second: accepted and closed so the backlog never fills.
    try:
        while True:
            listener.accept()[0].close()
    except OSError:
        pass  # the listener was closed


def run(args, tmp, processes):
    cli = args.cli
    entry_port = engines.free_port()  # nobody listens here until the test opens a listener
    listing = os.path.join(tmp, "list.pwk")
    for command in (["new", listing], ["add", listing, "tcp", "127.0.0.1", str(entry_port)],
                    ["set", listing, "period", "1"]):
        subprocess.run([cli] + command, check=True, capture_output=True)

    webhook = engines.Webhook()

    # The monitor binds its own free port first, so no server below can be given that one.
    _, monitor_log = processes.start("monitor", [cli, "monitor", listing, "--metrics", "127.0.0.1:0"],
                                     env={"PULSEWICK_MINUTE_MS": "1000"})  # a pass every second
    metrics_port = int(engines.wait_for_line(monitor_log, r"metrics on http://127\.0\.0\.1:(\d+)/metrics").group(1))

    alertmanager_port = engines.start_alertmanager(processes, args.alertmanager, tmp, "alertmanager", f"""
route:
  receiver: test
  group_by: [alertname, address, kind, port, instance]
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: test
    webhook_configs:
      - url: {webhook.url}
        send_resolved: true
""")
    engines.start_prometheus(processes, args.prometheus, tmp, "prometheus", f"""
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files: [{engines.shortened_rules(args.rules, tmp)}]
alerting:
  alertmanagers:
    - static_configs:
        - targets: ['127.0.0.1:{alertmanager_port}']
scrape_configs:
  - job_name: pulsewick
    static_configs:
      - targets: ['127.0.0.1:{metrics_port}']
""")

    entry = {"alertname": ALERT, "address": "127.0.0.1", "kind": "tcp", "port": str(entry_port),
             "severity": "critical"}
    firing = webhook.wait_for("firing", entry, "alert for the entry that does not answer")
    summary = firing["annotations"]["summary"]
    if summary != f"127.0.0.1 (tcp {entry_port}) does not answer":
        raise AssertionError(f"unexpected summary: {summary!r}")
    print(f"firing: {firing['labels']}")

    with socket.socket() as listener:  # the entry answers again
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", entry_port))
        listener.listen(64)
        threading.Thread(target=accept_and_close, args=(listener,), daemon=True).start()
        resolved = webhook.wait_for("resolved", entry, "resolved notice once the entry answers")
    print(f"resolved: {resolved['labels']}")
    webhook.shutdown()


def main():
    return engines.run_with_engines(run, engines.parse_arguments(), "pulsewick-alert-rules-")


if __name__ == "__main__":
    sys.exit(main())
