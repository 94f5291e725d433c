#!/usr/bin/env python3
"""Runs the README's quick tour and checks that every command prints what
the README shows.

The tour is the console block between the "<!-- tour -->" and
"<!-- /tour -->" marks: lines starting with "$ " are commands, the lines
after each are its expected output (standard output and standard error).
Commands run in order with bash in one fresh folder, with the given
folder (where the built `lomari` tool is) first on PATH.

usage: check_tour.py README.md TOOL_DIR
"""
import os
import re
import subprocess
import sys
import tempfile


def tour(readme):
    text = open(readme).read()
    m = re.search(r"<!-- tour -->\s*```console\n(.*?)```\s*<!-- /tour -->", text, re.S)
    if not m:
        sys.exit("check_tour: no tour block in " + readme)
    steps = []
    for line in m.group(1).splitlines():
        if line.startswith("$ "):
            steps.append((line[2:], []))
        elif steps:
            steps[-1][1].append(line)
    return steps


def main():
    readme, tool_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    env = dict(os.environ, PATH=tool_dir + os.pathsep + os.environ["PATH"])
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        for cmd, want in tour(readme):
            r = subprocess.run(["bash", "-c", cmd], cwd=work, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
            got = r.stdout.splitlines()
            if got != want:
                failed += 1
                print("tour step differs: $ " + cmd)
                print("  README shows:\n    " + "\n    ".join(want))
                print("  the tool printed:\n    " + "\n    ".join(got))
    steps = len(tour(readme))
    print("tour: %d steps, %d as the README shows, %d different" % (steps, steps - failed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
