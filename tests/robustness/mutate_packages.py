#!/usr/bin/env python3
"""Runs the engine on damaged and hostile packages and checks that it stays in its bounds.

Every mutant is made from the demo packages that kxbuild builds: bytes changed or cut in the
archive and the trailer, archives rewritten with hostile entry names, and package databases
rewritten (cut, garbled, naming hostile further packages) and enciphered again with kxtool. Each
runs silently in a world of its own (machine root, temporary folder, the folder it lies in) and
must end by itself within the time limit, with exit code -1 and a message (or 0, once something
can be installed), never by a signal or a sanitizer report, leaving nothing in its temporary
folder and changing nothing outside it: a run that installed changes its machine root alone,
and a run that failed after installing anything has rolled it all back.

    mutate_packages.py ENGINE KXBUILD KXTOOL DEMO_DIR WORK_DIR [--count N] [--seed S]
                       [--jobs J] [--timeout SECONDS]

The failing mutants are kept under WORK_DIR/failures with what was done to them.
"""

import argparse
import concurrent.futures
import os
import random
import re
import shutil
import stat
import struct
import subprocess
import sys
import threading

MARKER = b"KXPEND"
SETUP = "DemoSetup"

# ---------------------------------------------------------------------------------------------
# Cabinets: a reader for the uncompressed cabinets kxbuild writes with "--compression none", and
# a writer that stores any names and bytes in one folder.

def read_cabinet(cab):
    """The entries of an uncompressed cabinet, in order: (name bytes, data, attributes)."""
    (cb_cabinet, coff_files, folders, files, flags) = struct.unpack_from("<8xI4xI6xHHH", cab, 0)
    assert flags == 0, "kxbuild writes no reserve"
    data = []  # of each folder
    for folder in range(folders):
        (cab_start, blocks, compression) = struct.unpack_from("<IHH", cab, 36 + 8 * folder)
        assert compression == 0, "build the base with --compression none"
        data.append(bytearray())
        at = cab_start
        for _ in range(blocks):
            (size, _) = struct.unpack_from("<HH", cab, at + 4)
            data[-1] += cab[at + 8:at + 8 + size]
            at += 8 + size
    entries = []
    at = coff_files
    for _ in range(files):
        (size, offset, folder, _, _, attributes) = struct.unpack_from("<IIHHHH", cab, at)
        end = cab.index(b"\0", at + 16)
        entries.append((cab[at + 16:end], bytes(data[folder][offset:offset + size]), attributes))
        at = end + 1
    return entries


def checksum(data, seed):
    value = seed
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        value ^= word
    rest = 0
    for byte in data[whole:]:
        rest = (rest << 8) | byte
    return value ^ rest


def write_cabinet(entries):
    """An uncompressed cabinet of (name bytes, data, attributes) entries in one folder."""
    names = b"".join(struct.pack("<IIHHHH", 0, 0, 0, 0x5987, 0x6000, 0) + name + b"\0"
                     for (name, _, _) in entries)
    header_size = 36 + 8
    payload = b"".join(data for (_, data, _) in entries)
    blocks = [payload[i:i + 32768] for i in range(0, len(payload), 32768)] or [b""]
    data_start = header_size + len(names)
    files = bytearray()
    offset = 0
    for (name, data, attributes) in entries:
        files += struct.pack("<IIHHHH", len(data), offset, 0, 0x5987, 0x6000, attributes)
        files += name + b"\0"
        offset += len(data)
    blob = bytearray()
    for block in blocks:
        sizes = struct.pack("<HH", len(block), len(block))
        blob += struct.pack("<I", checksum(sizes, checksum(block, 0))) + sizes + block
    total = data_start + len(blob)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, header_size, 0, 3, 1, 1,
                         len(entries), 0, 0x4B58, 0)
    folder = struct.pack("<IHH", data_start, len(blocks), 0)
    return bytes(header + folder + files + blob)


def package(image, cab, presetup, data, tail=b"", built_error=0):
    built = len(image) + len(cab) + 18 + built_error
    numbers = struct.pack("<III", built & 0xFFFFFFFF, presetup & 0xFFFFFFFF, data & 0xFFFFFFFF)
    return image + cab + numbers + MARKER + tail


