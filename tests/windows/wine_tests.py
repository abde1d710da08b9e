#!/usr/bin/env python3
"""Checks of the Windows DLL, and runs of the Windows programs under Wine.

Each sub-command is one ctest test of the Linux build (tests/windows/
CMakeLists.txt):

  build     configure (once) and build the Windows tree with the mingw-w64 toolchain
  imports   the DLL imports from system DLLs only
  exports   the DLL exports exactly the header's list; VTCiDll shares VTHuDll's address
  prefix    make a throwaway Wine prefix, served by one wineserver until cleanup
  gtest     run every portable GoogleTest program under Wine, once each
  report    the usage report written at FreeLibrary, byte for byte
  trust     a throwaway CA added to the prefix's trusted roots is trusted (for HTTPS tests)
  https     wsGetUrlDll's requests against the local HTTPS test server, trace byte for byte
  parity    the same random cases through the DLL and the shared object
  cleanup   stop the prefix's wineserver and remove the prefix
"""

import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# System DLLs the library may import from: the kernel, the C runtime (the old
# msvcrt or the universal one with its API sets) and WinHTTP.
ALLOWED_IMPORTS = re.compile(
    r"^(kernel32|msvcrt|ucrtbase|winhttp)\.dll$|^api-ms-win-crt-[a-z0-9-]+\.dll$", re.IGNORECASE
)
GTEST_SUMMARY = re.compile(r"\[  (PASSED|FAILED)  \]|\[==========\]")
# The one documented alias of the export table.
ALIASES = {"VTCiDll": "VTHuDll"}
# Bucking exports: their decisions must agree between the two builds.
BUCKING = {"PHVsDll", "PHVoDll", "PHVbDll", "PHVbDll-matches", "PHVbDll-result", "PHVbDll-trees"}
# Price matrices on measured stems and the .hpr reader and audit: every decision must agree.
BUCKING |= {"PHMbDll-seq", "PHMbDll-exact", "HPRoDll", "HPRaDll", "HPRnDll", "HPR-stem",
            "HPR-log", "HPR-note", "HPRaDll-totals", "HPRaDll-stem", "HPRaDll-log"}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(cmd, env=None, timeout=600, check=True):
    result = subprocess.run(cmd, env=env, timeout=timeout, capture_output=True)
    if check and result.returncode != 0:
        sys.stdout.write(result.stdout.decode(errors="replace"))
        sys.stdout.write(result.stderr.decode(errors="replace"))
        fail("%s exited with %d" % (" ".join(cmd), result.returncode))
    return result


# ---------------------------------------------------------------- the tree


def dll_path(args):
    return os.path.join(args.win_build, "xylotrak.dll")


