#!/usr/bin/env python3
"""Local HTTPS server for the wsGetUrlDll tests.

Usage: https_server.py WORKDIR

Makes a throwaway CA (WORKDIR/ca.crt, the one the tests trust), a second
CA nobody trusts, and their server certificates with the openssl command,
then serves port 443 on three loopback addresses:
  127.0.0.1  trusted, for localhost, 127.0.0.1 and xn--bcher-kva.test
  127.0.0.3  trusted, but for another name only (host-name check)
  127.0.0.4  for 127.0.0.4, signed by the untrusted CA (peer check)
It prints "ready", or "cannot-bind: <reason>" and exits 3, and runs until its
standard input closes.

Each request is saved raw (head and body, as received) to
WORKDIR/requests/<n>.bin. The reply is read from WORKDIR/plan.json for each
request: {"chunks": [hex, ...], "length": n, "hold": s, "head": bool}.
The head "HTTP/1.1 200 OK" with Content-Length `length` (default: the sum
of the chunks) goes first unless "head" is false; each chunk follows after a
short pause as its own write; then the server waits `hold` seconds and closes
the connection without a TLS close.
"""
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

GAP = 0.05


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_ca(cwd, name):
    # The CAs sign with RSA, whose signatures have a fixed length. Wine's
    # certificate check (the Windows test) rejects an ECDSA signature whose r
    # or s is a byte short, as about one in 128 are: with ECDSA CAs the
    # Windows test failed at random, about one run in sixty.
    openssl("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", f"/CN={name} test CA", "-keyout", f"{name}.key", "-out", f"{name}.crt",
            cwd=cwd)


def make_server_cert(cwd, ca, name, alt_names):
    with open(os.path.join(cwd, f"{name}.ext"), "w") as ext:
        ext.write(f"subjectAltName={alt_names}\nbasicConstraints=CA:FALSE\n"
                  "extendedKeyUsage=serverAuth\n")
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-subj", f"/CN={name}", "-keyout", f"{name}.key", "-out", f"{name}.csr", cwd=cwd)
    openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.crt", "-CAkey", f"{ca}.key",
            "-set_serial", str(int(time.time() * 1000)), "-days", "2", "-extfile", f"{name}.ext",
            "-out", f"{name}.crt", cwd=cwd)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(cwd, f"{name}.crt"), os.path.join(cwd, f"{name}.key"))
    return context


class Server:
    def __init__(self, workdir):
        self.workdir = workdir
        self.count = 0
        self.lock = threading.Lock()
        os.makedirs(os.path.join(workdir, "requests"), exist_ok=True)

    def record(self, raw):
        with self.lock:
            self.count += 1
            path = os.path.join(self.workdir, "requests", f"{self.count}.bin")
        with open(path + ".tmp", "wb") as out:
            out.write(raw)
        os.rename(path + ".tmp", path)

    def plan(self):
        try:
            with open(os.path.join(self.workdir, "plan.json")) as f:
                return json.load(f)
        except FileNotFoundError:
            return {}

    def serve(self, raw_socket, context):
        try:
            with context.wrap_socket(raw_socket, server_side=True) as tls:
                data = b""
                while b"\r\n\r\n" not in data:
                    more = tls.recv(65536)
                    if not more:
                        return
                    data += more
                head = data.split(b"\r\n\r\n", 1)[0]
                length = 0
                for line in head.split(b"\r\n")[1:]:
                    name, _, value = line.partition(b":")
                    if name.strip().lower() == b"content-length":
                        length = int(value.strip())
                while len(data) < len(head) + 4 + length:
                    more = tls.recv(65536)
                    if not more:
                        break
                    data += more
                self.record(data)
                self.reply(tls, self.plan())
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            raw_socket.close()

    def reply(self, tls, plan):
        chunks = [bytes.fromhex(c) for c in plan.get("chunks", [])]
        length = plan.get("length", sum(len(c) for c in chunks))
        if plan.get("head", True):
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n"
                        b"Connection: close\r\n\r\n" % length)
            for chunk in chunks:
                time.sleep(GAP)
                tls.sendall(chunk)
        time.sleep(plan.get("hold", 0))
        # Leave without a TLS close: the client sees the connection end.

    def listen(self, address, context):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((address, 443))
        listener.listen(64)

        def accept_loop():
            while True:
                conn, _ = listener.accept()
                threading.Thread(target=self.serve, args=(conn, context), daemon=True).start()

        threading.Thread(target=accept_loop, daemon=True).start()


def main():
    workdir = sys.argv[1]
    make_ca(workdir, "ca")
    make_ca(workdir, "untrusted")
    contexts = {
        "127.0.0.1": make_server_cert(workdir, "ca", "localhost",
                                      "DNS:localhost,IP:127.0.0.1,DNS:xn--bcher-kva.test"),
        "127.0.0.3": make_server_cert(workdir, "ca", "elsewhere", "DNS:elsewhere.test"),
        "127.0.0.4": make_server_cert(workdir, "untrusted", "stranger", "IP:127.0.0.4"),
    }
    server = Server(workdir)
    try:
        for address, context in contexts.items():
            server.listen(address, context)
    except OSError as error:
        print(f"cannot-bind: {address}:443: {error.strerror}", flush=True)
        sys.exit(3)
    print("ready", flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
