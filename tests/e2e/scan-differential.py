#!/usr/bin/env python3
"""The host's --scan against clamscan on the same generated tree and databases.

A fixed seed makes a tree of binary files (nested folders, non-ASCII names, files across read
block boundaries) and hash databases (.hdb with MD5, .hsb with SHA-1 and SHA-256, fixed and `*`
sizes, upper-case hex, CRLF lines, a level field) with signatures that match, near misses of the
listed size with other content, listed hashes under the wrong size, and decoys whose sizes match
files but whose hashes do not. Archives hold listed and unlisted members: zip (stored, deflated,
with data descriptors, ZIP64), tar (ustar, pax, GNU long names), gzip (one and several members)
and their mixes, nested up to three deep. clamscan scans it natively and devicescan-host scans it
under Wine through Z:, once with the databases loose and once packed in a container that sigtool
builds; each must report the same set of (file on disk, signature name) pairs, and that set must
be the one the generator planted. Then both scan the loose databases again under the same
--exclude, --exclude-dir, --include and --max-filesize options, each of which must leave out some
of the planted detections and not all, and both must still report the same pairs. Last, each moves
the threats out of a copy of the tree with --move: the same files must go, with the same bytes, and
nothing else may change.

Usage: scan-differential.py BUILD_DIR. Exit 77 (skipped) when clamscan is not installed.
"""
import gzip
import hashlib
import io
import json
import os
import random
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

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


