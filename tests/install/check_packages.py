#!/usr/bin/env python3
"""Builds the Debian packages from the build tree (no rebuild), checks them as Debian does (lintian,
appstreamcli, desktop-file-validate), and installs pulsewick-cli into throw-away roots with its
maintainer scripts to run it from there.
"""
import argparse
import glob
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest

PACKAGES = ("pulsewick", "pulsewick-cli", "pulsewick-cli-sound")
COMPONENTS = "window, cli or sound"
PROBING = ("usr/bin/pulsewick-cli", "usr/libexec/pulsewick/pulsewick-cli-alerts")
CAP_MESSAGE = "the capability cap_net_raw"
ARGS = None


def run(*command, **kwargs):
    started = time.monotonic()
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    print(f"[{time.monotonic() - started:5.1f} s] {' '.join(command[:3])}", flush=True)
    return result


def checked(*command, **kwargs):
    result = run(*command, **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")
    return result.stdout


def files_under(root):
    return {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pulsewick-packages-")
        out = os.path.join(cls.tmp.name, "out")
        checked(ARGS.cpack, "-G", "DEB", "--config", os.path.join(ARGS.build_dir, "CPackConfig.cmake"), "-B", out)
        cls.debs = {}
        for name in PACKAGES:
            found = glob.glob(os.path.join(out, f"{name}_{ARGS.version}_*.deb"))
            if len(found) != 1:
                raise AssertionError(f"no package {name}_{ARGS.version}_*.deb in {os.listdir(out)}")
            cls.debs[name] = found[0]
        cls.contents = {}
        for name, deb in cls.debs.items():
            root = os.path.join(cls.tmp.name, "x", name)
            os.makedirs(root)
            checked("dpkg-deb", "-x", deb, root)
            cls.contents[name] = root

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def field(self, name, field):
        return checked("dpkg-deb", "-f", self.debs[name], field).strip()

    def test_every_installed_file_is_in_a_package(self):
        stage = os.path.join(self.tmp.name, "all")
        checked(ARGS.cmake, "--install", ARGS.build_dir, "--prefix", "/usr", env=dict(os.environ, DESTDIR=stage))
        packaged = set().union(*(files_under(root) for root in self.contents.values()))
        unpackaged = sorted(files_under(stage) - packaged)
        self.assertEqual(unpackaged, [], f"installed, but in no package: give their install() rules COMPONENT "
                         f"{COMPONENTS} (res/packaging/CMakeLists.txt names the packages)")

    def test_control_fields(self):
        for name in PACKAGES:
            self.assertEqual(self.field(name, "Version"), ARGS.version, name)
        # A server gets only what the monitor loads: nothing of Qt's graphical side.
        self.assertNotRegex(self.field("pulsewick-cli", "Depends"), r"libqt6(gui|widgets|multimedia|opengl)")
        self.assertIn("procps", self.field("pulsewick-cli", "Depends"))  # the service's ExecReload
        self.assertIn("libcap2-bin", self.field("pulsewick-cli", "Recommends"))
        self.assertIn("pulsewick-cli-sound", self.field("pulsewick-cli", "Suggests"))
        self.assertIn(f"pulsewick-cli (= {ARGS.version})", self.field("pulsewick-cli-sound", "Depends"))
        self.assertRegex(self.field("pulsewick-cli-sound", "Depends"), r"libqt6multimedia6")
        self.assertRegex(self.field("pulsewick", "Depends"), r"libqt6widgets6")
        self.assertEqual(self.field("pulsewick", "Recommends"), "libcap2-bin, pulsewick-cli")

    def test_no_program_or_unit_names_a_path_of_the_build_machine(self):
        # The packages install under /usr whatever prefix the build tree was configured with: a
        # program or unit naming /usr/local (or the build folder) would look in the wrong place.
        wrong = []
        for name, root in self.contents.items():
            for path in files_under(root):
                with open(os.path.join(root, path), "rb") as f:
                    data = f.read()
                if data.startswith(b"\x7fELF") or path.endswith((".service", ".socket")):
                    for found in (b"/usr/local/", os.path.abspath(ARGS.build_dir).encode() + b"/"):
                        if found in data:
                            wrong.append(f"{name}: /{path} names {found.decode()}")
        self.assertEqual(wrong, [])

    def test_debian_tools_accept_the_packages(self):
        result = run("lintian", "--fail-on", "error,warning", *self.debs.values())
        print(result.stdout + result.stderr)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]: ")
        share = os.path.join(self.contents["pulsewick"], "usr", "share")
        metainfo = glob.glob(os.path.join(share, "metainfo", "*.metainfo.xml"))
        self.assertEqual(len(metainfo), 1)
        checked("appstreamcli", "validate", "--no-net", metainfo[0])
        result = checked("desktop-file-validate", os.path.join(share, "applications", "pulsewick.desktop"))
        self.assertEqual(result.strip(), "")

    def test_newest_release_is_the_projects_version(self):
        with open(os.path.join(ARGS.source_dir, "res", "desktop", "org.pulsewick.Pulsewick.metainfo.xml")) as f:
            newest = re.search(r'<release version="([^"]+)"', f.read()).group(1)
        self.assertEqual(newest, ARGS.version, f'add <release version="{ARGS.version}" date="YYYY-MM-DD"> with its '
                         "notes at the top of <releases> in res/desktop/org.pulsewick.Pulsewick.metainfo.xml")

    def install_cli(self, path_prefix=""):
        """dpkg --root into a new root, its maintainer scripts run outside it (they honour DPKG_ROOT)."""
        root = tempfile.mkdtemp(dir=self.tmp.name, prefix="root-")
        for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/log"):
            os.makedirs(os.path.join(root, folder))
        open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
        env = dict(os.environ, PATH=path_prefix + os.environ["PATH"])
        force = ["--force-script-chrootless", "--force-depends"] + (["--force-not-root"] if os.geteuid() else [])
        result = run("dpkg", f"--root={root}", *force, "-i", self.debs["pulsewick-cli"], env=env)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        status = checked("dpkg-query", f"--root={root}", "-W", "-f=${Status}", "pulsewick-cli")
        self.assertEqual(status, "install ok installed")
        return root, result.stderr

    def test_installed_companion_has_its_capability_and_checks_a_list(self):
        # setcap as the system has it (with root it works), and one that fails as on a file system
        # without capabilities: the package installs all the same and says what to do instead.
        failing = os.path.join(self.tmp.name, "failing-setcap")
        os.makedirs(failing)
        with open(os.path.join(failing, "setcap"), "w") as f:
            f.write("#!/bin/sh\necho 'Failed to set capabilities (Operation not supported)' >&2\nexit 1\n")
        os.chmod(os.path.join(failing, "setcap"), 0o755)
        for path_prefix, capable in (("", os.geteuid() == 0), (failing + ":", False)):
            root, messages = self.install_cli(path_prefix)
            for program in PROBING:
                caps = checked("getcap", os.path.join(root, program))
                self.assertEqual("cap_net_raw=ep" in caps, capable, program + ": " + caps)
            self.assertEqual(messages.count(CAP_MESSAGE), 0 if capable else 1, messages)
            if not capable:
                self.assertIn("net.ipv4.ping_group_range", messages)

        # A purge forgets what the service kept.
        kept = os.path.join(root, "var/log/pulsewick")
        os.makedirs(kept)
        force = ["--force-script-chrootless"] + (["--force-not-root"] if os.geteuid() else [])
        checked("dpkg", f"--root={root}", *force, "--purge", "pulsewick-cli")
        self.assertFalse(os.path.exists(kept))
        root, _ = self.install_cli()

        alerts = checked("ldd", os.path.join(root, PROBING[1]))
        self.assertNotRegex(alerts, r"libQt6(Gui|Widgets|Multimedia|OpenGL)")
        cli = os.path.join(root, PROBING[0])
        self.assertEqual(checked(cli, "--version").strip(), f"pulsewick-cli {ARGS.version}")
        with socket.socket() as server:
            server.bind(("127.0.0.1", 0))
            server.listen()
            listed = os.path.join(root, "office.pwk")
            checked(cli, "new", listed)
            checked(cli, "add", listed, "tcp", "127.0.0.1", str(server.getsockname()[1]))
            result = run(cli, "check", listed, "--json")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertRegex(result.stdout, r'"address": "127\.0\.0\.1".*"ok": true')


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--source-dir", "--build-dir", "--cmake", "--cpack", "--version"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
