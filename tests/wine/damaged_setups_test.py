#!/usr/bin/env python3
"""Damaged setups under Wine: the setup program fed broken copies of a setup.

    damaged_setups_test.py KELVO STUB UNINSTALLER SOURCE_DIR WORK_DIR

A setup of the demo project (earlier installations left alone, so every run
stands by itself) is damaged in three ways:
  - cut at each record boundary (and inside each record's header);
  - cut at seeded random points, in the records and in the file data;
  - one byte flipped in each record's body, and in each stored file's data.
Each copy runs unattended (/QUIET /LOG) into a folder of its own. It must
end with a clear reason (the log's last line "exit code N: ...") or silently
with -1 where the setup cannot run at all (no loadable archive), never with
a crash; and every file it leaves in its folder must be the file the good
setup installs (kelvo extract of the good setup is the reference). The
figures are printed: cases tried, and how they ended.
"""
import os
import random
import struct
import subprocess
import sys
from collections import Counter

CRASH = 5          # wine-run.sh's exit code for a crash
NO_SETUP = 255     # -1: no loadable archive; Wine passes the low 8 bits
FILE_DATA = 0x7F7F
SEED = 1716
RANDOM_CUTS = 24


def records(image, archive_offset):
    """(start, id, body start, end) of each record, up to FileData's head."""
    found = []
    at = archive_offset
    while at + 8 <= len(image):
        record_id, _flags, _reserved, length = struct.unpack_from("<HBBI", image, at)
        end = at + 8 + length
        found.append((at, record_id, at + 8, end))
        if record_id == FILE_DATA or end > len(image):
            break
        at = end
    return found


def damaged_copies(image, archive_offset, file_data):
    """(label, bytes) of every damaged copy."""
    rng = random.Random(SEED)
    recs = records(image, archive_offset)
    copies = []
    for start, record_id, body, end in recs:
        copies.append((f"cut before record 0x{record_id:04X} at {start}", image[:start]))
        copies.append((f"cut inside the header of 0x{record_id:04X}", image[:start + 5]))
        if record_id != FILE_DATA and end > body:
            at = rng.randrange(body, end)
            flipped = bytearray(image)
            flipped[at] ^= 0x5A
            copies.append((f"byte {at} flipped in record 0x{record_id:04X}", bytes(flipped)))
    for _ in range(RANDOM_CUTS):
        at = rng.randrange(archive_offset, len(image))
        copies.append((f"cut at {at}", image[:at]))
    start, length = file_data
    for entry_start in stored_entry_offsets(image, start, length):
        flipped = bytearray(image)
        flipped[entry_start] ^= 0x5A
        copies.append((f"byte {entry_start} flipped in the file data", bytes(flipped)))
    return copies


def stored_entry_offsets(image, start, length):
    """A few points spread over the file data, where the entries' streams lie."""
    if length <= 8:
        return []
    step = max(1, length // 8)
    return [start + 4 + i for i in range(0, length - 4, step)]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def files_under(folder):
    out = {}
    for root, _dirs, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            out[os.path.relpath(path, folder).lower()] = path
    return out


def main():
    if len(sys.argv) != 6:
        print("usage: damaged_setups_test.py KELVO STUB UNINSTALLER SOURCE_DIR WORK_DIR", file=sys.stderr)
        return 2
    kelvo, stub, uninstaller, source_dir, work = sys.argv[1:]
    work = os.path.abspath(work)
    scripts = os.path.join(source_dir, "scripts")
    os.makedirs(work, exist_ok=True)
    project_dir = os.path.join(work, "project")
    run(["rm", "-rf", project_dir])
    run(["cp", "-a", os.path.join(source_dir, "examples", "demo"), project_dir])
    toml_path = os.path.join(project_dir, "kelvo.toml")
    with open(toml_path, encoding="utf-8") as f:
        text = f.read().replace("remove-earlier-installations = true", "remove-earlier-installations = false")
    with open(toml_path, "w", encoding="utf-8") as f:
        f.write(text)
    good = os.path.join(work, "good.exe")
    built = run([kelvo, "build", toml_path, "-o", good, "--stub", stub, "--uninstaller", uninstaller])
    if built.returncode != 0:
        print(built.stderr.decode(), file=sys.stderr)
        return 1
    reference = os.path.join(work, "reference")
    run(["rm", "-rf", reference])
    run([kelvo, "extract", good, "-d", reference], check=True)
    expected = {name: open(path, "rb").read() for name, path in files_under(reference).items()}

    import json
    dump = json.loads(run([kelvo, "dump", good], check=True).stdout)
    image = open(good, "rb").read()
    copies = damaged_copies(image, dump["archiveOffset"], (dump["fileData"]["start"], dump["fileData"]["length"]))

    # The good setup first: it installs, so the checks below can see files.
    copies.insert(0, ("undamaged", image))
    failures = []
    endings = Counter()
    for number, (label, data) in enumerate(copies):
        setup = os.path.join(work, "damaged.exe")
        with open(setup, "wb") as f:
            f.write(data)
        target = os.path.join(work, f"target-{number}")
        log = os.path.join(work, f"log-{number}.txt")
        run(["rm", "-rf", target, log])
        result = run(["bash", os.path.join(scripts, "wine-run.sh"), setup, "/QUIET",
                      "/TARGET=Z:" + target.replace("/", "\\"), "/LOG=Z:" + log.replace("/", "\\")],
                     timeout=120)
        code = result.returncode
        last = ""
        if os.path.exists(log):
            lines = open(log, encoding="utf-8", errors="replace").read().splitlines()
            last = lines[-1] if lines else ""
        if code == CRASH:
            failures.append(f"{label}: the setup program crashed")
        elif code != NO_SETUP and not last.startswith("exit code"):
            failures.append(f"{label}: exit {code} with no reason in the log (last line: {last!r})")
        installed = files_under(target)
        if number == 0:
            if code != 0 or not (set(installed) & set(expected)):
                failures.append(f"the undamaged setup did not install (exit {code}, {last!r})")
            # Files setup changes after writing them (the uninstaller takes
            # its log, file patches edit settings) are not compared.
            changed = {name for name, path in installed.items()
                       if name in expected and open(path, "rb").read() != expected[name]}
            for name in changed:
                del expected[name]
        for name, path in installed.items():
            if name in expected and open(path, "rb").read() != expected[name]:
                failures.append(f"{label}: installed {name} with contents that fail its check")
        reason = "no loadable archive (-1)" if code == NO_SETUP else last.split(": ", 1)[-1][:60] or f"exit {code}"
        endings[f"exit {code & 0xFF}: {reason}"] += 1
        print(f"{label}: exit {code}, {last}")

    print(f"\n{len(copies)} damaged setups tried; how they ended:")
    for ending, count in sorted(endings.items()):
        print(f"  {count:3d}  {ending}")
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