def sizes_of(entries):
    presetup = sum(len(d) for (n, d, _) in entries if not n.lower().startswith(b"data\\"))
    return presetup, sum(len(d) for (n, d, _) in entries if n.lower().startswith(b"data\\"))


# ---------------------------------------------------------------------------------------------
# The mutants: each is a description and the files of its folder.

class Base:
    """The demo packages as built, their entries, and their deciphered databases."""

    def __init__(self, work, stub, kxtool, built_none, built_zip):
        self.stub = stub
        self.kxtool = kxtool
        self.work = work
        self.packages = {}  # file name -> (zip package bytes, entries of the uncompressed build)
        for name in (SETUP, "docs.kxp"):
            zipped = open(os.path.join(built_zip, name), "rb").read()
            plain = open(os.path.join(built_none, name), "rb").read()
            image = stub if name == SETUP else b""
            cab = plain[len(image):len(plain) - 18]
            self.packages[name] = (zipped, read_cabinet(cab))
        self.databases = {}
        for name in (SETUP, "docs.kxp"):
            for (entry, data, _) in self.packages[name][1]:
                if entry in (b"db.pdb", b"main.pdb"):
                    self.databases[(name, entry)] = self.decipher(data)

    def run_kxtool(self, verb, data):
        source = os.path.join(self.work, "kxtool-in-%d" % os.getpid())
        target = source + ".out"
        with open(source, "wb") as f:
            f.write(data)
        subprocess.run([self.kxtool, verb, source, target], check=True, capture_output=True)
        result = open(target, "rb").read()
        os.remove(source)
        os.remove(target)
        return result

    def decipher(self, data):
        return self.run_kxtool("decipher", data)

    def encipher(self, text):
        return self.run_kxtool("encipher", text)

    def image(self, name):
        return self.stub if name == SETUP else b""

    def files(self, **replaced):
        files = {name: self.packages[name][0] for name in self.packages}
        files.update(replaced)
        return files

    def rebuilt(self, name, entries, **options):
        presetup, data = sizes_of(entries)
        return package(self.image(name), write_cabinet(entries), presetup, data, **options)


# Names no package may make the engine write: each would leave the temporary folder, reach a
# device, or be changed by the system into another name.
def hostile_names(world):
    escape = "Z:" + world.replace("/", "\\") + "\\ESCAPED"
    return [b"..\\..\\ESCAPED", b"../../ESCAPED", b"lng\\..\\..\\..\\ESCAPED", b"C:\\ESCAPED",
            escape.encode(), b"\\ESCAPED", b"COM1", b"nul.txt", b"lpt1\\x.txt", b"Aux.lng",
            b"x.", b"x ", b"a" * 300, b"lng\\" + b"b" * 250, b"a\x01b", b"lng\\\\x", b"",
            b"lng/../../ESCAPED", b"x:stream", b"a*b", b"CON .txt", b"..", b"."]


def flip_bytes(base, rng, world):
    name = rng.choice(list(base.packages))
    data = bytearray(base.packages[name][0])
    start = len(base.image(name))
    end = len(data) - 18
    changes = []
    for _ in range(rng.randint(1, 8)):
        # Mostly the headers and file table at the archive's start, else anywhere before the
        # trailer.
        at = start + rng.randrange(min(600, end - start)) if rng.random() < 0.6 else \
            rng.randrange(start, end)
        data[at] = rng.randrange(256)
        changes.append(at - start)
    return "%s: archive bytes changed at %s" % (name, changes), base.files(**{name: bytes(data)})


def cut_and_refit(base, rng, world):
    name = rng.choice(list(base.packages))
    zipped = base.packages[name][0]
    start = len(base.image(name))
    cab = zipped[start:len(zipped) - 18]
    keep = rng.randrange(len(cab))
    numbers = struct.unpack("<III", zipped[-18:-6])
    fixed = package(base.image(name), cab[:keep], numbers[1], numbers[2])
    return "%s: archive cut to %d bytes, trailer fitted" % (name, keep), \
        base.files(**{name: fixed})


