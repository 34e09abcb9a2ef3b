#!/usr/bin/env python3
"""HTTPS mirrors: whole updates of the real update program from nginx over TLS with HTTP/2,
with a certificate authority made here and added to the system's trusted certificates for
the run (and removed afterwards). Mirrors: one with a certificate of that authority, and
three the updater must refuse: a self-signed certificate, one of the authority for another
host name, and an expired one of the authority.

  - the trusted mirror alone: exit 0, release B installed, fetched over HTTP/2, every
    request on one connection;
  - the trusted mirror and a self-signed one: the certificate error is logged, exit 0;
  - only the three untrusted mirrors: each one's certificate error logged, exit 3, the
    installation still release A, nothing fetched.

Changing the system's certificates needs root: run as another user, the test says so and
exits 77 (skipped). The authority is removed however the test ends (an interrupt or a
termination signal included); one an earlier run left (killed outright) is removed before
this run starts, and the test does not start while it cannot be.

    scripts/https-test.py --build build"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from updateworld import CLIENT_TYPE, SETTINGS, World, snapshot

SYSTEM_CA = "/usr/local/share/ca-certificates/vx5-https-test-ca.crt"
SYSTEM_CERTIFICATES = "/etc/ssl/certs"
SKIPPED = 77


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(directory):
    """ca.crt, and NAME.crt/NAME.key for trusted, selfsigned, wronghost and expired."""
    ip_san = "subjectAltName=IP:127.0.0.1"
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
            "-subj", "/CN=Voxmere test authority", cwd=directory)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "selfsigned.key", "-out", "selfsigned.crt",
            "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", ip_san, cwd=directory)
    # The authority's certificates through "openssl ca", the one form that sets any validity.
    with open(os.path.join(directory, "ca.cnf"), "w") as conf:
        conf.write("[ca]\ndefault_ca=test\n[test]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n"
                   "default_md=sha256\npolicy=any\nunique_subject=no\n[any]\ncommonName=supplied\n")
    open(os.path.join(directory, "index.txt"), "w").close()
    with open(os.path.join(directory, "serial"), "w") as serial:
        serial.write("01\n")
    for name, san, start, end in (("trusted", ip_san, None, None),
                                  ("wronghost", "subjectAltName=DNS:mirror.example", None, None),
                                  ("expired", ip_san, "20200101000000Z", "20210101000000Z")):
        with open(os.path.join(directory, f"{name}.ext"), "w") as ext:
            ext.write(f"[extensions]\n{san}\n")
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN={name}", cwd=directory)
        validity = ["-startdate", start, "-enddate", end] if start else ["-days", "2"]
        openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.crt", "-keyfile", "ca.key", "-in", f"{name}.csr",
                "-out", f"{name}.crt", "-extfile", f"{name}.ext", "-extensions", "extensions", *validity, cwd=directory)


def trust(ca_certificate):
    shutil.copyfile(ca_certificate, SYSTEM_CA)
    subprocess.run(["update-ca-certificates"], check=True, stdout=subprocess.DEVNULL)


def distrust():
    """Removes the authority and the links update-ca-certificates made to it (it keeps
    links to a removed local certificate), then rebuilds the store's bundle."""
    if not os.path.exists(SYSTEM_CA):
        return
    os.remove(SYSTEM_CA)
    linked = os.path.join(SYSTEM_CERTIFICATES, os.path.basename(SYSTEM_CA)[:-len(".crt")] + ".pem")
    for name in os.listdir(SYSTEM_CERTIFICATES):
        path = os.path.join(SYSTEM_CERTIFICATES, name)
        if os.path.islink(path) and os.readlink(path) in (SYSTEM_CA, os.path.basename(linked)):
            os.remove(path)
    subprocess.run(["update-ca-certificates"], check=True, stdout=subprocess.DEVNULL)


def client_files(world):
    return {path: state for path, state in snapshot(world.install).items() if path not in SETTINGS}


def run_case(world, name, mirrors, expected_status, expected_errors):
    world.install_a(mirrors)
    before = client_files(world)
    process = world.update()
    try:
        status = process.wait(timeout=120)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        status = "timed out"
    # The next start removes the updater's own set-aside copies.
    world.updater([CLIENT_TYPE, "x"]).wait(timeout=60)
    problems = [] if status == expected_status else [f"exit {status}, expected {expected_status}"]
    log = world.log()
    problems += [f"no certificate error logged for {mirror}" for mirror in expected_errors
                 if not any(f"(mirror {mirror})" in line and "certificate" in line for line in log.splitlines())]
    if expected_status == 0:
        problems += world.check_b()
    elif client_files(world) != before:
        problems.append("the installation changed")
    print(f"{name}: exit {status}{'' if not problems else ' ' + str(problems)}")
    if problems:
        print(log)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, default=18100, help="the first of four ports")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("https-test: skipped: adding a certificate authority to the system's store needs root")
        return SKIPPED
    if os.path.exists(SYSTEM_CA):
        print(f"https-test: {SYSTEM_CA} is left from an earlier run; removing it first")
        distrust()
        if os.path.exists(SYSTEM_CA):
            print(f"https-test: cannot remove {SYSTEM_CA}; not starting", file=sys.stderr)
            return 1
    # A termination ends the run through the clean-up below, as an interrupt does.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda received, frame: sys.exit(128 + received))

    certificates = tempfile.mkdtemp(prefix="vx5-https-certificates-")
    world = None
    try:
        make_certificates(certificates)
        trust(os.path.join(certificates, "ca.crt"))
        names = ["trusted", "selfsigned", "wronghost", "expired"]
        ports = {name: args.port + n for n, name in enumerate(names)}
        servers = [f"listen 127.0.0.1:{ports[name]} ssl http2; ssl_certificate {certificates}/{name}.crt; "
                   f"ssl_certificate_key {certificates}/{name}.key;" for name in names]
        world = World(os.path.abspath(args.build), args.port, None, servers=servers)
        url = {name: f"https://127.0.0.1:{port}/" for name, port in ports.items()}
        untrusted = names[1:]

        problems = run_case(world, "trusted mirror", [url["trusted"]], 0, [])
        if not problems and not all(protocol == "HTTP/2.0" for port, protocol, *_ in world.served()):
            problems.append("not everything was fetched over HTTP/2")
        # Every download at once (streams=3 lets the mirror take 24), all on one connection.
        if len(set(world.served(connections=True))) != 1:
            problems.append(f"the update used {len(set(world.served(connections=True)))} connections, not 1")
        problems += run_case(world, "trusted and self-signed mirrors", [url["trusted"], url["selfsigned"]], 0,
                             ["m2"])
        served_before = len(world.served())
        problems += run_case(world, "only untrusted mirrors", [url[name] for name in untrusted], 3,
                             ["m1", "m2", "m3"])
        if len(world.served()) != served_before:
            problems.append("an untrusted mirror served a request")
        return 1 if problems else 0
    finally:
        if world:
            world.close()
        distrust()
        shutil.rmtree(certificates, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