def windows_path(path):
    """The path of a Linux file as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def cmd_build(args):
    started = time.monotonic()
    if not os.path.exists(os.path.join(args.win_build, "CMakeCache.txt")):
        run([args.cmake, "-S", args.source, "-B", args.win_build, "--toolchain", args.toolchain],
            timeout=600)
    run([args.cmake, "--build", args.win_build, "-j2"], timeout=1200)
    if not os.path.exists(dll_path(args)):
        fail("the build made no xylotrak.dll")
    print("Windows tree built in %.1f s: %s" % (time.monotonic() - started, args.win_build))


# ------------------------------------------------------------ DLL tables


def cmd_imports(args):
    dump = run([args.objdump, "-p", dll_path(args)]).stdout.decode()
    imported = re.findall(r"^\s*DLL Name: (\S+)", dump, re.MULTILINE)
    print("xylotrak.dll imports from: " + ", ".join(imported))
    if not imported:
        fail("no import table found")
    bad = [name for name in imported if not ALLOWED_IMPORTS.match(name)]
    if bad:
        fail("imports from non-system DLLs: " + ", ".join(bad))


def header_exports(header):
    """Names declared by lines that begin with XYLOTRAK_API, as the build reads them."""
    with open(header) as f:
        text = f.read()
    declaration = r"^[ \t]*XYLOTRAK_API\b[^;(#]*?\b([A-Za-z_]\w*)\s*\("
    return set(re.findall(declaration, text, re.MULTILINE))


def export_table(dump):
    """Name -> RVA from `objdump -p`; forwarders are listed with an RVA of None."""
    addresses = {}
    section = re.search(r"Export Address Table -- Ordinal Base \d+\n(.*?)\n\s*\n", dump, re.S)
    if section:
        entry = r"\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-fA-F]+) (Export|Forwarder) RVA"
        for index, rva, kind in re.findall(entry, section.group(1)):
            addresses[int(index)] = int(rva, 16) if kind == "Export" else None
    names = {}
    section = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)(?:\n\s*\n|\Z)", dump, re.S)
    if section:
        for index, name in re.findall(r"\[\s*(\d+)\] (\S+)", section.group(1)):
            names[name] = addresses.get(int(index))
    return names


def cmd_exports(args):
    wanted = header_exports(args.header)
    if not wanted:
        fail("no XYLOTRAK_API declaration found in " + args.header)
    table = export_table(run([args.objdump, "-p", dll_path(args)]).stdout.decode())
    print("header declares %d exports; the DLL exports %d names" % (len(wanted), len(table)))
    missing = sorted(wanted - set(table))
    extra = sorted(set(table) - wanted)
    if missing or extra:
        fail("export table differs from the header: missing %s, extra %s" % (missing, extra))
    forwarded = sorted(name for name, rva in table.items() if rva is None)
    if forwarded:
        fail("forwarded exports: %s" % forwarded)
    for alias, target in ALIASES.items():
        if alias in wanted and target in wanted:
            if table[alias] != table[target]:
                fail("%s at %#x, %s at %#x" % (alias, table[alias], target, table[target]))
            print("%s and %s share RVA %#x" % (alias, target, table[alias]))
    # A host links against the import library: it must offer every export.
    implib = os.path.join(args.win_build, "libxylotrak.dll.a")
    symbols = set(re.findall(r"\b__imp_(\w+)", run([args.nm, implib]).stdout.decode()))
    if wanted - symbols:
        fail("import library lacks %s" % sorted(wanted - symbols))
    print("export table and import library match the header: " + ", ".join(sorted(wanted)))


# ------------------------------------------------------------------ Wine


def wine_env(args):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)  # headless: console programs only
    env.update(
        WINEPREFIX=args.prefix,
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=",  # no Mono or Gecko installer prompts
        WINEPATH=windows_path(args.win_build),  # where the programs find xylotrak.dll
    )
    return env


def wine(args, program, *program_args, timeout=300):
    # Output goes to files, not pipes: the wineserver that the first program
    # starts inherits them and outlives the program, so a pipe would not close
    # before it exits.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(
            [args.wine, program, *program_args], env=wine_env(args), stdout=out, stderr=err,
            timeout=timeout,
        )
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def log_folder(args):
    return os.path.join(args.prefix, "drive_c", "Xylotrak")


def wineserver(args, *options):
    # The server goes into the background with the standard streams it was
    # given: they must not be pipes that the test's runner waits on.
    return subprocess.run([args.wineserver, *options], env=wine_env(args), timeout=60,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def stop_wineserver(args):
    """Stops the prefix's wineserver, if one runs, and waits until it has gone."""
    wineserver(args, "--kill")
    wineserver(args, "--wait")


def cmd_prefix(args):
    started = time.monotonic()
    if os.path.isdir(args.prefix):
        stop_wineserver(args)  # one left by an interrupted run
    shutil.rmtree(args.prefix, ignore_errors=True)
    os.makedirs(args.prefix)
    # One wineserver serves the prefix from here until cleanup stops it. Left
    # to itself a wineserver shuts down once its last program has ended (at
    # once, as Debian starts it), and a program that starts while it does so
    # can lose its connection ("wine client error:0: recvmsg: Connection reset
    # by peer"): the programs a test runs one after another failed so now and
    # then. The command returns once the server is up.
    if wineserver(args, "--persistent") != 0:
        fail("cannot start a wineserver for " + args.prefix)
    result = wine(args, "wineboot", "--init", timeout=240)
    if not os.path.isdir(os.path.join(args.prefix, "drive_c", "windows")):
        sys.stdout.write(result.stderr.decode(errors="replace"))
        fail("wineboot made no prefix in " + args.prefix)
    print("Wine prefix made in %.1f s: %s" % (time.monotonic() - started, args.prefix))


def cmd_cleanup(args):
    stop_wineserver(args)
    shutil.rmtree(args.prefix, ignore_errors=True)


