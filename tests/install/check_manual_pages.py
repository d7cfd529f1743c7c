#!/usr/bin/env python3
"""Holds each manual page to its program's --help: every command and option of the help is in the
page, and the page describes nothing the help does not have. A failure says what to add where.

Usage: check_manual_pages.py SOURCE_DIR BINARY_DIR PROGRAM=PATH...
"""
import glob
import os
import re
import subprocess
import sys
import unittest

OPTION = re.compile(r"(?<![\w-])--?[a-z][a-z0-9-]*")
SOURCE_DIR = BINARY_DIR = None
PROGRAMS = {}


def plain(roff):
    """The words of a roff line: font changes, escaped minus signs and quotes undone."""
    text = re.sub(r"\\f[BIRP]", "", roff).replace("\\-", "-").replace("\\(dq", '"').replace("\\(aq", "'")
    return text.replace('"', " ")


def read_help(program):
    """Commands (name -> the options of its synopsis), the program's own options, and the exit
    statuses the help lists."""
    text = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
    commands, own, block = {}, set(), None
    for line in text.splitlines():
        if not line.startswith(" "):
            block = line.rstrip(":") if line.endswith(":") else block
        elif block == "Commands" and not line.startswith("   "):  # a synopsis; its summary follows
            commands.setdefault(line.split()[0], set()).update(OPTION.findall(line))
        elif block == "Commands":
            continue
        elif line.lstrip().startswith("-"):
            own.update(OPTION.findall(line))
    statuses = set(re.findall(r"(\d+) [a-z]", text.split("Exit status:")[1])) if "Exit status:" in text else set()
    return commands, own, statuses


def read_page(path):
    """Per section (.SH, and .SS below COMMANDS as "COMMANDS/name"): its words, and the tags of its
    .TP items."""
    sections, current, tagged = {}, None, False
    with open(path, encoding="utf-8") as f:
        for line in f:
            macro, _, rest = line.rstrip("\n").partition(" ") if line.startswith(".") else ("", "", line)
            if macro == '.\\"':
                continue
            words = plain(rest).strip()
            if macro == ".SH":
                current = words
            elif macro == ".SS" and current and current.startswith("COMMANDS"):
                current = "COMMANDS/" + words
            if current is not None:
                text, tags = sections.setdefault(current, ([], []))
                text.append(words)
                if tagged:
                    tags.append(words)
            tagged = macro == ".TP"
    return sections


class ManualPages(unittest.TestCase):
    def test_each_page_matches_its_programs_help(self):
        for name, program in PROGRAMS.items():
            source = f"res/man/{name}.1.in"
            commands, own, statuses = read_help(program)
            sections = read_page(os.path.join(SOURCE_DIR, source))
            described = {o for _, tags in sections.values() for tag in tags for o in OPTION.findall(tag)}
            problems = []
            page_commands = {s.split("/", 1)[1] for s in sections if s.startswith("COMMANDS/")}
            for command in sorted(set(commands) - page_commands):
                problems.append(f"{name} --help has the command '{command}': add '.SS {command}' under '.SH COMMANDS' "
                                f"in {source}, with its synopsis and a .TP item for each of its options")
            for command in sorted(page_commands - set(commands)):
                problems.append(f"{source} has '.SS {command}', a command {name} --help does not have: remove it")
            for command, options in sorted(commands.items()):
                text = " ".join(sections.get("COMMANDS/" + command, ([], []))[0])
                for option in sorted(options):
                    if option not in described or option not in OPTION.findall(text):
                        problems.append(f"{name} --help gives '{command}' the option {option}: in {source}, name it in "
                                        f"the synopsis under '.SS {command}' and describe it in a .TP item there "
                                        f"(.TP, then .B or .BI with {option} in bold, then its meaning)")
            options_section = " ".join(t for tag in sections.get("OPTIONS", ([], []))[1] for t in OPTION.findall(tag))
            for option in sorted(own - set(options_section.split())):
                problems.append(f"{name} --help has the option {option}: add a .TP item for it under '.SH OPTIONS' "
                                f"in {source}")
            in_help = own.union(*commands.values())
            for option in sorted(described - in_help):
                problems.append(f"{source} describes {option}, which {name} --help does not have: remove it from "
                                "the page, or add it to the help")
            exit_tags = {t.strip() for t in sections.get("EXIT STATUS", ([], []))[1]}
            for status in sorted(statuses - exit_tags):
                problems.append(f"{name} --help lists exit status {status}: add a .TP item for it under "
                                f"'.SH EXIT STATUS' in {source}")
            self.assertEqual(problems, [], "\n".join([""] + problems))

    def test_pages_name_every_variable_and_metric_of_the_code(self):
        # What --help does not list drifts first: the execute alert's variables and the metrics.
        def names(pattern, *globs):
            found = set()
            for pattern_glob in globs:
                for path in sorted(glob.glob(os.path.join(SOURCE_DIR, pattern_glob))):
                    with open(path, encoding="utf-8") as f:
                        found.update(re.findall(pattern, f.read()))
            return found
        variables = names(r'"(PULSEWICK_[A-Z_]+)"', "alerts/AlertEnvironment.h")
        metrics = {re.sub(r"_(bucket|sum|count)$", "", m) for m in names(r'"(?:# (?:HELP|TYPE) )?(pulsewick_[a-z_]+)', "cli/*.cpp")}
        self.assertTrue(variables and metrics)
        wanted = {name: variables for name in PROGRAMS}
        wanted["pulsewick-cli"] = variables | metrics
        problems = []
        for name, words in wanted.items():
            source = f"res/man/{name}.1.in"
            page = " ".join(w for text, _ in read_page(os.path.join(SOURCE_DIR, source)).values() for w in text)
            problems += [f"{source} does not name {word}: describe it" for word in sorted(words)
                         if not re.search(rf"(?<![\w]){word}(?![\w])", page)]
        self.assertEqual(problems, [], "\n".join([""] + problems))

    def test_built_pages_render_cleanly_and_name_the_programs_version(self):
        for name, program in PROGRAMS.items():
            page = os.path.join(BINARY_DIR, "res", "man", f"{name}.1")
            version = subprocess.run([program, "--version"], capture_output=True, text=True, check=True).stdout.split()[-1]
            with open(page, encoding="utf-8") as f:
                self.assertRegex(f.read(), rf'\n\.TH .* "Pulsewick {re.escape(version)}"', page)
            # As lintian reads a page: any warning of groff fails.
            env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
            result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
                                    capture_output=True, text=True, env=env)
            self.assertEqual((result.returncode, result.stderr), (0, ""), page)


if __name__ == "__main__":
    SOURCE_DIR, BINARY_DIR = sys.argv[1], sys.argv[2]
    PROGRAMS = dict(arg.split("=", 1) for arg in sys.argv[3:])
    unittest.main(argv=[sys.argv[0]], verbosity=2)
