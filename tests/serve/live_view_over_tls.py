#!/usr/bin/env python3
"""The live view over HTTPS (--tls-cert, --tls-key), from outside.

Makes a throw-away certificate for 127.0.0.1 with openssl, starts vantrel-sim
on loopback TCP and vantrel-visa record against it with --serve on a free
loopback port, the certificate and a token file. Checks: the server shows
exactly that certificate; with the token the state comes as JSON, without it
401; a plain-HTTP request and a handshake of line noise get no page, and the
server answers afterwards as before. A key that is not the certificate's is
refused at the start: status 1, a reason, and no file left.

Usage: live_view_over_tls.py VANTREL_SIM VANTREL_VISA
"""
import json
import os
import socket
import ssl
import subprocess
import sys
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from programs import fail, line_matching, test_run  # noqa: E402


def make_key_and_certificate(folder, name):
    key, certificate = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", certificate, "-days", "1", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return key, certificate


def status_of(url, context, headers=None):
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, context=context, timeout=10) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, b""


def main():
    simulator, recorder = sys.argv[1], sys.argv[2]
    with test_run("vantrel-tls-") as (work, processes):
        key, certificate = make_key_and_certificate(work, "server")
        other_key, _ = make_key_and_certificate(work, "other")
        sim = subprocess.Popen([simulator, "--tcp", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        processes.append(sim)
        sim_port = line_matching(sim, r"listening on 127\.0\.0\.1:(\d+)", 15).group(1)
        resource = f"TCPIP::127.0.0.1::{sim_port}::SOCKET"

        # A key that is not the certificate's: refused before anything is recorded.
        try:
            refused = subprocess.run([recorder, "record", resource, os.path.join(work, "refused.csv"),
                                      "--serve", "127.0.0.1:0", "--tls-cert", certificate, "--tls-key", other_key],
                                     capture_output=True, text=True, timeout=30)
        except subprocess.TimeoutExpired:
            fail("a key that is not the certificate's was taken: the run was still going after 30 s")
        if refused.returncode != 1 or "live view" not in refused.stderr:
            fail(f"a key that is not the certificate's gave status {refused.returncode}: {refused.stderr!r}")
        if os.path.exists(os.path.join(work, "refused.csv")):
            fail("a run refused at the start left its file behind")
        print("a key that is not the certificate's: status 1, " + refused.stderr.strip().splitlines()[-1],
              flush=True)

        token = "5" * 32
        token_file = os.path.join(work, "token")
        with open(token_file, "w") as file:
            file.write(token + "\n")
        record = subprocess.Popen([recorder, "record", resource, os.path.join(work, "run.csv"),
                                   "--serve", "127.0.0.1:0", "--token-file", token_file,
                                   "--tls-cert", certificate, "--tls-key", key],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        processes.append(record)
        match = line_matching(record, r"live view at (https://127\.0\.0\.1:(\d+)/)\?token=", 30)
        base, port = match.group(1), int(match.group(2))

        served = ssl.get_server_certificate(("127.0.0.1", port), timeout=10)
        with open(certificate) as file:
            if ssl.PEM_cert_to_DER_cert(served) != ssl.PEM_cert_to_DER_cert(file.read()):
                fail("the server shows another certificate than the one given")
        trusting = ssl.create_default_context(cafile=certificate)

        def state():
            status, body = status_of(base + "api/state", trusting, {"Authorization": "Bearer " + token})
            return status, json.loads(body) if status == 200 else None

        status, body = state()
        if status != 200 or not isinstance(body, dict):
            fail(f"api/state with the token over HTTPS gave {status}: {body!r}")
        if status_of(base + "api/state", trusting)[0] != 401:
            fail("api/state without the token was not refused with 401")
        print("the given certificate; the state with the token, 401 without", flush=True)

        # Abuse: plain HTTP on the HTTPS port, and a handshake of line noise.
        for name, data in [("plain HTTP", b"GET /api/state HTTP/1.1\r\nHost: x\r\n\r\n"),
                           ("line noise", os.urandom(4096))]:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
                raw.sendall(data)
                try:
                    answer = raw.recv(4096)
                except (ConnectionResetError, socket.timeout):
                    answer = b""
            if b"HTTP/1.1 200" in answer or b'"session"' in answer:
                fail(f"{name} on the HTTPS port got a page: {answer[:100]!r}")
            if state()[0] != 200:
                fail(f"after {name}, the server no longer answers")
        print("plain HTTP and line noise get no page; the server answers after them", flush=True)
        print("PASS", flush=True)


if __name__ == "__main__":
    main()
