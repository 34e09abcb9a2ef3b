#!/usr/bin/env python3
"""Power loss at any moment of an update: the real updater updates a scratch installation of
release A to B under strace, which records every file-system call it makes. The record is
replayed into a model of a file system after a power cut, which keeps of each file only the
data that was flushed (fsync, fdatasync, sync, syncfs) and all name changes (renames, links,
deletions) in the order they were made. After every call the model is asked: does every
installed name (a file of release A or B, update.ini, mirrors.ini) refer to flushed data? A
name that refers to data still in the page cache would, after a cut at that moment, be empty
or partly written. The "_new_" and "_old_" copies, the settings writer's own temporary files
and the temporary folder are no installed names.

    scripts/power-loss-test.py --build build                # an update, both ways (CI)
    scripts/power-loss-test.py --build build --resumes 10   # also runs that resume after kills
    scripts/power-loss-test.py --self-test                  # the checker itself

The model assumes what journaling file systems guarantee (ext4, XFS, btrfs): metadata
operations persist in order, file data only once flushed. Exits 1 on the first violation."""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from updateworld import CLIENT_TYPE, World  # noqa: E402

TRACED = ("open,openat,creat,write,pwrite64,writev,pwritev,pwritev2,ftruncate,truncate,copy_file_range,sendfile,"
          "ioctl,fsync,fdatasync,sync,syncfs,rename,renameat,renameat2,link,linkat,unlink,unlinkat,dup,dup2,dup3,fcntl")
LINE = re.compile(r'^(?P<pid>\d+)\s+(?P<text>.*)$')
UNFINISHED = " <unfinished ...>"
RESUMED = re.compile(r'^<\.\.\. \w+ resumed>(?P<rest>.*)$')
CALL = re.compile(r'^(?P<name>\w+)\((?P<args>.*)\)\s+=\s+(?P<result>-?\d+)(?P<decoration><.*)?')
FD_PATH = re.compile(r'^-?\d+<(?P<path>.*)>( ?\(deleted\))?$')
PROC_FD = re.compile(r'^/proc/self/fd/(?P<fd>\d+)$')


def split_arguments(text):
    """The top-level arguments of a call as strace prints them."""
    arguments, depth, quoted, current = [], 0, False, ""
    i = 0
    while i < len(text):
        c = text[i]
        if quoted:
            current += c
            if c == "\\":
                current += text[i + 1]
                i += 1
            elif c == '"':
                quoted = False
        elif c == '"':
            quoted = True
            current += c
        elif c in "[{(<":
            depth += 1
            current += c
        elif c in "]})>":
            depth -= 1
            current += c
        elif c == "," and depth == 0:
            arguments.append(current.strip())
            current = ""
        else:
            current += c
        i += 1
    if current.strip():
        arguments.append(current.strip())
    return arguments


def decode(text):
    """A path as strace prints it, with octal escapes for bytes outside printable ASCII."""
    return text.encode("latin-1").decode("unicode_escape").encode("latin-1").decode("utf-8", "surrogateescape")


def unquote(argument):
    """A path argument: "..." as strace quotes it, or the path of an fd as N<...>."""
    if argument.startswith('"'):
        path = decode(argument[1:-1])
        if not os.path.isabs(path):
            raise SystemExit(f"a relative path in the trace, which this checker does not resolve: {path}")
        return path
    return fd_path(argument)


def fd_path(argument):
    match = FD_PATH.match(argument)
    return decode(match.group("path")) if match else None


def calls_of(trace):
    """The completed calls of a trace in the order they ended: (name, arguments, result
    with its path decoration, the line), with a call split over two lines joined."""
    started = {}
    for line in trace:
        match = LINE.match(line.rstrip("\n"))
        if not match:
            continue
        pid, text = match.group("pid"), match.group("text")
        if text.endswith(UNFINISHED):
            started[pid] = text[:-len(UNFINISHED)]
            continue
        resumed = RESUMED.match(text)
        if resumed:
            if pid not in started:
                continue
            text = started.pop(pid) + resumed.group("rest")
        call = CALL.match(text)
        if call and int(call.group("result")) >= 0:
            yield (call.group("name"), split_arguments(call.group("args")), call.group("result"),
                   call.group("decoration") or "", text)


