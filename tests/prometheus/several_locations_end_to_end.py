#!/usr/bin/env python3
"""Several locations end to end, with the real engines and the shipped rules.

Three `pulsewick-cli monitor` processes, each in a network namespace of its own (a location),
probe one host by ICMP, and a second host behind it (--behind); two Prometheus servers (replicas)
scrape all three and send to both Alertmanagers of a cluster, with the shipped inhibit rules, which
send to one webhook receiver. The hosts are reachable from all locations, then from two, one and
none, then from all again; then one location is cut off from its uplink (--uplink, its own
gateway); last one monitor is killed. Each location has a link of its own to the hosts, cut by an
unreachable route. The host behind never alerts on its own.

Everything lives in namespaces of the test's own: the test re-runs itself in a new network
namespace (with a user namespace of its own when not root), where the servers use loopback, and
every namespace is held by a child that dies with the test, so nothing is left behind.
"""
import json
import os
import subprocess
import sys
import time
import urllib.parse
import urllib.request

import engines

INSIDE = "PULSEWICK_SEVERAL_LOCATIONS_INSIDE"
LOCATIONS = ("a", "b", "c")
HOST = "10.28.0.1"  # the probed host, one address however it is reached
BEHIND = "10.28.0.2"  # a host behind it
HOSTS = "10.28.0.0/30"
METRICS_PORT = 7979
PROMETHEUS_PORTS = {"1": 9090, "2": 9091}
ALERTMANAGER_PORTS = {"1": (9093, 9094), "2": (9193, 9194)}  # web, cluster
# The second Alertmanager of the cluster waits this long before it sends what the first has not.
# Each waits a group interval between its flushes, and the second's wait must end within it: a
# longer wait puts the two out of step, and the second sends a state the first has since changed.
PEER_TIMEOUT_SECONDS = 2
GROUP_INTERVAL_SECONDS = 4


class Namespace:
    """A network namespace with loopback up, held by a sleeping child; pid None: the test's own."""

    def __init__(self, processes=None, name=None):
        self.prefix = []
        self.pid = None
        if processes:
            child, _ = processes.start(name, ["unshare", "--net", "--", "sleep", "infinity"])
            own = os.readlink("/proc/self/ns/net")
            engines.wait_until(lambda: os.readlink(f"/proc/{child.pid}/ns/net") != own, f"namespace {name}", 30)
            self.pid = child.pid
            self.prefix = ["nsenter", "-t", str(child.pid), "-n", "--"]
        self.ip("link", "set", "lo", "up")

    def ip(self, *args):
        subprocess.run(self.prefix + ["ip"] + list(args), check=True, capture_output=True)


def link(one, one_device, one_address, other, other_device, other_address):
    """A veth pair between two namespaces, with an address on each end (a /24)."""
    one.ip("link", "add", one_device, "type", "veth", "peer", "name", other_device, "netns", str(other.pid))
    for ns, device, address in ((one, one_device, one_address), (other, other_device, other_address)):
        ns.ip("addr", "add", address + "/24", "dev", device)
        ns.ip("link", "set", device, "up")


class Location:
    """A monitor's namespace: a link to the test's namespace (where Prometheus scrapes it) and an
    uplink of its own to the host."""

    def __init__(self, processes, hub, host, number, name):
        self.name = name
        self.ns = Namespace(processes, "ns-" + name)
        self.metrics = f"10.27.{number}.2:{METRICS_PORT}"
        link(hub, "mon-" + name, f"10.27.{number}.1", self.ns, "hub", f"10.27.{number}.2")
        link(host, "mon-" + name, f"10.28.{number}.1", self.ns, "uplink", f"10.28.{number}.2")
        self.gateway = f"10.28.{number}.1"
        self.reach_host(True)

    def reach_host(self, reachable):
        """Mends or cuts the link to the hosts; cut, an unreachable route fails every probe at once."""
        route = [HOSTS, "via", self.gateway] if reachable else ["unreachable", HOSTS]
        self.ns.ip("route", "replace", *route)

    def reach_uplink(self, reachable):
        """The gateway is the monitor's uplink: cut, the monitor is cut off (the hosts' route stays)."""
        if reachable:
            self.ns.ip("route", "del", "unreachable", self.gateway + "/32")
        else:
            self.ns.ip("route", "add", "unreachable", self.gateway + "/32")

    def start_monitor(self, processes, cli, listing):
        processes.start("monitor-" + self.name, self.ns.prefix + [
            cli, "monitor", listing, "--metrics", self.metrics, "--uplink", self.gateway, "--behind", f"{HOST}={BEHIND}"],
                        env={"PULSEWICK_MINUTE_MS": "1000"})  # a pass every second


