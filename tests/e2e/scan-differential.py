#!/usr/bin/env python3
"""The host's --scan against clamscan on the same generated tree and databases.

A fixed seed makes a tree of binary files (nested folders, non-ASCII names, files across read
block boundaries) and hash databases (.hdb with MD5, .hsb with SHA-1 and SHA-256, fixed and `*`
sizes, upper-case hex, CRLF lines, a level field) with signatures that match, near misses of the
listed size with other content, listed hashes under the wrong size, and decoys whose sizes match
files but whose hashes do not. clamscan scans it natively and devicescan-host scans it under Wine
through Z:; both must report the same set of (file, signature name) pairs, and that set must be
the one the generator planted.

Usage: scan-differential.py BUILD_DIR. Exit 77 (skipped) when clamscan is not installed.
"""
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

SEED = 20261206
# Names that take every path through UTF-16 and back: accents, Cyrillic, CJK, a character
# outside the basic plane, spaces.
NAMES = ["café", "Übung données", "отчёт", "資料", "emoji-\U0001F600", "plain"]
# Sizes around the sizes a reader is likely to use for its blocks, and small ones. clamscan never
# reports files of 5 bytes or fewer, so the smallest listed file has 6.
SIZES = [6, 7, 100, 4095, 4096, 4097, 65535, 65536, 65537, 1 << 20, (1 << 20) + 1,
         (3 << 20) + 17]
HASHES = {"md5": hashlib.md5, "sha1": hashlib.sha1, "sha256": hashlib.sha256}


def skip(message):
    print("skipped: " + message)
    sys.exit(77)


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


class Corpus:
    """The generated tree and databases, and the detections they must give."""

    def __init__(self, root):
        self.random = random.Random(SEED)
        self.tree = os.path.join(root, "tree")
        self.databases = os.path.join(root, "db")
        os.makedirs(self.tree)
        os.makedirs(self.databases)
        self.lines = {"main.hdb": [], "main.hsb": [], "extra.hsb": []}
        self.expected = set()
        self.serial = 0

    def content(self, size):
        return self.random.randbytes(size)

    def write(self, content):
        """Writes a new file in a random folder of up to three levels; returns its path."""
        self.serial += 1
        folders = self.random.sample(NAMES, self.random.randint(0, 3))
        name = "%s %03d.bin" % (self.random.choice(NAMES), self.serial)
        path = os.path.join(self.tree, *folders, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)
        return path

    def sign(self, kind, content, name, size=None, database=None):
        """Lists content's hash of kind under name; size None: the content's size, '*': any."""
        digest = HASHES[kind](content).hexdigest()
        if self.random.random() < 0.3:
            digest = digest.upper()
        line = "%s:%s:%s" % (digest, len(content) if size is None else size, name)
        # clamscan wants a level of at least 73 on wildcard sizes; elsewhere it is optional.
        if size == "*" or self.random.random() < 0.3:
            line += ":73"
        database = database or ("main.hdb" if kind == "md5" else
                                self.random.choice(["main.hsb", "extra.hsb"]))
        self.lines[database].append(line)

    def plant(self):
        for index, size in enumerate(SIZES):
            for kind in HASHES:
                self.plant_one(kind, size, "Diff.%s.Size%d" % (kind, index))
        # One file found by all three hash types, under three names.
        content = self.content(5000)
        path = self.write(content)
        for kind in HASHES:
            self.sign(kind, content, "Diff.Triple." + kind)
            self.expected.add((path, "Diff.Triple." + kind))
        # The same listed content in two files and in two folders: both are found.
        content = self.content(777)
        self.sign("sha256", content, "Diff.Twice")
        for _ in range(2):
            self.expected.add((self.write(content), "Diff.Twice"))
        # An empty file under a wildcard listing of the empty content: nobody reports it.
        self.sign("sha256", b"", "Diff.Empty", size="*")
        self.write(b"")
        self.plant_decoys()

    def plant_one(self, kind, size, name):
        """A match, its near miss, a wildcard match and a listed hash under the wrong size."""
        content = self.content(size)
        self.sign(kind, content, name)
        self.expected.add((self.write(content), name))
        near = bytearray(content)
        near[self.random.randrange(size)] ^= 0x5A
        self.write(bytes(near))
        wildcard = self.content(size)
        self.sign(kind, wildcard, name + ".Any", size="*")
        self.expected.add((self.write(wildcard), name + ".Any"))
        wrong = self.content(size)
        self.sign(kind, wrong, name + ".WrongSize", size=size + 1)
        self.write(wrong)

    def plant_decoys(self):
        """Signatures of every listed size and type that no file has."""
        for size in SIZES:
            for kind in HASHES:
                for _ in range(20):
                    self.sign(kind, self.content(64), "Diff.Decoy", size=size)
        for _ in range(200):
            self.write(self.content(self.random.randint(6, 9000)))

    def save(self):
        for database, lines in self.lines.items():
            # extra.hsb ends its lines in CRLF, the others in LF.
            end = "\r\n" if database == "extra.hsb" else "\n"
            self.random.shuffle(lines)
            with open(os.path.join(self.databases, database), "w", newline="") as out:
                out.write("".join(line + end for line in lines))