class Model:
    """Names and files after a power cut: a file's data survives only as far as flushed."""

    def __init__(self, existing):
        self.names = {}    # path -> file id
        self.unflushed = {}  # file id -> the call that left it unflushed
        self.fds = {}      # descriptor -> the path it was opened at (for /proc/self/fd links)
        self.next_id = 0
        for path in existing:
            self.names[path] = self.new_file()

    def new_file(self):
        self.next_id += 1
        return self.next_id

    def file(self, path, create=False):
        if path not in self.names and create:
            self.names[path] = self.new_file()
        return self.names.get(path)

    def written(self, path, call):
        file = self.file(path, create=True)
        self.unflushed.setdefault(file, call)

    def flushed(self, path):
        file = self.file(path)
        if file is not None:
            self.unflushed.pop(file, None)

    def flush_all(self):
        self.unflushed.clear()

    def rename(self, old, new):
        if old in self.names:
            self.names[new] = self.names.pop(old)
        # a directory: every name below it moves
        prefix = old + "/"
        for path in [p for p in self.names if p.startswith(prefix)]:
            self.names[new + path[len(old):]] = self.names.pop(path)

    def link(self, old, new):
        if old in self.names:
            self.names[new] = self.names[old]

    def unlink(self, path):
        self.names.pop(path, None)

    def source(self, argument):
        """A path argument, through /proc/self/fd/N to what that descriptor was opened at."""
        path = unquote(argument)
        match = PROC_FD.match(path or "")
        return self.fds.get(match.group("fd"), path) if match else path

    def apply(self, name, arguments, result, decoration, call):
        # A call that returns a descriptor (open, dup, fcntl) shows what it refers to.
        opened = fd_path(result + decoration) if decoration else None
        if opened:
            self.fds[result] = opened
        if name in ("open", "openat", "creat"):
            flags = arguments[2] if name == "openat" else (arguments[1] if name == "open" else "O_CREAT|O_TRUNC")
            path = unquote(arguments[1] if name == "openat" else arguments[0])
            if "O_TMPFILE" in flags:
                path = opened  # an unnamed file in that directory, named by its inode
            if path is not None and ("O_TRUNC" in flags or "O_TMPFILE" in flags or
                                     ("O_CREAT" in flags and path not in self.names)):
                self.written(path, call)
        elif name in ("write", "pwrite64", "writev", "pwritev", "pwritev2", "ftruncate"):
            path = fd_path(arguments[0])
            if path:
                self.written(path, call)
        elif name == "truncate":
            self.written(unquote(arguments[0]), call)
        elif name == "copy_file_range":
            path = fd_path(arguments[2])
            if path:
                self.written(path, call)
        elif name == "sendfile":
            path = fd_path(arguments[0])
            if path:
                self.written(path, call)
        elif name == "ioctl" and len(arguments) > 1 and "FICLONE" in arguments[1]:
            path = fd_path(arguments[0])
            if path:
                self.written(path, call)
        elif name in ("fsync", "fdatasync"):
            path = fd_path(arguments[0])
            if path:
                self.flushed(path)
        elif name in ("sync", "syncfs"):
            self.flush_all()
        elif name == "rename":
            self.rename(unquote(arguments[0]), unquote(arguments[1]))
        elif name in ("renameat", "renameat2"):
            self.rename(unquote(arguments[1]), unquote(arguments[3]))
        elif name == "link":
            self.link(unquote(arguments[0]), unquote(arguments[1]))
        elif name == "linkat":
            self.link(fd_path(arguments[0]) if "AT_EMPTY_PATH" in arguments[4] else self.source(arguments[1]),
                      unquote(arguments[3]))
        elif name == "unlink":
            self.unlink(unquote(arguments[0]))
        elif name == "unlinkat" and "AT_REMOVEDIR" not in arguments[2]:
            self.unlink(unquote(arguments[1]))


def check_trace(trace_path, existing, installed):
    """Replays a trace; returns (calls replayed, problems). installed(path) tells whether a
    path is an installed name."""
    model = Model(existing)
    calls = 0
    with open(trace_path, encoding="utf-8", errors="surrogateescape") as trace:
        for name, arguments, result, decoration, text in calls_of(trace):
            calls += 1
            model.apply(name, arguments, result, decoration, text)
            for path, file in model.names.items():
                if installed(path) and file in model.unflushed:
                    return calls, [f"after: {text}\n  {path} refers to data that was never flushed, "
                                   f"written by: {model.unflushed[file]}"]
    return calls, []


