"""A scratch world for whole updates of the real update program, shared by the kill test and
the power-loss test: releases A and B published with the release tool and served by a local
nginx, an installation of A, and checks of what the installation holds."""

import hashlib
import os
import random
import shutil
import stat
import subprocess
import tempfile
import time

CLIENT_TYPE = "client_linux_amd64"
SETTINGS = {"update.ini", "mirrors.ini", "client-started"}
# The settings writer's lock of update.ini, left by a kill while it wrote; the next writer
# finds its process gone and removes it.
SETTINGS_LOCK = "update.ini.lock"


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


def point_release(content, seed):
    """content changed in a few places and grown a little, as compiled code is from one
    point release to the next: the release tool publishes a patch for it."""
    changed = bytearray(content)
    middle = len(changed) // 2
    changed[middle:middle + 16] = random_bytes(16, seed)
    return bytes(changed) + random_bytes(4096, seed + 1)


def release_trees(updater):
    """Releases A and B: packed libraries, the updater itself (packed, and running),
    a library of the special-name list, a sub-directory, a renamed and a deleted file;
    the client and a packed library of B are point releases of A's (patched)."""
    program = open(updater, "rb").read()
    run_script = b'#!/bin/sh\necho started > "$(dirname "$0")/client-started"\n'
    a = {
        "update": program,
        "libQtCore.so.4": random_bytes(400_000, 1),
        "vx5client_runscript.sh": run_script,
        "vx5client_linux_amd64": random_bytes(12_000_000, 2),
        "plugins/libvx5audio.so": random_bytes(2_000_000, 3),
        "plugins/lua_plugin/vx5events.lua": b"print('events 1')\n",
        "sounds/old-ring.wav": random_bytes(500_000, 4),
        "data/obsolete.dat": random_bytes(300_000, 5),
        "readme.txt": b"Voxmere 1\n",
        "data/unchanged.bin": random_bytes(1_000_000, 6),
        "sounds/voices.pak": random_bytes(1_000_000, 17),
        # Names that URLs and settings files treat specially, one of them packed.
        "names/#1 50% off?.txt": b"release A\n",
        "names/\u00fcn\u00efcode & [brackets];x=y.dat": random_bytes(200_000, 8),
        "names/lib %41#.so": random_bytes(300_000, 9),
    }
    b = dict(a)
    b.update({
        # Still the working program: an ELF file runs with bytes appended.
        "update": program + b"\0version 2\0" + random_bytes(1000, 7),
        "libQtCore.so.4": random_bytes(420_000, 11),
        "vx5client_linux_amd64": point_release(a["vx5client_linux_amd64"], 12),
        "plugins/libvx5audio.so": point_release(a["plugins/libvx5audio.so"], 13),
        "sounds/voices.pak": point_release(a["sounds/voices.pak"], 18),  # patched, not executable
        "plugins/lua_plugin/vx5events.lua": b"print('events 2')\n",
        "sounds/ringtones/ring.wav": a["sounds/old-ring.wav"],  # renamed
        "video/codecs/libvx5video.so": random_bytes(1_500_000, 14),  # new sub-directories
        "readme.txt": b"Voxmere 2, a longer text than before\n",
        "names/#1 50% off?.txt": b"release B\n",
        "names/\u00fcn\u00efcode & [brackets];x=y.dat": random_bytes(210_000, 15),
        "names/lib %41#.so": random_bytes(310_000, 16),
    })
    del b["sounds/old-ring.wav"]
    del b["data/obsolete.dat"]
    return a, b


def executable(name):
    base = os.path.basename(name)
    return base in {"vx5client_linux_amd64", "vx5client_runscript.sh", "update", "vx5client_linux_x86",
                    "error_report", "package_inst"} or base.split(".", 1)[-1] in {"so", "so.4"} and "." in base