def trailer_fields(base, rng, world):
    name = rng.choice(list(base.packages))
    zipped = base.packages[name][0]
    start = len(base.image(name))
    cab = zipped[start:len(zipped) - 18]
    (_, presetup, data) = struct.unpack("<III", zipped[-18:-6])
    interesting = [0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, presetup * 1024, rng.randrange(1 << 32)]
    presetup = rng.choice(interesting + [presetup])
    data = rng.choice(interesting + [data])
    built_error = rng.choice([0, 0, -1, 1, -(1 << 20)])
    tail = b"\0" * rng.choice([0, 0, 1, 65530, 65531])
    return "%s: trailer presetup %d, data %d, built %+d, tail %d" % (
        name, presetup, data, built_error, len(tail)), \
        base.files(**{name: package(base.image(name), cab, presetup, data, tail, built_error)})


def header_fields(base, rng, world):
    name = rng.choice(list(base.packages))
    data = bytearray(base.packages[name][0])
    start = len(base.image(name))
    # The numbers of the cabinet header, the first folder and the first file entry.
    fields = [(8, "I"), (16, "I"), (24, "B"), (25, "B"), (26, "H"), (28, "H"), (30, "H"),
              (36, "I"), (40, "H"), (42, "H"), (44, "I"), (48, "I"), (52, "H")]
    (at, kind) = rng.choice(fields)
    limit = {"B": 0xFF, "H": 0xFFFF, "I": 0xFFFFFFFF}[kind]
    (value,) = struct.unpack_from("<" + kind, data, start + at)
    value = rng.choice([0, 1, limit, limit // 2 + 1, value + 1, value - 1 if value else 1,
                        rng.randrange(limit + 1)]) & limit
    struct.pack_into("<" + kind, data, start + at, value)
    return "%s: cabinet field at %d set to %d" % (name, at, value), \
        base.files(**{name: bytes(data)})


def hostile_entry(base, rng, world):
    name = rng.choice(list(base.packages))
    entries = list(base.packages[name][1])
    presetup = [i for (i, (n, _, _)) in enumerate(entries) if not n.lower().startswith(b"data\\")]
    hostile = rng.choice(hostile_names(world))
    index = rng.choice(presetup)
    entries[index] = (hostile, b"must never be written\n", 0x20)
    return "%s: entry %d named %r" % (name, index, hostile), \
        base.files(**{name: base.rebuilt(name, entries)})


def with_database(base, name, entry, text):
    entries = [(n, base.encipher(text) if n == entry else d, a)
               for (n, d, a) in base.packages[name][1]]
    return base.files(**{name: base.rebuilt(name, entries)})


def garbled_database(base, rng, world):
    (name, entry) = rng.choice(list(base.databases))
    text = bytearray(base.databases[(name, entry)])
    how = rng.choice(["cut", "bytes", "insert", "repeat"])
    if how == "cut":
        text = text[:rng.randrange(len(text))]
    elif how == "bytes":
        for _ in range(rng.randint(1, 6)):
            text[rng.randrange(len(text))] = rng.choice(b"<>/=\"'&;\0\x01\xff !?-[]")
    elif how == "insert":
        at = rng.randrange(len(text))
        junk = rng.choice([b"<x>" * 100000, b"<a " + b"b='1' " * 10000 + b"/>", b"&#0;",
                           b"<!--", b"<![CDATA[", b"]]>", b"&amp", b"<?xml?>", b"\xef\xbb\xbf",
                           b"%" * 1000, b"%AppName%" * 2000, b"<package filename=''/>"])
        text[at:at] = junk
    else:
        at = rng.randrange(len(text))
        text[at:at] = text[at:] * rng.randint(2, 50)
    return "%s %s: %s" % (name, entry.decode(), how), \
        with_database(base, name, entry, bytes(text))


def hostile_further_package(base, rng, world):
    text = base.databases[(SETUP, b"main.pdb")]
    hostile = rng.choice(hostile_names(world) + [b"docs\\..\\..\\ESCAPED", b"%InstallDir%",
                                                 b"..", b"docs" * 100])
    replaced = text.replace(b'filename="docs"', b'filename="' + hostile.replace(b'"', b"") + b'"')
    replaced = replaced.replace(b'package="docs"', b'package="' + hostile.replace(b'"', b"") + b'"')
    return "main.pdb names the further package %r" % hostile, \
        with_database(base, SETUP, b"main.pdb", replaced)