def cmd_gtest(args):
    listing = os.path.join(args.win_build, "windows-tests.txt")
    with open(listing) as f:
        programs = [line.strip() for line in f if line.strip()]
    if not programs:
        fail("no Windows test programs listed in " + listing)
    shutil.rmtree(log_folder(args), ignore_errors=True)  # the usage reports go nowhere
    failed = []
    for program in programs:
        started = time.monotonic()
        result = wine(args, program, "--gtest_color=no")
        output = result.stdout.decode(errors="replace")
        summary = [line for line in output.splitlines() if re.match(GTEST_SUMMARY, line)]
        name = os.path.basename(program)
        print("%s: exit %d in %.1f s" % (name, result.returncode, time.monotonic() - started))
        for line in summary:
            print("    " + line)
        if result.returncode != 0:
            failed.append(name)
            sys.stdout.write(output)
            sys.stdout.write(result.stderr.decode(errors="replace"))
        if os.path.exists(log_folder(args)):
            fail("something created C:\\Xylotrak")
    print("Windows test programs: %d run, %d failed" % (len(programs), len(failed)))
    if failed:
        fail("failed under Wine: " + ", ".join(failed))


# The report of the calls that report_host makes: slots 0 to 6 hold
# 0, 0, 1, 3, 1, 1, 4, and "%.i" prints a zero as nothing at all.
REPORT_LINES = [
    "Process detach\n",
    " =  acessos \n",
    "1 =  acessos \n",
    "2 = 1 acessos \n",
    "3 = 3 acessos \n",
    "4 = 1 acessos \n",
    "5 = 1 acessos \n",
    "6 = 4 acessos \n",
]
# The log is opened in text mode, where the C runtime writes every line feed
# to the file as CR LF.
REPORT = "".join(REPORT_LINES).replace("\n", "\r\n").encode()


def cmd_report(args):
    host = os.path.join(args.win_build, "tests", "windows", "report_host.exe")
    dll = windows_path(dll_path(args))
    folder = log_folder(args)
    log = os.path.join(folder, "xtk.txt")

    def run_host(case):
        result = wine(args, host, dll)
        out = result.stdout.decode(errors="replace")
        print("%s: exit %d: %s" % (case, result.returncode, out.strip().replace("\n", " | ")))
        if result.returncode != 0:
            sys.stdout.write(result.stderr.decode(errors="replace"))
            fail("report_host failed (%s)" % case)
        return result

    # Folder missing: no report, no folder made, and stderr still works.
    shutil.rmtree(folder, ignore_errors=True)
    result = run_host("log folder missing")
    if os.path.exists(folder):
        fail("the library created C:\\Xylotrak")
    if b"report_host: stderr still open" not in result.stderr:
        fail("stderr was lost when the log could not be opened")

    # Folder present: the exact report, appended at every unload.
    os.makedirs(folder)
    try:
        run_host("first unload")
        with open(log, "rb") as f:
            first = f.read()
        if first != REPORT:
            fail("report bytes differ:\n got  %r\n want %r" % (first, REPORT))
        run_host("second unload")
        with open(log, "rb") as f:
            both = f.read()
        if both != REPORT + REPORT:
            fail("second report not appended:\n got %r" % both)
        print("usage report matches byte for byte (%d bytes, appended at each unload)"
              % len(REPORT))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ----------------------------------------------------------------- trust


def make_throwaway_ca(openssl, folder, host):
    """A CA and a TLS server certificate for `host` signed by it, valid for two days."""

    def ssl(*arguments):
        run([openssl, *arguments], timeout=60)

    ca, leaf = os.path.join(folder, "ca"), os.path.join(folder, "server")
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
        "-keyout", ca + ".key", "-out", ca + ".pem", "-subj", "/CN=Xylotrak throwaway CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", leaf + ".key", "-out", leaf + ".csr",
        "-subj", "/CN=" + host)
    with open(leaf + ".ext", "w") as f:
        f.write("subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n"
                % host)
    ssl("x509", "-req", "-in", leaf + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
        "-CAcreateserial", "-days", "2", "-out", leaf + ".pem", "-extfile", leaf + ".ext")
    return ca + ".pem", leaf + ".pem"


