#!/usr/bin/env python3
"""Kill the updater at any moment: a whole update of a scratch installation from release A
to release B (served by a slowed-down local nginx), killed with SIGKILL at many moments
spread over the product ini, the downloads, the installation and the deletions. After each
kill the installation must still start (every file of the client present and whole: the old
or the new version, never a part), and running the updater again must end with exit 0 and
the installation byte for byte (and mode for mode) release B: no "_old_" or "_new_" copies,
no temporary directory, no session record.

    scripts/kill-test.py --build build --kills 60      # the long form, by hand
    scripts/kill-test.py --build build --kills 6       # what CI runs

Prints the kill points and what each hit; exits 1 on the first installation that breaks."""

import argparse
import os
import random
import signal
import subprocess
import sys
import time

from updateworld import CLIENT_TYPE, World

def run_to_end(world, process, timeout):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return "timed out"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--kills", type=int, default=60)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--port", type=int, default=18095)
    parser.add_argument("--rate", default="2m", help="nginx limit_rate per connection")
    args = parser.parse_args()
    choose = random.Random(args.seed)

    world = World(os.path.abspath(args.build), args.port, args.rate)
    try:
        # A first, whole run gives the time line: when the installation starts, when it ends.
        world.install_a()
        started = time.monotonic()
        process = world.update()
        install_start = None
        while process.poll() is None:
            if install_start is None and world.phase() == "installation":
                install_start = time.monotonic() - started
            time.sleep(0.005)
        total = time.monotonic() - started
        run_to_end(world, world.updater([CLIENT_TYPE, "x"]), 60)
        problems = world.check_b() if process.returncode == 0 else [f"exit {process.returncode}"]
        if problems:
            print("a whole update without a kill failed:", problems)
            return 1
        install_start = install_start or total * 0.7
        print(f"a whole update takes {total:.2f} s; the installation starts at {install_start:.2f} s")

        # Kill points: a moment anywhere from the start (which waits 2 s in the automatic
        # form) to the end; a moment while the update works (product ini, downloads); and
        # when the installation shows a step (the n-th staged copy, the n-th set-aside
        # copy), which lasts milliseconds, plus a few milliseconds more.
        triggers = ["anywhere", "_new_", "working", "_old_"]
        hits = {}
        for n in range(args.kills):
            trigger = triggers[n % len(triggers)]
            world.install_a()
            started = time.monotonic()
            process = world.update()
            if trigger == "anywhere":
                time.sleep(choose.uniform(0.05, total))
            elif trigger == "working":
                time.sleep(choose.uniform(min(2.0, install_start), install_start))
            else:
                wanted = choose.randint(1, 6)
                while process.poll() is None and sum(x.startswith(trigger) for x in world.names()) < wanted:
                    time.sleep(0.0005)
                time.sleep(choose.uniform(0, 0.01))
            moment = time.monotonic() - started
            hit = world.phase() if process.poll() is None else "after the end"
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass  # it had ended
            process.wait()
            hits[hit] = hits.get(hit, 0) + 1
            problems = world.check_whole()
            if not problems:
                status = run_to_end(world, world.update(), 300)
                # The next start removes the updater's own set-aside copies.
                run_to_end(world, world.updater([CLIENT_TYPE, "x"]), 60)
                problems = world.check_b() if status == 0 else [f"the run after the kill ended with {status}"]
            print(f"kill {n + 1:3d} at {moment:5.2f} s ({hit}): {'survived' if not problems else problems}")
            if problems:
                return 1
        print(f"{args.kills} kill points tried, {args.kills} survived: " +
              ", ".join(f"{count} {phase}" for phase, count in sorted(hits.items())))
        return 0
    finally:
        world.close()


if __name__ == "__main__":
    sys.exit(main())