def hostile_attributes(base, rng, world):
    (name, entry) = rng.choice(list(base.databases))
    text = base.databases[(name, entry)]
    element = b"<package " if entry == b"db.pdb" else b"<kx2project "
    attribute = rng.choice([b'temppath="C:\\ESCAPED\\"', b'prepared="1"', b'needed="1"',
                            b'presetupsize="-1"', b'datasize="99999999999999999999"',
                            b'fullfilename="..\\..\\ESCAPED.kxp"', b'filename="../ESCAPED"',
                            b'installstate="999"', b'activeinstalltype="missing"'])
    at = text.find(element if element in text else b"<")
    text = text[:at + len(element)] + attribute + b" " + text[at + len(element):]
    return "%s %s: %r" % (name, entry.decode(), attribute), \
        with_database(base, name, entry, text)


def missing_entry(base, rng, world):
    name = rng.choice(list(base.packages))
    entries = list(base.packages[name][1])
    index = rng.randrange(len(entries))
    dropped = entries.pop(index)
    return "%s: entry %r left out" % (name, dropped[0]), \
        base.files(**{name: base.rebuilt(name, entries)})


MUTATORS = [flip_bytes, flip_bytes, cut_and_refit, trailer_fields, header_fields, header_fields,
            hostile_entry, hostile_entry, garbled_database, garbled_database,
            hostile_further_package, hostile_attributes, missing_entry]

# ---------------------------------------------------------------------------------------------
# Running a mutant


def snapshot(root, skip):
    """Every path under root, but skip and what it holds, with its kind, size and time; a
    folder's own time changes whenever an entry comes and goes, so only its existence counts;
    the registry store by its contents, which a rolled-back run writes back as they were, and
    not its lock file."""
    seen = {}
    for (folder, dirs, files) in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != skip]
        for name in dirs + files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            if name == "system.reg.lock":
                continue
            if name == "system.reg":
                with open(path, "rb") as f:
                    seen[os.path.relpath(path, root)] = f.read()
            elif stat.S_ISDIR(st.st_mode):
                seen[os.path.relpath(path, root)] = st.st_mode
            else:
                seen[os.path.relpath(path, root)] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return seen


SPAWNING = threading.Lock()