def clamscan_pairs(corpus):
    result = subprocess.run(["clamscan", "-d", corpus.databases, "--allmatch", "-r",
                             "--no-summary", "--infected", corpus.tree],
                            capture_output=True)
    if result.returncode not in (0, 1):
        fail("clamscan exited with %d: %s" % (result.returncode, result.stderr.decode()))
    pairs = set()
    for line in result.stdout.decode("utf-8", "surrogateescape").splitlines():
        if not line.endswith(" FOUND"):
            continue
        path, name = line[:-len(" FOUND")].rsplit(": ", 1)
        pairs.add((path, name.removesuffix(".UNOFFICIAL")))
    return pairs


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def unix_path(windows):
    if not windows.startswith("Z:\\"):
        fail("a detection outside the tree: " + windows)
    return windows[2:].replace("\\", "/")


def host_pairs(corpus, build):
    command = [os.path.join(build, "wine-run"), os.path.join(build, "bin", "devicescan-host.exe"),
               "--json", "--scan", windows_path(corpus.tree),
               "--db", windows_path(corpus.databases)]
    result = subprocess.run(command, capture_output=True, timeout=240)
    output = result.stdout.decode("utf-8")
    if result.returncode != 1:
        fail("the host exited with %d, not 1 (found)\n%s%s" %
             (result.returncode, output[-3000:], result.stderr.decode("utf-8", "replace")))
    detections = []
    summaries = []
    for line in output.splitlines():
        event = json.loads(line)
        if event["event"] == "detection":
            detections.append((unix_path(event["path"]), event["name"]))
        elif event["event"] == "scan" and event["state"] == "finished":
            summaries.append(event)
    pairs = set(detections)
    if len(pairs) != len(detections):
        fail("a (file, name) pair was reported more than once")
    if len(summaries) != 1 or summaries[0]["errors"] != 0:
        fail("not one scan summary without errors: %s" % summaries)
    return pairs


def compare(what, actual, expected):
    if actual == expected:
        return True
    for path, name in sorted(actual - expected):
        print("%s reports %s in %s, not planted" % (what, name, path))
    for path, name in sorted(expected - actual):
        print("%s misses %s in %s" % (what, name, path))
    return False


def main():
    build = sys.argv[1]
    if shutil.which("clamscan") is None:
        skip("clamscan is not installed (scripts/test installs it)")
    root = tempfile.mkdtemp(prefix="devicescan-differential.")
    try:
        corpus = Corpus(root)
        corpus.plant()
        corpus.save()
        theirs = clamscan_pairs(corpus)
        ours = host_pairs(corpus, build)
        same = compare("clamscan", theirs, corpus.expected)
        same = compare("devicescan-host", ours, corpus.expected) and same
        if not same:
            fail("the scanners disagree")
        print("differential: %d files, %d signatures, the same %d detections from both" %
              (corpus.serial, sum(map(len, corpus.lines.values())), len(ours)))
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()