def cmd_trust(args):
    """The prefix trusts a throwaway CA once trust_root has added it, and only for its host."""
    helper = os.path.join(args.win_build, "tests", "windows", "trust_root.exe")
    with tempfile.TemporaryDirectory() as folder:
        ca, server = make_throwaway_ca(args.openssl, folder, "localhost")
        steps = [
            ("before the CA is added", ["verify", server, "localhost"], 1),
            ("adding the CA", ["add", ca], 0),
            ("after the CA is added", ["verify", server, "localhost"], 0),
            ("for another host name", ["verify", server, "example.org"], 1),
        ]
        for what, helper_args, expected in steps:
            paths = [windows_path(a) if a.endswith(".pem") else a for a in helper_args]
            result = wine(args, helper, *paths)
            print("%s: exit %d: %s" % (what, result.returncode, result.stdout.decode().strip()))
            if result.returncode != expected:
                fail("trust_root exited with %d %s, not %d" % (result.returncode, what, expected))


# ----------------------------------------------------------------- https

# The server sends each chunk as its own write; "\n" reaches the log as CR LF
# and a zero byte ends what is logged of its chunk.
HTTPS_CHUNKS = [b"hello ", b"world\n", b"a\0b", b"!"]
HTTPS_BODY = "x=1&y=2"
# The port-443 lock file of the POSIX HTTPS tests: one server at a time.
HTTPS_LOCK = "/tmp/xylotrak-https-443.lock"
SKIP = 77
# The usage report after calls that are not accounted: every slot at 0.
IDLE_REPORT = ("Process detach\n" + "".join("%s =  acessos \n" % (slot or "") for slot in range(7))
               ).replace("\n", "\r\n").encode()


def trace(url, method, post, tail):
    """One call's trace as the text-mode log holds it."""
    send = "GET" if method == "GET" else "POST"
    text = ("URL:%s \nMethod:%s \nPost:%s \nPostLen:%d \nWinHttpOpen\nWinHttpConnect\n"
            "WinHttpOpenRequest\nWinHttpSendRequest-%s\n" % (url, method, post, len(post), send))
    return (text + tail).replace("\n", "\r\n").encode()


def start_https_server(args, workdir):
    """The POSIX tests' server; None when port 443 cannot be bound."""
    server = subprocess.Popen([sys.executable, args.server, workdir], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE)
    line = server.stdout.readline().decode().strip()
    if line == "ready":
        return server
    server.stdin.close()
    server.wait(timeout=30)
    if not line.startswith("cannot-bind"):
        fail("the HTTPS test server did not start (%s)" % (line or "no answer"))
    print("SKIP: HTTPS test server not started (%s); port 443 of 127.0.0.1 must be free and "
          "bindable (run as root)" % line)
    return None


def received(workdir):
    folder = os.path.join(workdir, "requests")
    names = sorted(os.listdir(folder), key=lambda name: int(name.split(".")[0]))
    return [open(os.path.join(folder, name), "rb").read() for name in names]


def check_request(raw, verb, body):
    head, _, sent = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = dict(line.split(": ", 1) for line in lines[1:])
    print("%s request: %s" % (verb, " | ".join(lines)))
    want = {"User-Agent": "WinHTTP Example/1.0", "Host": "localhost"}
    if body:
        want["Content-Length"] = str(len(body))
    got = {name: headers.get(name) for name in want}
    if lines[0] != verb + " / HTTP/1.1" or got != want or sent != body:
        fail("%s request: %r, headers %r, body %r" % (verb, lines[0], got, sent))
    # The library adds no header: the rest is WinHTTP's own.
    extra = set(headers) - set(want) - {"Connection"}
    if extra or headers.get("Content-Length", "0") != str(len(body)):
        fail("%s request carries unexpected headers: %r" % (verb, headers))