def alertmanager_config(webhook):
    return f"""
route:
  receiver: ops
  group_by: [alertname, address, kind, port, instance]
  group_wait: 1s
  group_interval: {GROUP_INTERVAL_SECONDS}s
  repeat_interval: 1h
receivers:
  - name: ops
    webhook_configs:
      - url: {webhook.url}
        send_resolved: true
"""


def prometheus_config(replica, rules, locations):
    alertmanagers = ", ".join(f"'127.0.0.1:{web}'" for web, _ in ALERTMANAGER_PORTS.values())
    targets = "".join(f"""
      - targets: ['{location.metrics}']
        labels:
          location: {location.name}""" for location in locations)
    return f"""
global:
  scrape_interval: 1s
  evaluation_interval: 1s
  external_labels:
    replica: '{replica}'
rule_files: [{rules}]
alerting:
  alert_relabel_configs:
    - action: labeldrop
      regex: replica
  alertmanagers:
    - static_configs:
        - targets: [{alertmanagers}]
scrape_configs:
  - job_name: pulsewick
    static_configs:{targets}
"""


def start_engines(args, tmp, processes, webhook, locations, alertmanager_extra=""):
    """The Alertmanager cluster and the Prometheus pair, ready to pass alerts on; returns the
    Prometheus servers' APIs. alertmanager_extra: more of alertmanager.yml (inhibit_rules...)."""
    cluster_ports = [cluster for _, cluster in ALERTMANAGER_PORTS.values()]
    for name, (web, cluster) in ALERTMANAGER_PORTS.items():
        peers = " ".join(f"--cluster.peer=127.0.0.1:{port}" for port in cluster_ports if port != cluster)
        engines.start_alertmanager(processes, args.alertmanager, tmp, "alertmanager-" + name,
                                   alertmanager_config(webhook) + alertmanager_extra, web,
                                   f"--cluster.listen-address=127.0.0.1:{cluster} {peers} "
                                   f"--cluster.peer-timeout={PEER_TIMEOUT_SECONDS}s")
    rules = engines.shortened_rules(args.rules, tmp)
    servers = [engines.PrometheusApi(engines.start_prometheus(
        processes, args.prometheus, tmp, "prometheus-" + replica, prometheus_config(replica, rules, locations), port))
               for replica, port in PROMETHEUS_PORTS.items()]
    # A server sends its alerts nowhere until it has found the Alertmanagers (and then again only
    # after the resend delay, a minute).
    for server in servers:
        engines.wait_until(lambda: len(server.get("alertmanagers")["activeAlertmanagers"]) == 2, "Alertmanagers found")
    return servers


