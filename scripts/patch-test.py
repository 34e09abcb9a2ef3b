#!/usr/bin/env python3
"""Patches only ever save work, and a cap never fails an update: whole updates of the real
update program from nginx, release A to B (B's client, a packed library and a data file are
point releases of A's, published with patches), where the mirrors' patch index or patches
are wrong:

  - an honest mirror alone: the bytes an update fetches with patches;
  - two mirrors that lie in their index (one with wrong MD5s, one with wrong sizes and
    lines listed twice) beside an honest one, updated until the index came from a liar
    (at most 8 times): B byte for byte every time, no mirror dropped; the bytes fetched
    with patches, without, and with a lying index are printed;
  - a mirror whose every patch is bad (each has the size and MD5 its index lists, but does
    not make the file): B, the files whole, the mirror not dropped;
  - a mirror answering the index with 403, with 500, and with 5 MiB: B;
  - release C to D (nine new files of 8 KB) from three mirrors with streams=9 and
    maxKBps=1, which takes over a minute: done, no mirror dropped.

    scripts/patch-test.py --build build"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

from updateworld import CLIENT_TYPE, SETTINGS, World, random_bytes, snapshot, write_tree

LIARS = ("wrong-md5s", "wrong-sizes-and-lines-twice")
INDEX_REFUSALS = {"403": "return 403;", "500": "return 500;"}


def md5(data):
    return hashlib.md5(data).hexdigest()


def index_lines(world):
    with open(os.path.join(world.scratch, "www", "101", "patches", "index")) as index:
        return [line.split() for line in index.read().splitlines() if line]


def write_lies(world, directory):
    """The lying indexes, the bad patches with an index that describes them, a huge index."""
    lines = index_lines(world)
    with open(os.path.join(directory, LIARS[0]), "w") as lie:
        lie.writelines(f"{target} {base} {size} {md5(patch.encode())}\n" for target, base, size, patch in lines)
    with open(os.path.join(directory, LIARS[1]), "w") as lie:
        for n, (target, base, size, patch) in enumerate(lines):
            sizes = [[int(size) * 2], [int(size) // 2], [int(size), int(size) + 1]][n % 3]
            lie.writelines(f"{target} {base} {wrong} {patch}\n" for wrong in sizes)
    bad = os.path.join(directory, "bad")
    os.makedirs(bad)
    with open(os.path.join(bad, "index"), "w") as index:
        for target, base, size, patch in lines:
            name = f"{target}-{base}.zst"
            with open(os.path.join(world.scratch, "www", "101", "patches", name), "rb") as good:
                content = bytearray(good.read())
            content[len(content) // 2] ^= 0xFF
            with open(os.path.join(bad, name), "wb") as out:
                out.write(content)
            index.write(f"{target} {base} {len(content)} {md5(bytes(content))}\n")
    with open(os.path.join(directory, "huge"), "wb") as huge:
        huge.write(b"\n" * (5 << 20))


def servers(port, lies):
    patches = "/101/patches/"
    return [f"listen 127.0.0.1:{port};",
            f"listen 127.0.0.1:{port + 1}; location = {patches}index {{ alias {lies}/{LIARS[0]}; }}",
            f"listen 127.0.0.1:{port + 2}; location = {patches}index {{ alias {lies}/{LIARS[1]}; }}",
            f"listen 127.0.0.1:{port + 3}; location {patches} {{ alias {lies}/bad/; }}",
            f"listen 127.0.0.1:{port + 4}; location = {patches}index {{ {INDEX_REFUSALS['403']} }}",
            f"listen 127.0.0.1:{port + 5}; location = {patches}index {{ {INDEX_REFUSALS['500']} }}",
            f"listen 127.0.0.1:{port + 6}; location = {patches}index {{ alias {lies}/huge; }}",
            f"listen 127.0.0.1:{port + 7};",
            f"listen 127.0.0.1:{port + 8};"]


def run(world, mirrors, arguments=None, settings=None, tree=None, timeout=120):
    """One update; problems, the seconds it took and the requests it made."""
    world.install_a([f"http://127.0.0.1:{port}/" for port in mirrors], tree=tree,
                    **({"settings": settings} if settings else {}))
    served = len(world.served())
    started = time.monotonic()
    process = world.updater(arguments) if arguments else world.update()
    try:
        status = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        status = "timed out"
    seconds = time.monotonic() - started
    log = world.log()
    # The next start removes the updater's own set-aside copy.
    world.updater([CLIENT_TYPE, "x"]).wait(timeout=60)
    problems = [] if status == 0 else [f"exit {status}"]
    problems += [line for line in log.splitlines() if "dropped from this update" in line or "too many times" in line]
    return problems, seconds, world.served()[served:], log


def fetched(requests):
    return sum(int(size) for _, _, _, size, _ in requests)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, default=18110, help="the first of nine ports")
    args = parser.parse_args()

    lies = tempfile.mkdtemp(prefix="vx5-patch-lies-")
    os.chmod(lies, 0o755)
    world = World(os.path.abspath(args.build), args.port, None, servers=servers(args.port, lies))
    problems = []

    def report(name, found, log):
        print(f"{name}: {'ok' if not found else found}")
        if found:
            print(log)
        problems.extend(found)

    try:
        write_lies(world, lies)
        found, _, requests, log = run(world, [args.port])
        honest_bytes = fetched(requests)
        report(f"an honest mirror ({honest_bytes} bytes)", found + world.check_b(), log)

        liar_ports = {str(args.port + 1), str(args.port + 2)}
        lied = 0
        for attempt in range(8):
            found, _, requests, log = run(world, [args.port + 1, args.port + 2, args.port])
            index_from = [port for port, _, _, _, path in requests if path == "/101/patches/index"]
            if index_from and index_from[0] in liar_ports:
                lied += 1
                liar_bytes = fetched(requests)
            report(f"lying indexes beside an honest mirror, update {attempt + 1}", found + world.check_b(), log)
            if lied:
                break
        if not lied:
            report("lying indexes", ["the index never came from a lying mirror"], "")

        found, _, requests, log = run(world, [args.port + 3])
        patched = [line for line in log.splitlines() if "patched from the installed copy" in line]
        report("bad patches", found + world.check_b() + [f"used a bad patch: {line}" for line in patched], log)

        for offset, name in ((4, "index answered 403"), (5, "index answered 500"), (6, "an index of 5 MiB")):
            found, _, requests, log = run(world, [args.port + offset])
            whole_bytes = fetched(requests)
            report(name, found + world.check_b(), log)
        if lied:
            print(f"bytes fetched: {honest_bytes} with patches, {whole_bytes} without, {liar_bytes} with a lying index "
                  f"({liar_bytes - whole_bytes:+d} against no patches)")

        # C to D: nine files that need 72 KB at 1 KB/s, from three mirrors.
        c = {f"data/part{n}.bin": random_bytes(8192, 100 + n) for n in range(9)}
        d = {path: random_bytes(8192, 200 + n) for n, path in enumerate(c)}
        c["update"] = d["update"] = world.a["update"]
        release = os.path.join(world.build, "tools", "release", "vx5-release")
        key = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "keys",
                           "TEST_AND_DEMO_ONLY_private.key")
        www = os.path.join(world.scratch, "www")
        for version, tree, name in ((200, c, "C"), (201, d, "D")):
            write_tree(os.path.join(world.scratch, name), tree, modes=False)
            subprocess.run([release, "--version", str(version), "--key", key, os.path.join(world.scratch, name), www],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        found, seconds, _, log = run(world, [args.port, args.port + 7, args.port + 8],
                                     ["--nouser", CLIENT_TYPE, "201", "2.0", "news"],
                                     "[update]\nstreams=9\nmaxKBps=1\n", c, timeout=600)
        installed = {p: v for p, v in snapshot(world.install).items() if p not in SETTINGS}
        if installed != {p: (md5(content), 0o755 if p == "update" else 0o644) for p, content in d.items()}:
            found.append("not release D")
        if seconds < 60:
            found.append(f"done in {seconds:.0f} s: faster than the cap allows")
        report(f"streams=9, maxKBps=1, three mirrors ({seconds:.0f} s)", found, log)
        return 1 if problems else 0
    finally:
        world.close()
        shutil.rmtree(lies, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