def cmd_https(args):
    host = os.path.join(args.win_build, "tests", "windows", "https_host.exe")
    helper = os.path.join(args.win_build, "tests", "windows", "trust_root.exe")
    folder = log_folder(args)
    started = time.monotonic()
    with open(HTTPS_LOCK, "a") as lock, tempfile.TemporaryDirectory() as workdir:
        fcntl.flock(lock, fcntl.LOCK_EX)
        server = start_https_server(args, workdir)
        if server is None:
            sys.exit(SKIP)
        try:
            with open(os.path.join(workdir, "plan.json"), "w") as f:
                f.write('{"chunks": [%s]}' % ", ".join('"%s"' % c.hex() for c in HTTPS_CHUNKS))
            result = wine(args, helper, "add", windows_path(os.path.join(workdir, "ca.crt")))
            if result.returncode != 0:
                fail("trust_root add: exit %d: %s" % (result.returncode, result.stdout.decode()))
            # The prefix must now trust the server's certificate; if it does not,
            # every send to localhost fails and the trace alone cannot say why.
            result = wine(args, helper, "verify",
                          windows_path(os.path.join(workdir, "localhost.crt")), "localhost")
            if result.returncode != 0:
                fail("the prefix does not trust the server's certificate: exit %d: %s %s"
                     % (result.returncode, result.stdout.decode(errors="replace").strip(),
                        result.stderr.decode(errors="replace").strip()))
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            # 127.0.0.4 shows a certificate from a CA the prefix does not trust.
            calls = [("localhost", "GET", ""), ("localhost", "POST", HTTPS_BODY),
                     ("127.0.0.4", "GET", ""), ("nosuch.invalid", "GET", "")]
            try:
                result = wine(args, host, windows_path(dll_path(args)), *sum(calls, ()),
                              timeout=120)
            except subprocess.TimeoutExpired:
                fail("https_host did not finish within 120 s")
            print(result.stdout.decode(errors="replace").strip())
            if result.returncode != 0:
                fail("https_host exited with %d: %s"
                     % (result.returncode, result.stderr.decode(errors="replace")))
            with open(os.path.join(folder, "xtk.txt"), "rb") as f:
                log = f.read()
            requests = received(workdir)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
            server.stdin.close()
            server.wait(timeout=30)
    print("wine run and server: %.1f s" % (time.monotonic() - started))

    body = b"".join(b"Out:" + c.split(b"\0")[0] for c in HTTPS_CHUNKS) + b"Out:"
    response = "WinHttpReceiveResponse\n" + body.decode()
    # The "Erro:" line holds the code of the failed wait, not of the failed
    # send before it (the untrusted CA, the unresolved name): under Wine the
    # wait reports 12019, the request not being in a state to receive.
    expected = (trace("localhost", "GET", "", response)
                + trace("localhost", "POST", HTTPS_BODY, response)
                + trace("127.0.0.4", "GET", "", "Erro: 12019 \n")
                + trace("nosuch.invalid", "GET", "", "Erro: 12019 \n")
                + IDLE_REPORT)
    if log != expected:
        fail("trace differs:\n got  %r\n want %r" % (log, expected))
    print("trace matches byte for byte (%d bytes)" % len(log))
    if len(requests) != 2:
        fail("the server received %d requests, not 2" % len(requests))
    check_request(requests[0], "GET", b"")
    check_request(requests[1], "POST", HTTPS_BODY.encode("utf-16-le"))


# ---------------------------------------------------------------- parity


def ordered(bits):
    """Maps the bits of a double onto a line where neighbouring doubles are 1 apart."""
    return bits if bits < 1 << 63 else (1 << 63) - bits


def is_nan(bits):
    return (bits >> 52) & 0x7FF == 0x7FF and bits & ((1 << 52) - 1) != 0


def parse_probe(output):
    rows = []
    for line in output.decode().splitlines():
        kind, case, value = line.split()
        rows.append((kind, int(case), value))
    return rows