def traced(command, trace_path):
    return ["strace", "-f", "-y", "-qq", "-s", "0", "-o", trace_path, "-e", "trace=" + TRACED] + command


def existing_files(directory):
    files = []
    for root, dirs, names in os.walk(directory):
        files += [os.path.join(root, name) for name in names]
    return files


def installed_names(world):
    """An installed name: a file of release A or B, or one of the settings files."""
    relative = set(world.a) | set(world.b) | {"update.ini", "mirrors.ini"}
    names = {os.path.join(world.install, path) for path in relative}
    return lambda path: path in names


def traced_update(world, scratch, label):
    """Runs the update under strace and replays it; then the next start, which removes the
    updater's own set-aside copies, and the check that the installation is release B."""
    trace = os.path.join(scratch, label + ".trace")
    existing = existing_files(world.install)
    status = world.update(launcher=traced([], trace)).wait(timeout=600)
    calls, problems = check_trace(trace, existing, installed_names(world))
    if status != 0:
        return calls, problems or [f"the update ended with {status}"]
    world.updater([CLIENT_TYPE, "x"]).wait(timeout=60)
    return calls, problems or world.check_b()


def run_update_checks(args):
    problems_found = False
    for temp_elsewhere in (True, False):
        label = "downloads copied into place" if temp_elsewhere else "downloads linked into place"
        world = World(os.path.abspath(args.build), args.port, args.rate, temp_elsewhere)
        scratch = tempfile.mkdtemp(prefix="vx5-power-loss-")
        try:
            world.install_a()
            calls, problems = traced_update(world, scratch, "whole")
            print(f"{label}: a whole update, {calls} file-system calls replayed: "
                  f"{'every installed name whole at every call' if not problems else problems}")
            problems_found = problems_found or bool(problems)
            choose = random.Random(args.seed)
            for n in range(args.resumes):
                # A run killed somewhere, then the run that resumes its session, traced.
                world.install_a()
                process = world.update()
                time.sleep(choose.uniform(0.5, 4.0))
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait()
                calls, problems = traced_update(world, scratch, f"resume{n}")
                print(f"{label}: resume {n + 1}, {calls} calls: {'whole' if not problems else problems}")
                problems_found = problems_found or bool(problems)
        finally:
            world.close()
            shutil.rmtree(scratch, ignore_errors=True)
        if problems_found:
            return 1
    return 0


def self_test():
    """A program that flushes before it renames passes; one that does not, fails."""
    programs = {
        "flushes": "fd = os.open(staged, os.O_WRONLY | os.O_CREAT | os.O_TRUNC); os.write(fd, b'new'); "
                   "os.fdatasync(fd); os.close(fd); os.rename(staged, target)",
        "skips the flush": "fd = os.open(staged, os.O_WRONLY | os.O_CREAT | os.O_TRUNC); os.write(fd, b'new'); "
                           "os.close(fd); os.rename(staged, target)",
        "writes in place": "fd = os.open(target, os.O_WRONLY | os.O_TRUNC); os.write(fd, b'new'); "
                           "os.fdatasync(fd); os.close(fd)",
    }
    expected = {"flushes": True, "skips the flush": False, "writes in place": False}
    failures = 0
    for label, code in programs.items():
        scratch = tempfile.mkdtemp(prefix="vx5-power-loss-self-")
        try:
            target = os.path.join(scratch, "data.bin")
            with open(target, "wb") as existing:
                existing.write(b"old")
            trace = os.path.join(scratch, "trace")
            script = f"import os\nstaged = {os.path.join(scratch, '_new_data.bin')!r}\ntarget = {target!r}\n{code}\n"
            subprocess.run(traced([sys.executable, "-c", script], trace), check=True)
            calls, problems = check_trace(trace, [target], lambda path: path == target)
            passed = not problems
            verdict = "passes" if passed else "fails"
            ok = passed == expected[label]
            failures += not ok
            print(f"self-test: a program that {label} {verdict} ({calls} calls){'' if ok else '  <-- WRONG'}")
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build")
    parser.add_argument("--resumes", type=int, default=0)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--port", type=int, default=18097)
    parser.add_argument("--rate", default="20m", help="nginx limit_rate per connection")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if shutil.which("strace") is None:
        print("strace is not installed")
        return 1
    status = self_test()
    if status or args.self_test:
        return status
    if not args.build:
        parser.error("--build is required")
    return run_update_checks(args)


if __name__ == "__main__":
    sys.exit(main())
