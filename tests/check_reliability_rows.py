#!/usr/bin/env python3
"""Checks that every test RELIABILITY.md names is a test of this build's suite.

Usage: check_reliability_rows.py RELIABILITY.md CTEST BUILD_DIR

The last column of each table row names what shows the row, in backticks: CTest test names
(GoogleTest's Suite.Test, with * standing for any text), the GoogleTest names inside a test
executable that CTest runs as one test (such as cleaning_readonly_c_test), or files of the
repository (scripts/soak.sh). Backticked text with a space, a colon or a backslash in it is a
command for a person to run, not a name. A row that names no test must say that it needs a
Windows machine. Exit code 0 when all is well, 1 with a list of what is not.
"""
import fnmatch
import json
import os
import re
import subprocess
import sys


def table_rows(text):
    rows = []
    for number, line in enumerate(text.splitlines(), 1):
        if not line.startswith("|"):
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if all(re.fullmatch(r":?-+:?", cell) for cell in cells):
            continue  # the line under the header
        rows.append((number, cells))
    return rows[1:]  # without the header


def gtest_names(listing):
    """Full names from --gtest_list_tests output."""
    names, suite = [], None
    for line in listing.splitlines():
        if not line.strip() or line.startswith("Running main()"):
            continue
        name = line.split("#")[0].strip()
        if not line.startswith(" "):
            suite = name
        elif suite:
            names.append(suite + name)
    return names


def known_tests(ctest, build_dir):
    shown = subprocess.run([ctest, "--test-dir", build_dir, "--show-only=json-v1"],
                           capture_output=True, text=True, check=True)
    names = set()
    for test in json.loads(shown.stdout)["tests"]:
        names.add(test["name"].split("  #")[0])
        command = test.get("command") or []
        # A GoogleTest executable that CTest runs as one test: its own tests count too.
        if (len(command) >= 2 and command[-1].endswith("_test.exe")
                and not any(arg.startswith("--gtest_filter") for arg in command)):
            # Listing needs no fixture: a mounted drive's runner is replaced by the tree's own.
            if os.path.basename(command[0]).startswith("wine-c-"):
                command = [os.path.join(build_dir, "wine-run")] + command[1:]
            listing = subprocess.run(command + ["--gtest_list_tests"], capture_output=True,
                                     text=True)
            if listing.returncode != 0:
                sys.exit(f"cannot list the tests of {test['name']}: {listing.stderr}")
            names.update(gtest_names(listing.stdout))
    return names


def main():
    reliability, ctest, build_dir = sys.argv[1:4]
    repository = os.path.dirname(os.path.abspath(reliability))
    with open(reliability, encoding="utf-8") as f:
        rows = table_rows(f.read())
    if not rows:
        sys.exit(f"{reliability}: no table rows found")
    known = known_tests(ctest, build_dir)
    problems = []
    for number, cells in rows:
        names = [token for token in re.findall(r"`([^`]+)`", cells[-1])
                 if not re.search(r"[\s:\\]", token)]
        for name in names:
            if os.path.isfile(os.path.join(repository, name)):
                continue
            if not any(fnmatch.fnmatchcase(test, name) for test in known):
                problems.append(f"line {number}: no test named {name}")
        if not names and "Windows machine" not in cells[-1]:
            problems.append(f"line {number}: names no test and does not say it needs a "
                            "Windows machine")
    for problem in problems:
        print(f"{reliability}: {problem}")
    print(f"{len(rows)} rows checked against {len(known)} tests")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