def write_tree(directory, tree, modes):
    for path, content in tree.items():
        target = os.path.join(directory, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(content)
        if modes and executable(path):
            os.chmod(target, 0o755)


def md5(data):
    return hashlib.md5(data).hexdigest()


def snapshot(directory):
    files = {}
    for root, dirs, names in os.walk(directory):
        for name in names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, directory)
            mode = stat.S_IMODE(os.lstat(path).st_mode)
            with open(path, "rb") as f:
                files[relative] = (md5(f.read()), mode)
    return files


class World:
    """servers: the directives of each nginx server that serves the releases, its listen
    directive included; by default one plain server on port, limited to rate per connection."""

    def __init__(self, build, port, rate, temp_elsewhere=True, servers=None):
        self.build = build
        self.port = port
        self.scratch = tempfile.mkdtemp(prefix="vx5-world-")
        os.chmod(self.scratch, 0o755)
        self.install = os.path.join(self.scratch, "Voxmere Client")
        # The temporary folder on another file system (as /tmp often is) makes the
        # installation copy for real; on the same one it links the downloads into place.
        shm = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else self.scratch
        self.temp = tempfile.mkdtemp(prefix="vx5-world-tmp-", dir=shm if temp_elsewhere else self.scratch)
        self.runtime = os.path.join(self.scratch, "runtime")
        self.a, self.b = release_trees(os.path.join(build, "update", "update"))
        self.expected_b = {p: (md5(c), 0o755 if executable(p) else 0o644) for p, c in self.b.items()}
        self.state = os.path.join(self.scratch, "state")
        self.publish(servers or [f"listen 127.0.0.1:{port}; limit_rate {rate};"])

    def publish(self, servers):
        release = os.path.join(self.build, "tools", "release", "vx5-release")
        key = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "keys",
                           "TEST_AND_DEMO_ONLY_private.key")
        www = os.path.join(self.scratch, "www")
        for name, tree in (("A", self.a), ("B", self.b)):
            write_tree(os.path.join(self.scratch, name), tree, modes=False)
        subprocess.run([release, "--version", "100", "--key", key, "--pack", "*.so", os.path.join(self.scratch, "A"),
                        www], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([release, "--version", "101", "--key", key, "--pack", "*.so", "--pack", "update", "--previous",
                        os.path.join(self.scratch, "A"), os.path.join(self.scratch, "B"), www], check=True,
                       stdout=subprocess.DEVNULL)
        nginx_dir = os.path.join(self.scratch, "nginx")
        os.makedirs(nginx_dir)
        with open(os.path.join(nginx_dir, "nginx.conf"), "w") as conf:
            conf.write(f"""daemon off;
worker_processes 2;
pid {nginx_dir}/nginx.pid;
error_log {nginx_dir}/error.log;
events {{ worker_connections 256; }}
http {{
  log_format served '$server_port $server_protocol $status $body_bytes_sent $connection $request_uri';
  access_log {nginx_dir}/access.log served;
  client_body_temp_path {nginx_dir};
  proxy_temp_path {nginx_dir};
  fastcgi_temp_path {nginx_dir};
  uwsgi_temp_path {nginx_dir};
  scgi_temp_path {nginx_dir};
""" + "".join(f"  server {{ root {www}; {directives} }}\n" for directives in servers) + "}\n")
        self.nginx = subprocess.Popen(["nginx", "-c", os.path.join(nginx_dir, "nginx.conf"), "-p", nginx_dir])
        time.sleep(0.5)

    def close(self):
        self.nginx.terminate()
        self.nginx.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)
        shutil.rmtree(self.temp, ignore_errors=True)

    def served(self, connections=False):
        """The requests nginx answered so far: (port, protocol, status, bytes, path) each, or
        with connections, the number of nginx's connection that carried each."""
        with open(os.path.join(self.scratch, "nginx", "access.log")) as log:
            requests = [line.split(" ", 5) for line in log.read().splitlines()]
        return [r[4] for r in requests] if connections else [tuple(r[:4] + r[5:]) for r in requests]

    def install_a(self, mirrors=None, tree=None, settings="[update]\nstreams=3\n"):
        """mirrors: the mirrors' base URLs (default: the plain server on port), named m1, m2, ...;
        tree: the release installed (default: A); settings: update.ini."""
        for directory in (self.install, self.temp, self.runtime):
            shutil.rmtree(directory, ignore_errors=True)
            os.makedirs(directory)
        os.chmod(self.runtime, 0o700)
        write_tree(self.install, tree or self.a, modes=True)
        with open(os.path.join(self.install, "update.ini"), "w") as f:
            f.write(settings)
        urls = mirrors or [f"http://127.0.0.1:{self.port}/"]
        with open(os.path.join(self.install, "mirrors.ini"), "w") as f:
            f.write(f"[mirrors]\nsize={len(urls)}\n" + "".join(f"{n}\\mirror=m{n}\n" for n in range(1, len(urls) + 1)) +
                    "".join(f"[m{n}]\nurl={url}\n" for n, url in enumerate(urls, 1)))

    def updater(self, arguments, launcher=()):
        """Starts the installation's updater offscreen (launcher: a command to run it under)."""
        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", TMPDIR=self.temp, XDG_RUNTIME_DIR=self.runtime,
                           XDG_STATE_HOME=self.state, VX5_UPDATE_SERVER="127.0.0.1:9:9")
        if launcher:
            # A sanitizer build's leak check cannot run under a tracer (it ends the program
            # with an error); the other tests check for leaks.
            environment["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0"]))
        return subprocess.Popen(list(launcher) + [os.path.join(self.install, "update")] + arguments, env=environment,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def update(self, launcher=()):
        return self.updater(["--nouser", CLIENT_TYPE, "101", "2.0", "news"], launcher)

    def log(self):
        """The updater's log of its last run."""
        with open(os.path.join(self.state, "voxmere", "update.log"), errors="replace") as f:
            return f.read()

    def names(self):
        found = []
        for root, dirs, files in os.walk(self.install):
            found += files
        return found

    def phase(self):
        """What the installation shows of the update's progress right now."""
        names = self.names()
        if any(n.startswith("_new_") for n in names):
            return "installation"
        if any(n.startswith("_old_") for n in names):
            return "installation or deletions"
        if os.listdir(self.temp):
            return "product ini and downloads"
        return "start"

    def check_whole(self):
        """Every file of the client present (where both releases have it) and whole."""
        problems = []
        installed = snapshot(self.install)
        for path in set(self.a) | set(self.b):
            versions = {md5(t[path]) for t in (self.a, self.b) if path in t}
            if path in installed:
                if installed[path][0] not in versions:
                    problems.append(f"{path} is neither version (cut or mixed)")
                elif executable(path) and not installed[path][1] & 0o100:
                    problems.append(f"{path} is not executable")
            elif path in self.a and path in self.b:
                problems.append(f"{path} is missing")
        for path in installed:
            name = os.path.basename(path)
            if path in SETTINGS or path == SETTINGS_LOCK or path in self.a or path in self.b:
                continue
            if name.startswith("_new_"):
                continue  # a copy being made: never run, removed or replaced by the next run
            if name.startswith("_old_"):
                original = os.path.join(os.path.dirname(path), name[len("_old_"):])
                original = original[2:] if original.startswith("./") else original
                if installed[path][0] in {md5(t[original]) for t in (self.a, self.b) if original in t}:
                    continue
            problems.append(f"unexpected {path}")
        return problems

    def check_b(self):
        problems = []
        installed = {p: v for p, v in snapshot(self.install).items() if p not in SETTINGS}
        if installed != self.expected_b:
            extra = sorted(set(installed) - set(self.expected_b))
            missing = sorted(set(self.expected_b) - set(installed))
            differ = sorted(p for p in installed if p in self.expected_b and installed[p] != self.expected_b[p])
            problems.append(f"not release B: extra {extra}, missing {missing}, different {differ}")
        if os.listdir(self.temp):
            problems.append(f"left in the temporary folder: {os.listdir(self.temp)}")
        with open(os.path.join(self.install, "update.ini")) as f:
            if "[current]" in f.read():
                problems.append("the session record is still there")
        return problems