def set_up(args, tmp, processes, alertmanager_extra=""):
    """The hosts, three locations monitoring them, and the engines; returns (locations, Prometheus
    servers, webhook) once both servers see all three locations reach the host."""
    listing = os.path.join(tmp, "list.pwk")
    for command in (["new", listing], ["add", listing, "icmp", HOST], ["add", listing, "icmp", BEHIND],
                    ["set", listing, "period", "1"]):
        subprocess.run([args.cli] + command, check=True, capture_output=True)
    hub = Namespace()
    host = Namespace(processes, "ns-host")
    for address in (HOST, BEHIND):
        host.ip("addr", "add", address + "/32", "dev", "lo")
    locations = [Location(processes, hub, host, number, name) for number, name in enumerate(LOCATIONS, 1)]
    for location in locations:
        location.start_monitor(processes, args.cli, listing)
    webhook = engines.Webhook()
    prometheus = start_engines(args, tmp, processes, webhook, locations, alertmanager_extra)
    seen_by_all(prometheus, "count(pulsewick_probe_success == 1)", 6, "three locations reaching the hosts")
    return locations, prometheus, webhook


def seen_by_all(prometheus, expr, value, what):
    """Waits until every server's query gives one sample of that value; returns the time then."""
    for server in prometheus:
        engines.wait_until(lambda: server.values(expr) == [value], what)
    return time.time()


def stays_quiet(prometheus, webhook, alertname, since, what):
    """Every server has evaluated its rules for longer than "for:" after since, and the alert is
    neither pending nor firing anywhere, nor notified since."""
    notified = len(webhook.instances("firing", {"alertname": alertname}))
    for server in prometheus:  # a recorded sample bears the time of its evaluation
        engines.wait_until(lambda: max(server.values("timestamp(pulsewick:locations_to_agree)") or [0])
                           > since + engines.FOR_SECONDS + 2, "evaluation of the rules")
        if server.active_alerts(alertname):
            raise AssertionError(f"{what}: {server.active_alerts(alertname)}")
    if len(webhook.instances("firing", {"alertname": alertname})) != notified:
        raise AssertionError(f"{what}: {webhook.matching('firing', {'alertname': alertname})[-1]}")


def notified_once(webhook, status, labels, what):
    """The notification, counted once the second Alertmanager has had its turn (a peer timeout
    after the first's) to send it again."""
    alert = webhook.wait_for(status, labels, what)
    time.sleep(PEER_TIMEOUT_SECONDS + 3)
    count = len(webhook.instances(status, labels))
    if count != 1:
        with webhook.lock:
            sent = [(n["externalURL"], n["status"], [(a["labels"]["alertname"], a["labels"].get("address"),
                                                      a["labels"].get("location"), a["startsAt"], a["endsAt"])
                                                     for a in n["alerts"]]) for n in webhook.notifications]
        raise AssertionError(f"{count} alerts notified for the {what}; all of them: {sent}")
    if "replica" in alert["labels"]:
        raise AssertionError(f"the {what} keeps the replica label: {alert['labels']}")
    return alert


def suppressed(alertmanager_port, labels, what):
    """Waits until the Alertmanager holds an alert with these labels, inhibited."""
    query = urllib.parse.urlencode({"filter": [f'{name}="{value}"' for name, value in labels.items()]}, doseq=True)

    def held():
        with urllib.request.urlopen(f"http://127.0.0.1:{alertmanager_port}/api/v2/alerts?{query}", timeout=10) as reply:
            return any(alert["status"]["inhibitedBy"] for alert in json.load(reply))
    engines.wait_until(held, what)