def run_mutant(number, description, files, args, machine_template):
    world = os.path.join(args.work, "worlds", str(number))
    here = os.path.join(world, "a", "b", "c", "d")  # deep enough for "..\.." to stay inside
    temp = os.path.join(here, "tmp")
    setup_folder = os.path.join(here, "setup")
    for folder in (temp, setup_folder):
        os.makedirs(folder)
    shutil.copytree(machine_template, os.path.join(world, "machine"))
    environment = dict(os.environ, KX_ROOT=os.path.join(world, "machine"), TMPDIR=temp)
    # A program file still open for writing in a child that another thread forked cannot be
    # started ("text file busy"): files are written and programs started one at a time.
    with SPAWNING:
        for (name, data) in files.items():
            with open(os.path.join(setup_folder, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(setup_folder, SETUP), 0o755)
        before = snapshot(world, temp)
        process = subprocess.Popen([os.path.join(setup_folder, SETUP), "/s"], cwd=setup_folder,
                                   env=environment, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
    faults = []
    try:
        (stdout, stderr) = process.communicate(timeout=args.timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        (stdout, stderr) = process.communicate()
        faults.append("still running after %s s" % args.timeout)
    output = (stdout + stderr).decode("latin-1")
    if faults:
        pass
    elif process.returncode < 0:
        faults.append("ended by signal %d" % -process.returncode)
    elif process.returncode not in (0, 255):
        faults.append("exit code %d" % process.returncode)
    elif process.returncode == 255 and ": " not in stderr.decode("latin-1"):
        faults.append("refused without a message")
    for sign in ("AddressSanitizer", "LeakSanitizer", " runtime error: ", "Runtime error"):
        if sign in output:
            faults.append("reported %r" % sign.strip())
    left = os.listdir(temp)
    if left:
        faults.append("left in its temporary folder: %s" % sorted(left)[:5])
    after = snapshot(world, temp)
    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    # An installation that succeeded changes the machine, and nothing beside it; a failed one
    # is rolled back and changes nothing.
    if process.returncode == 0:
        changed = [p for p in changed if p != "machine" and not p.startswith("machine" + os.sep)]
    if changed:
        faults.append("changed outside its temporary folder: %s" % changed[:5])
    if faults:
        kept = os.path.join(args.work, "failures", str(number))
        shutil.rmtree(kept, ignore_errors=True)
        shutil.copytree(setup_folder, kept)
        with open(os.path.join(kept, "what.txt"), "w") as f:
            f.write(description + "\n" + "\n".join(faults) + "\n--- output\n" + output)
    shutil.rmtree(world, ignore_errors=True)
    first_line = output.strip().splitlines()[0] if output.strip() else ""
    return faults, re.sub(r'"[^"]*\\setup\\', '"', first_line)


def build_base(args, stub_path):
    project = os.path.join(args.work, "project")
    shutil.copytree(args.demo, project)
    built = {}
    for compression in ("none", "mszip"):
        folder = os.path.join(args.work, "built-" + compression)
        os.makedirs(folder)
        subprocess.run([args.kxbuild, os.path.join(project, "demo.xml"), "-o",
                        os.path.join(folder, SETUP), "--target", "host", "--stub", stub_path,
                        "--compression", compression], check=True, capture_output=True)
        built[compression] = folder
    return built


def make_machine_template(args, built):
    """A machine root as the engine leaves it after an ordinary run, so mutants find it made."""
    template = os.path.join(args.work, "machine")
    temp = os.path.join(args.work, "template-tmp")
    os.makedirs(temp)
    environment = dict(os.environ, KX_ROOT=template, TMPDIR=temp)
    setup = os.path.join(built["mszip"], SETUP)
    os.chmod(setup, 0o755)
    subprocess.run([setup, "/s"], cwd=built["mszip"], env=environment, capture_output=True,
                   timeout=args.timeout)
    return template


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("engine")
    parser.add_argument("kxbuild")
    parser.add_argument("kxtool")
    parser.add_argument("demo")
    parser.add_argument("work")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--timeout", type=float, default=20)
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    # The engine without its debugging information: a few hundred packages of it are written.
    stub_path = os.path.join(args.work, "engine")
    subprocess.run(["strip", "-o", stub_path, args.engine], check=True)
    # The demo's plug-in, stripped too, where kxbuild looks for it: beside that engine.
    plugins = os.path.join(args.work, "plugins")
    os.makedirs(plugins)
    subprocess.run(["strip", "-o", os.path.join(plugins, "autopilot.dll"),
                    os.path.join(os.path.dirname(args.kxbuild), "..", "plugins", "autopilot.dll")],
                   check=True)
    built = build_base(args, stub_path)
    base = Base(args.work, open(stub_path, "rb").read(), args.kxtool, built["none"],
                built["mszip"])
    machine = make_machine_template(args, built)

    rng = random.Random(args.seed)
    mutants = []
    for number in range(args.count):
        mutator = rng.choice(MUTATORS)
        world = os.path.join(args.work, "worlds", str(number))
        description, files = mutator(base, random.Random(rng.random()), world)
        mutants.append((number, description, files))

    failed = 0
    outcomes = {}
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_mutant, n, d, f, args, machine): (n, d) for (n, d, f) in mutants}
        for future in concurrent.futures.as_completed(futures):
            (number, description) = futures[future]
            faults, first_line = future.result()
            outcomes[first_line[:60]] = outcomes.get(first_line[:60], 0) + 1
            if faults:
                failed += 1
                print("FAILED mutant %d (%s): %s" % (number, description, "; ".join(faults)))
    print("outcomes (first line of the engine's output):")
    for (line, count) in sorted(outcomes.items(), key=lambda item: -item[1]):
        print("  %5d  %s" % (count, line))
    print("%d mutants (seed %d), %d failed" % (args.count, args.seed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