class Unseekable(io.RawIOBase):
    """A write-only stream without seek, so that zipfile writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, data):
        self.data += data
        return len(data)


def zip_of(members, kind):
    """A zip of (name, content) pairs: kind is stored, deflated, descriptor or zip64."""
    if kind == "descriptor":
        out = Unseekable()
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, content in members:
                with archive.open(name, "w") as member:
                    member.write(content)
        return bytes(out.data)
    out = io.BytesIO()
    method = zipfile.ZIP_STORED if kind == "stored" else zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(out, "w", method) as archive:
        for name, content in members:
            with archive.open(name, "w", force_zip64=kind == "zip64") as member:
                member.write(content)
    return out.getvalue()


def tar_of(members, kind):
    """A tar of (name, content) pairs: kind is ustar, pax or gnu."""
    out = io.BytesIO()
    form = {"ustar": tarfile.USTAR_FORMAT, "pax": tarfile.PAX_FORMAT,
            "gnu": tarfile.GNU_FORMAT}[kind]
    with tarfile.open(fileobj=out, mode="w", format=form) as archive:
        for name, content in members:
            info = tarfile.TarInfo(name)
            info.size = len(content)
            info.mtime = 1700000000
            archive.addfile(info, io.BytesIO(content))
    return out.getvalue()


def gzip_of(content, pieces=1):
    """content gzip'd; with pieces > 1, as that many gzip members one after the other."""
    cut = [len(content) * i // pieces for i in range(pieces + 1)]
    return b"".join(gzip.compress(content[cut[i]:cut[i + 1]], mtime=0) for i in range(pieces))


# Every way an archive is made here, each taking the members' (name, content) pairs. A gzip
# holds one file: its first member's content.
ARCHIVES = {
    "zip-stored": lambda members: zip_of(members, "stored"),
    "zip-deflated": lambda members: zip_of(members, "deflated"),
    "zip-descriptor": lambda members: zip_of(members, "descriptor"),
    "zip64": lambda members: zip_of(members, "zip64"),
    "tar-ustar": lambda members: tar_of(members, "ustar"),
    "tar-pax": lambda members: tar_of(members, "pax"),
    "tar-gnu": lambda members: tar_of(members, "gnu"),
    "tar-gz": lambda members: gzip_of(tar_of(members, "ustar")),
    "gz": lambda members: gzip_of(members[0][1]),
    "gz-pieces": lambda members: gzip_of(members[0][1], 3),
}


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
        self.found_by_host_only = set()
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
        self.plant_archives()

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

    def member_name(self):
        """A member name: nested folders, non-ASCII, now and then longer than ustar's 100 bytes."""
        parts = self.random.sample(NAMES, self.random.randint(0, 2))
        if self.random.random() < 0.2:
            parts.append("long-" + "x" * 120)
        self.serial += 1
        return "/".join(parts + ["member %03d.bin" % self.serial])

    def listed_member(self):
        """A member whose content a new signature lists; returns it and the signature's name."""
        content = self.content(self.random.choice([6, 100, 4097, 70000]))
        self.serial += 1
        name = "Diff.Member%d" % self.serial
        self.sign(self.random.choice(list(HASHES)), content, name)
        return (self.member_name(), content), name

    def archive(self, kind, depth, listed):
        """An archive of kind at depth (0 outermost), with a listed member when listed, an
        unlisted one, and above the third level now and then a nested archive of any kind (a
        gzip holds one of these). Returns it and the names of the signatures planted inside."""
        parts = [((self.member_name(), self.content(self.random.randint(6, 5000))), [])]
        if listed:
            member, name = self.listed_member()
            parts.append((member, [name]))
        if depth < 2 and self.random.random() < 0.6:
            inner_kind = self.random.choice([kind for kind in ARCHIVES if kind != "zip64"])
            inner, names = self.archive(inner_kind, depth + 1, self.random.random() < 0.7)
            parts.append(((self.member_name(), inner), names))
        self.random.shuffle(parts)
        if kind.startswith("gz"):
            parts = [max(parts, key=lambda part: len(part[1]))]
        return ARCHIVES[kind]([member for member, _ in parts]), sum((n for _, n in parts), [])

    def plant_archives(self):
        """Each kind of archive, with listed members and without, nested now and then; the file
        on disk is reported once under each name planted anywhere inside it."""
        for kind in ARCHIVES:
            for listed in (True, False, True):
                archive, names = self.archive(kind, 0, listed)
                path = self.write(archive)
                # clamscan does not open a ZIP64 member whose sizes stand only in the zip64
                # field of its local header, as Python writes them: the host alone finds those.
                found = self.found_by_host_only if kind == "zip64" else self.expected
                found.update((path, name) for name in names)
        # An archive whose own hash is listed: the file is checked as a file too.
        archive, names = self.archive("zip-deflated", 1, True)
        self.sign("sha256", archive, "Diff.WholeArchive")
        path = self.write(archive)
        self.expected.update((path, name) for name in names + ["Diff.WholeArchive"])

    def save(self):
        for database, lines in self.lines.items():
            # extra.hsb ends its lines in CRLF, the others in LF.
            end = "\r\n" if database == "extra.hsb" else "\n"
            self.random.shuffle(lines)
            with open(os.path.join(self.databases, database), "w", newline="") as out:
                out.write("".join(line + end for line in lines))


def container_of(corpus):
    """The databases packed as diff.cud by sigtool (unsigned), with a kind the host counts but
    does not load: a folder holding the container alone."""
    work = os.path.join(os.path.dirname(corpus.databases), "pack")
    os.makedirs(work)
    with open(os.path.join(work, "COPYING"), "w") as out:
        out.write("generated for a test\n")
    for kind in ("hdb", "hsb"):
        with open(os.path.join(work, "diff." + kind), "wb") as out:
            for database in sorted(corpus.lines):
                if database.endswith(kind):
                    with open(os.path.join(corpus.databases, database), "rb") as source:
                        out.write(source.read())
    with open(os.path.join(work, "diff.ndb"), "w") as out:
        out.write("Diff.Body.Never:0:*:%s\n" % corpus.random.randbytes(24).hex())
    result = subprocess.run(["sigtool", "--build=diff.cud", "--unsigned"], cwd=work,
                            input=b"1\n", capture_output=True,
                            env=dict(os.environ, SIGNDUSER="differential"))
    if result.returncode != 0:
        fail("sigtool could not build the container: %s" % result.stderr.decode())
    folder = os.path.join(os.path.dirname(corpus.databases), "container")
    os.makedirs(folder)
    shutil.move(os.path.join(work, "diff.cud"), folder)
    return folder


# Options that choose what is scanned, given alike to both scanners. The patterns mean the same
# to both: clamscan compares them with the Unix path and case, the host with the Windows path
# (Z:\...) and without case, so they hold no separator, no anchor but the end and no letter
# whose other case occurs in the tree.
SELECTIONS = [
    ["--exclude=café", "--exclude=[37]\\.bin$"],
    ["--exclude-dir=отчёт$", "--exclude-dir=資料$"],
    ["--include=[05]\\.bin$"],
    ["--include=plain", "--exclude-dir=données$", "--exclude=9\\.bin$"],
    ["--max-filesize=70000"],
    ["--max-filesize=4096", "--exclude-dir=plain$"],
]


def clamscan_pairs(corpus, databases, selection=()):
    result = subprocess.run(["clamscan", "-d", databases, "--allmatch", "-r",
                             "--no-summary", "--infected", *selection, corpus.tree],
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


def host_pairs(corpus, build, databases, selection=()):
    command = [os.path.join(build, "wine-run"), os.path.join(build, "bin", "devicescan-host.exe"),
               "--json", "--scan", windows_path(corpus.tree), "--db", windows_path(databases),
               *selection]
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
            members = tuple(event.get("member", []))
            detections.append((unix_path(event["path"]), members, event["name"]))
        elif event["event"] == "scan" and event["state"] == "finished":
            summaries.append(event)
    if len(set(detections)) != len(detections):
        fail("a (file, member, name) detection was reported more than once")
    if len(summaries) != 1 or summaries[0]["errors"] != 0 or summaries[0]["damaged"] != 0:
        fail("not one scan summary without errors and damage: %s" % summaries)
    return {(path, name) for path, _, name in detections}


def files_of(tree):
    """Every file under tree by its path from there, with its SHA-256."""
    found = {}
    for folder, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as source:
                found[os.path.relpath(path, tree)] = hashlib.sha256(source.read()).hexdigest()
    return found


def moved_by(who, corpus, build):
    """The files that clamscan --move or the host's --move take out of a copy of the tree; fails
    when anything else in the tree changed or the folder does not hold the same bytes."""
    base = os.path.dirname(corpus.tree)
    tree = os.path.join(base, "move-" + who)
    box = os.path.join(base, "box-" + who)
    shutil.copytree(corpus.tree, tree)
    os.makedirs(box)
    before = files_of(tree)
    if who == "clamscan":
        subprocess.run(["clamscan", "-d", corpus.databases, "--allmatch", "-r", "--no-summary",
                        "--infected", "--move", box, tree], capture_output=True)
    else:
        subprocess.run([os.path.join(build, "wine-run"),
                        os.path.join(build, "bin", "devicescan-host.exe"), "--json", "--scan",
                        windows_path(tree), "--db", windows_path(corpus.databases), "--move",
                        windows_path(box)], capture_output=True, timeout=240)
    after = files_of(tree)
    if any(before.get(path) != digest for path, digest in after.items()):
        fail("%s --move changed files it did not move" % who)
    gone = set(before) - set(after)
    held = files_of(box)
    held.pop("manifest.jsonl", None)
    if sorted(before[path] for path in gone) != sorted(held.values()):
        fail("%s --move: the folder does not hold the bytes of the files moved" % who)
    return gone


def compare_moves(corpus, build):
    """--move against clamscan --move: the same files taken out, with the same bytes (and the
    files the host alone finds, in ZIP64 members)."""
    host_only = {os.path.relpath(path, corpus.tree) for path, _ in corpus.found_by_host_only}
    theirs = moved_by("clamscan", corpus, build)
    ours = moved_by("host", corpus, build)
    if ours - host_only != theirs or not host_only <= ours:
        for path in sorted(ours ^ (theirs | host_only)):
            print("moved by one scanner only: " + path)
        fail("--move moves other files than clamscan --move")
    return len(ours)


def compare(what, actual, expected):
    if actual == expected:
        return True
    for path, name in sorted(actual - expected):
        print("%s reports %s in %s, not planted" % (what, name, path))
    for path, name in sorted(expected - actual):
        print("%s misses %s in %s" % (what, name, path))
    return False


def compare_selections(corpus, build):
    """Each selection: the same detections from both scanners, some planted ones left out and
    some kept. Archives with ZIP64 members are left out of the comparison (the host alone opens
    them)."""
    host_only = {path for path, _ in corpus.found_by_host_only}
    same = True
    for selection in SELECTIONS:
        what = "with " + " ".join(selection)
        theirs = {pair for pair in clamscan_pairs(corpus, corpus.databases, selection)
                  if pair[0] not in host_only}
        ours = {pair for pair in host_pairs(corpus, build, corpus.databases, selection)
                if pair[0] not in host_only}
        same = compare("devicescan-host " + what, ours, theirs) and same
        if not theirs or theirs >= corpus.expected:
            fail("the selection %s leaves out nothing or everything: %d of %d detections" %
                 (what, len(theirs), len(corpus.expected)))
    return same


def main():
    build = sys.argv[1]
    if shutil.which("clamscan") is None:
        skip("clamscan is not installed (scripts/test installs it)")
    root = tempfile.mkdtemp(prefix="devicescan-differential.")
    try:
        corpus = Corpus(root)
        corpus.plant()
        corpus.save()
        container = container_of(corpus)
        expected = corpus.expected | corpus.found_by_host_only
        same = True
        for databases in (corpus.databases, container):
            same = compare("clamscan", clamscan_pairs(corpus, databases), corpus.expected) and same
            ours = host_pairs(corpus, build, databases)
            same = compare("devicescan-host", ours, expected) and same
        same = compare_selections(corpus, build) and same
        if not same:
            fail("the scanners disagree")
        moved = compare_moves(corpus, build)
        print("differential: %d files, %d signatures loose and in a container, the same %d "
              "detections from both (%d in ZIP64 members by the host alone); the same under "
              "%d selections" %
              (corpus.serial, sum(map(len, corpus.lines.values())), len(corpus.expected),
               len(corpus.found_by_host_only), len(SELECTIONS)))
        print("differential: --move took the same %d files whole as clamscan --move" % moved)
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()
