#!/usr/bin/env python3
"""host/README.md against the host's own option table, as --help prints it: the README's option
table names every option with its value and nothing else, its --scan synopsis lists every option
a scan run takes and none it refuses, and it names the refused ones.

usage: options-readme.py WINE_RUN HOST_EXE README"""
import re
import subprocess
import sys


def main(wine_run, host, readme_path):
    usage = subprocess.run([wine_run, host, "--help"], capture_output=True, text=True,
                           timeout=60).stdout
    options = set(re.findall(r"^  (--[a-z-]+(?: [A-Z]+)?)  ", usage, re.M))
    refused_line = re.search(r"^With --scan, (.*) are refused\.$", usage, re.M)
    if not options or not refused_line:
        print("cannot read the options from --help:\n" + usage)
        return 1
    refused = set(refused_line.group(1).split(", "))

    readme = open(readme_path, encoding="utf-8").read()
    rows = set(re.findall(r"^\| `(--[a-z-]+(?: [A-Z]+)?)` \|", readme, re.M))
    synopsis = re.search(r"^    devicescan-host --scan PATH(.*(?:\n {20}\S.*)*)", readme, re.M)
    problems = []
    for option in sorted(options - rows):
        problems.append(f"the README's option table lacks {option}")
    for option in sorted(rows - options):
        problems.append(f"the README's option table has {option}, which the host does not know")
    if not synopsis:
        problems.append("the README has no '    devicescan-host --scan PATH ...' line")
    else:
        listed = set(re.findall(r"--[a-z-]+", synopsis.group(1)))
        for option in sorted(options):
            name = option.split(" ")[0]
            if name in refused and name in listed:
                problems.append(f"the --scan synopsis lists {name}, which a scan run refuses")
            if name not in refused and name not in listed and name not in ("--scan", "--help"):
                problems.append(f"the --scan synopsis lacks {name}")
    for name in sorted(refused):
        if f"`{name}`" not in readme.split("## Signatures")[0].split("|---|---|")[-1]:
            problems.append(f"the README does not say that --scan refuses {name}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