def run(args, tmp, processes):
    started = time.monotonic()

    def step(what):  # the phases with their times, for a run that is slow or fails
        print(f"{time.monotonic() - started:5.1f} s: {what}", flush=True)

    with open(os.path.join(os.path.dirname(args.rules), "pulsewick-inhibit-rules.yml"), encoding="utf-8") as f:
        locations, prometheus, webhook = set_up(args, tmp, processes, f.read())
    entry = {"alertname": "PulsewickEntryDown", "address": HOST, "kind": "icmp"}
    behind = {"alertname": "PulsewickEntryDown", "address": BEHIND}
    down = f'pulsewick:entry_down_locations:count{{address="{HOST}"}}'
    alertmanager = ALERTMANAGER_PORTS["1"][0]
    step("all locations reach the host")

    locations[0].reach_host(False)
    since = seen_by_all(prometheus, down, 1, "host down from one location")
    stays_quiet(prometheus, webhook, "PulsewickEntryDown", since, "host down from one location alone alerted")
    step("host down from one location: no alert")

    locations[1].reach_host(False)
    webhook.wait_for("firing", entry, "alert once two locations see the host down")
    locations[2].reach_host(False)
    seen_by_all(prometheus, down, 3, "host down from every location")
    notified_once(webhook, "firing", entry, "alert for the host")
    suppressed(alertmanager, behind, "the host behind held by its unreachable alert")
    step("host down from two locations, then all: one alert, the host behind held")

    for location in locations:
        location.reach_host(True)
    notified_once(webhook, "resolved", entry, "resolved notice for the host")
    step("host back: one resolved notice")

    # A location cut off from its uplink: the monitor says so once; then what it sees of the hosts
    # counts for nothing, so the host down from b as well alerts nowhere, and the monitor's own
    # entry alerts are held.
    uplink = {"alertname": "PulsewickUplinkDown", "location": "a"}
    locations[0].reach_uplink(False)
    notified_once(webhook, "firing", uplink, "uplink-down alert")
    locations[0].reach_host(False)
    locations[1].reach_host(False)
    since = seen_by_all(prometheus, f'pulsewick_probe_unreachable{{location="a"}}', 1, "the host behind unreachable")
    suppressed(alertmanager, {"alertname": "PulsewickEntryUnreachable", "location": "a"},
               "the cut-off monitor's own entry alert held")
    stays_quiet(prometheus, webhook, "PulsewickEntryDown", since, "a cut-off location counted")
    locations[0].reach_uplink(True)
    for location in locations[:2]:
        location.reach_host(True)
    seen_by_all(prometheus, f"sum({down}) or vector(0)", 0, "host back everywhere")
    step("location a cut off: one uplink alert, no host alert")

    # A monitor killed while one location sees the host down: the monitor is down, not the host.
    locations[0].reach_host(False)
    processes.kill("monitor-c")
    since = max(seen_by_all(prometheus, down, 1, "host down from a"),
                seen_by_all(prometheus, 'up{location="c"}', 0, "monitor c down"))
    notified_once(webhook, "firing", {"alertname": "PulsewickMonitorDown", "location": "c"}, "monitor-down alert")
    stays_quiet(prometheus, webhook, "PulsewickEntryDown", since, "a dead monitor raised a host alert")
    step("monitor killed: one monitor-down alert, no host alert")

    others = webhook.alert_names() - {"PulsewickWatchdog", "PulsewickEntryDown", "PulsewickMonitorDown",
                                      "PulsewickUplinkDown", "PulsewickEntryUnreachable"}
    if len(webhook.instances("firing", entry)) != 1 or webhook.instances("firing", behind) or others:
        raise AssertionError(f"the host alerted again, the host behind alerted, or other alerts came: {others}")
    webhook.shutdown()


def main():
    args = engines.parse_arguments()
    if os.environ.get(INSIDE):
        return engines.run_with_engines(run, args, "pulsewick-locations-")
    unshare = ["unshare", "--net"] + ([] if os.geteuid() == 0 else ["--map-root-user"])
    try:
        probe = subprocess.run(unshare + ["ip", "link", "set", "lo", "up"], capture_output=True, text=True)
        reason = probe.stderr.strip() if probe.returncode else None
    except OSError as error:  # no unshare (util-linux) or ip (iproute2)
        reason = str(error)
    if reason is not None:
        print(f"SKIPPED: no network namespace can be made here: {reason}")
        return engines.SKIP
    inside = [sys.executable, os.path.abspath(__file__), "--cli", args.cli, "--rules", args.rules]
    return subprocess.run(["setpriv", "--pdeathsig", "KILL", "--"] + unshare + inside,
                          env=dict(os.environ, **{INSIDE: "1"})).returncode


if __name__ == "__main__":
    sys.exit(main())
