#!/usr/bin/env python3
"""Installs the build into temporary folders and checks what a Linux desktop needs of the tree.

Two installs: a staged one (DESTDIR, as distribution packages do), which must leave the desktop's
caches alone, and a direct one into a private prefix, which must refresh them there.
"""
import argparse
import configparser
import html.parser
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
MIME_TYPE = "application/x-pulsewick-list"
SERVICE = "pulsewick-monitor@.service"

ARGS = None


def install(build_dir, prefix, destdir=None):
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = destdir
    result = subprocess.run([ARGS.cmake, "--install", build_dir, "--prefix", prefix],
                            env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError("cmake --install failed:\n" + result.stdout + result.stderr)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def read_desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",))
    parser.optionxform = str  # keys are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser["Desktop Entry"]


class AnchorCollector(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids = set()
        self.links = []
        self.title = None
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and attrs.get("href", "").startswith("#"):
            self.links.append(attrs["href"][1:])
        self._in_title = tag == "title"

    def handle_endtag(self, tag):
        self._in_title = False

    def handle_data(self, data):
        if self._in_title:
            self.title = data


class StagedInstall(unittest.TestCase):
    """DESTDIR=stage cmake --install --prefix /usr"""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="pulsewick-install-")
        cls.stage = os.path.join(cls.tmp, "stage")
        install(ARGS.build_dir, "/usr", destdir=cls.stage)
        cls.usr = os.path.join(cls.stage, "usr")
        cls.share = os.path.join(cls.usr, "share")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_programs_are_installed_executable(self):
        programs = ["pulsewick-cli"] + (["pulsewick"] if ARGS.with_window else [])
        for name in programs:
            path = os.path.join(self.usr, "bin", name)
            self.assertTrue(os.path.isfile(path), path)
            self.assertTrue(os.access(path, os.X_OK), path)

    def test_manual_is_in_the_data_folder_and_its_links_resolve(self):
        path = os.path.join(self.share, "pulsewick", "pulsewick.html")
        self.assertTrue(os.path.isfile(path), path)
        collector = AnchorCollector()
        with open(path, encoding="utf-8") as f:
            collector.feed(f.read())
        self.assertEqual(collector.title, "Pulsewick Help")
        self.assertTrue(collector.links)
        self.assertEqual([link for link in collector.links if link not in collector.ids], [])

    def test_companion_needs_no_qt_and_no_run_path(self):
        # It runs on servers without a display and starts as fast as a C tool: no Qt library at
        # all, and no run path that would make the loader search beside it first.
        cli = os.path.join(self.usr, "bin", "pulsewick-cli")
        result = subprocess.run(["ldd", cli], capture_output=True, text=True, check=True)
        self.assertIn("libc.so", result.stdout)
        self.assertNotIn("libQt6", result.stdout)
        for program in [cli, os.path.join(self.usr, "bin", "pulsewick")]:
            dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True, check=True)
            self.assertNotIn("PATH", dynamic.stdout, program)

    def test_alert_commands_reach_the_alerts_program(self):
        # pulsewick-cli hands these to the program installed in libexec, which alone loads
        # the sound, serial port and HTTP libraries.
        cli = os.path.join(self.usr, "bin", "pulsewick-cli")
        for command in ["monitor", "test-mail", "test-pager"]:
            result = subprocess.run([cli, command], capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn("usage: pulsewick-cli " + command, result.stderr)

    def test_sound_is_a_module_beside_the_alerts_program(self):
        # The monitor loads Qt Multimedia from it only for a list that plays a sound.
        libexec = os.path.join(self.usr, "libexec", "pulsewick")
        self.assertTrue(os.path.isfile(os.path.join(libexec, "pulsewick-sound.so")))
        result = subprocess.run(["ldd", os.path.join(libexec, "pulsewick-cli-alerts")],
                                capture_output=True, text=True, check=True)
        self.assertNotIn("libQt6Multimedia", result.stdout)

    def test_manual_describes_every_command_of_the_companion(self):
        cli = os.path.join(self.usr, "bin", "pulsewick-cli")
        result = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True)
        # Command lines of the help are indented by two blanks and start with the command's name.
        commands = {line.split()[0] for line in result.stdout.splitlines()
                    if line.startswith("  ") and not line.startswith("   ") and line.split()[0][0].isalpha()}
        self.assertTrue(commands)
        with open(os.path.join(self.share, "pulsewick", "pulsewick.html"), encoding="utf-8") as f:
            manual = f.read()
        missing = sorted(c for c in commands if f"<code>{c} " not in manual and f"<code>{c}</code>" not in manual)
        self.assertEqual(missing, [])

    def test_desktop_entry_is_valid_and_opens_list_files(self):
        path = os.path.join(self.share, "applications", "pulsewick.desktop")
        result = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout.strip(), "", "warnings or hints: " + result.stdout)
        entry = read_desktop_entry(path)
        self.assertEqual(entry["Exec"], "pulsewick %f")
        self.assertEqual(entry["MimeType"].rstrip(";").split(";"), [MIME_TYPE])
        if ARGS.with_window:
            self.assertTrue(os.path.isfile(os.path.join(self.usr, "bin", entry["Exec"].split()[0])))
        icon = entry["Icon"]
        self.assertTrue(os.path.isfile(os.path.join(self.share, "icons", "hicolor", "48x48", "apps", icon + ".png")))

    def test_icons_have_the_size_of_their_folder(self):
        for size in ICON_SIZES:
            for kind, name in (("apps", "pulsewick"), ("mimetypes", MIME_TYPE.replace("/", "-"))):
                path = os.path.join(self.share, "icons", "hicolor", f"{size}x{size}", kind, name + ".png")
                self.assertEqual(png_size(path), (size, size), path)
        self.assertTrue(os.path.isfile(os.path.join(self.share, "icons", "hicolor", "scalable", "apps", "pulsewick.svg")))

    def test_service_names_the_installed_program_not_the_stage(self):
        with open(os.path.join(self.usr, "lib", "systemd", "system", SERVICE), encoding="utf-8") as f:
            unit = f.read()
        self.assertIn("\nExecStart=/usr/bin/pulsewick-cli monitor /etc/pulsewick/%i.pwk", unit)
        self.assertNotIn(self.stage, unit)

    def test_alert_rules_are_installed_where_the_readme_says(self):
        path = os.path.join(self.share, "pulsewick", "prometheus", "pulsewick-rules.yml")
        with open(path, encoding="utf-8") as f:
            self.assertIn("alert: PulsewickEntryDown", f.read())

    def test_staged_install_leaves_the_caches_alone(self):
        self.assertFalse(os.path.exists(os.path.join(self.share, "mime", "globs2")))
        self.assertFalse(os.path.exists(os.path.join(self.share, "applications", "mimeinfo.cache")))

    def test_mime_package_compiles_to_the_list_type(self):
        shutil.copytree(os.path.join(self.share, "mime"), os.path.join(self.tmp, "mime"))
        mime = os.path.join(self.tmp, "mime")
        result = subprocess.run(["update-mime-database", "-V", mime], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("Error", result.stderr)
        with open(os.path.join(mime, "globs2"), encoding="utf-8") as f:
            self.assertIn(f"{MIME_TYPE}:*.pwk", f.read())
        with open(os.path.join(mime, "magic"), "rb") as f:
            self.assertIn(MIME_TYPE.encode(), f.read())
        with open(os.path.join(mime, MIME_TYPE + ".xml"), encoding="utf-8") as f:
            self.assertIn("<comment>Pulsewick list</comment>", f.read())


class DirectInstall(unittest.TestCase):
    """cmake --install --prefix PRIVATE: the prefix given then wins, and the caches are refreshed."""

    def test_prefix_is_honoured_and_caches_are_refreshed(self):
        with tempfile.TemporaryDirectory(prefix="pulsewick-prefix-") as prefix:
            install(ARGS.build_dir, prefix)
            share = os.path.join(prefix, "share")
            self.assertTrue(os.path.isfile(os.path.join(prefix, "bin", "pulsewick-cli")))
            with open(os.path.join(share, "mime", "globs2"), encoding="utf-8") as f:
                self.assertIn(f"{MIME_TYPE}:*.pwk", f.read())
            if shutil.which("update-desktop-database"):
                with open(os.path.join(share, "applications", "mimeinfo.cache"), encoding="utf-8") as f:
                    self.assertIn(f"{MIME_TYPE}=pulsewick.desktop;", f.read())

    def test_service_and_socket_instances_pass_systemd_verification(self):
        with tempfile.TemporaryDirectory(prefix="pulsewick-prefix-") as prefix:
            install(ARGS.build_dir, prefix)
            units = os.path.join(prefix, "lib", "systemd", "system")
            # verify also checks that ExecStart names an executable and Documentation= a manual page
            # (the ones just installed), and that the socket unit has a service to hand its socket to.
            env = dict(os.environ, MANPATH=os.path.join(prefix, "share", "man"))
            result = subprocess.run(["systemd-analyze", "verify", "./pulsewick-monitor@office.service",
                                     "./pulsewick-monitor@office.socket"],
                                    cwd=units, capture_output=True, text=True, env=env)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertEqual((result.stdout + result.stderr).strip(), "")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--with-window", type=int, default=0)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