def cmd_parity(args):
    if os.environ.get("XYLOTRAK_PARITY_SEED"):
        args.seed = int(os.environ["XYLOTRAK_PARITY_SEED"])
    counts = [str(args.seed), str(args.taper_cases), str(args.bucking_cases)]
    # The .hpr fixtures, under each platform's name for them.
    linux_hpr = [os.path.abspath(args.hpr_dir)] if args.hpr_dir else []
    windows_hpr = [windows_path(args.hpr_dir)] if args.hpr_dir else []
    linux = run([args.linux_probe, *counts, *linux_hpr], timeout=300)
    probe = os.path.join(args.win_build, "tests", "windows", "parity_probe.exe")
    windows = wine(args, probe, *counts, *windows_hpr)
    if windows.returncode != 0:
        sys.stdout.write(windows.stderr.decode(errors="replace"))
        fail("parity_probe.exe exited with %d" % windows.returncode)
    a, b = parse_probe(linux.stdout), parse_probe(windows.stdout)
    if not a:
        fail("the probe printed no result")
    if len(a) != len(b) or any(x[:2] != y[:2] for x, y in zip(a, b)):
        fail("the probes printed different sequences of results (%d, %d lines)" % (len(a), len(b)))

    stats = {}  # kind -> [results, identical, largest ULP difference]
    decisions = {}  # kind -> [decisions, differing]
    bucking_differs = []
    for (kind, case, x), (_, _, y) in zip(a, b):
        if kind.startswith("="):
            kind = kind[1:]
            d = decisions.setdefault(kind, [0, 0])
            d[0] += 1
            if x != y:
                d[1] += 1
                if kind in BUCKING:
                    bucking_differs.append(
                        "%s case %d: %s on Linux, %s on Windows" % (kind, case, x, y)
                    )
            continue
        s = stats.setdefault(kind, [0, 0, 0])
        s[0] += 1
        u, v = int(x, 16), int(y, 16)
        if u == v:
            s[1] += 1
        elif is_nan(u) and is_nan(v):
            s[1] += 1  # both NaN
        elif is_nan(u) or is_nan(v):
            s[2] = float("inf")
        else:
            s[2] = max(s[2], abs(ordered(u) - ordered(v)))

    total = sum(s[0] for s in stats.values())
    same = sum(s[1] for s in stats.values())
    print("seed %d: %d taper cases, %d bucking cases"
          % (args.seed, args.taper_cases, args.bucking_cases))
    print("%-18s %8s %10s %8s" % ("results", "count", "identical", "max ULP"))
    for kind in sorted(stats):
        n, k, ulp = stats[kind]
        print("%-18s %8d %9.3f%% %8s" % (kind, n, 100.0 * k / n, ulp))
    for kind in sorted(decisions):
        n, k = decisions[kind]
        print("%-18s %8d decisions, %d differ" % (kind, n, k))
    largest = max((s[2] for s in stats.values()), default=0)
    print("bit-identical: %d of %d doubles (%.3f%%), largest difference %s ULP"
          % (same, total, 100.0 * same / total, largest))
    if not any(kind in BUCKING for kind in stats):
        print("bucking exports absent: bucking tables not compared")
    # The inventory export, on two threads, against the single-tree export in the same process.
    for name, probe in (("Linux", a), ("Windows", b)):
        matches = [x for kind, _, x in probe if kind == "=PHVbDll-matches"]
        results = [x for kind, _, x in probe if kind == "=PHVbDll-result"]
        if matches or results:
            if results != ["0"] or len(matches) != args.bucking_cases or set(matches) != {"1"}:
                fail("%s: PHVbDll answered %s and matched its single-tree export on %d of %d "
                     "trees" % (name, results, matches.count("1"), args.bucking_cases))
            print("%s: PHVbDll on two threads matched PHVoDll on all %d trees"
                  % (name, len(matches)))
    if bucking_differs:
        for line in bucking_differs[:20]:
            print("  " + line)
        fail("%d bucking decisions differ between the DLL and the shared object"
             % len(bucking_differs))


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--win-build", required=True)
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--nm", default="x86_64-w64-mingw32-nm")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--wineserver", default="/usr/lib/wine/wineserver")
    parser.add_argument("--prefix")
    sub = parser.add_subparsers(dest="command", required=True)
    build = sub.add_parser("build")
    build.add_argument("--cmake", default="cmake")
    build.add_argument("--source", required=True)
    build.add_argument("--toolchain", required=True)
    sub.add_parser("trust").add_argument("--openssl", default="openssl")
    sub.add_parser("https").add_argument("--server", required=True)
    sub.add_parser("imports")
    sub.add_parser("exports").add_argument("--header", required=True)
    for name in ("prefix", "cleanup", "gtest", "report"):
        sub.add_parser(name)
    parity = sub.add_parser("parity")
    parity.add_argument("--linux-probe", required=True)
    parity.add_argument("--seed", type=int, default=1)
    parity.add_argument("--taper-cases", type=int, default=1000)
    parity.add_argument("--bucking-cases", type=int, default=100)
    parity.add_argument("--hpr-dir", help="tests/data/hpr: read and audit its fixtures too")
    args = parser.parse_args()
    if args.command not in ("build", "imports", "exports") and not args.prefix:
        parser.error("--prefix is needed for " + args.command)
    globals()["cmd_" + args.command](args)


if __name__ == "__main__":
    main()
