#!/usr/bin/env python3
"""Simulated serial scanners for Windows test programs running under Wine.

Each COM<n> is backed by a Linux pseudo-terminal. The test program asks this
server, over a TCP line protocol on 127.0.0.1, to plug a "scanner" in, to send
bytes as a scanner would, to report what line settings the program chose and
to unplug it again. Wine reaches the pty through DIR/com<n>, a symlink that is
repointed on every OPEN, so each test gets a fresh device without touching the
Wine prefix.

Requests (one per line) and replies (one per request, "OK ..." or "ERR ..."):
  PING                        -> OK
  OPEN COM<n>                 -> OK <slave path>
  TERMIOS COM<n>              -> OK baud=<b> stop=<1|2> csize=<5..8> parity=<p>
  WRITE COM<n> [<hex>]        -> OK <count>
  PACE COM<n> <baud> [<hex>]  -> OK <count>
  READ COM<n>                 -> OK <hex>
  CLOSE COM<n>                -> OK
  UNMAP COM<n>                -> OK
  KEY DOWN|UP <keysym>        -> OK   (the operator's hand on the X keyboard,
                                       through xdotool: Control_L, Shift_L...)

Port names are case-insensitive, COM1..COM999. Any other request gets
"ERR <reason>" and the connection stays usable. WRITE and PACE give up with
"ERR stalled ... after <n> bytes" once the program has not read for 5 s, and
with "ERR closed ... after <n> bytes" when the port is closed meanwhile.
Linux ptys keep CS8 and no parity whatever the program asks for, so TERMIOS
tells baud and stop bits faithfully but not byte size or parity.

Human/script use:  scanner_sim.py --send PORTFILE COM<n> TEXT
(sends TEXT in code page 1251 and a carriage return, as a scanner set up
for Russian does after each code)
"""

import argparse
import errno
import os
import re
import select
import signal
import socket
import socketserver
import subprocess
import sys
import termios
import threading
import time
import tty

# Python's termios module does not export it, but Linux has it; Wine uses it
# for mark/space parity.
CMSPAR = getattr(termios, "CMSPAR", 0o10000000000)

BAUD_BY_CONSTANT = {
    getattr(termios, name): int(name[1:])
    for name in dir(termios)
    if re.fullmatch(r"B\d+", name)
}
CSIZE_BITS = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}

# A program under test that stops reading must not wedge the server forever.
WRITE_STALL_SECONDS = 5.0
HOST_SERIAL = "/dev/ttyS0"
MAX_LINE = 1 << 20


class RequestError(Exception):
    pass


class Port:
    """One pty pair. The lock keeps a CLOSE from racing a running WRITE/PACE,
    which could otherwise write into a reused fd number of another port."""

    def __init__(self, name, link):
        self.name = name
        self.link = link
        self.lock = threading.Lock()
        self.master, self.slave = os.openpty()
        # Raw, so bytes reach the program exactly as a scanner sends them.
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.closed = False

    def close(self):
        with self.lock:
            if not self.closed:
                self.closed = True
                os.close(self.master)
                os.close(self.slave)


class Simulator:
    def __init__(self, ports_dir):
        self.ports_dir = os.path.abspath(ports_dir)
        self.ports = {}
        self.table_lock = threading.Lock()

    # -- helpers ---------------------------------------------------------

    def _link_path(self, name):
        return os.path.join(self.ports_dir, name.lower())

    def _port(self, name):
        with self.table_lock:
            port = self.ports.get(name)
        if port is None or port.closed:
            raise RequestError("not open " + name)
        return port

    def _write_some(self, port, data, deadline_from):
        """Write as much of data as the pty takes now; waits for room up to
        WRITE_STALL_SECONDS since deadline_from. Returns bytes written."""
        while True:
            with port.lock:
                if port.closed:
                    raise RequestError("closed " + port.name)
                try:
                    return os.write(port.master, data)
                except BlockingIOError:
                    pass
                fd = port.master
            if time.monotonic() - deadline_from > WRITE_STALL_SECONDS:
                raise RequestError("stalled: program is not reading " + port.name)
            # Wait outside the lock so CLOSE can still get in.
            try:
                select.select([], [fd], [], 0.05)
            except (OSError, ValueError):
                pass  # fd closed meanwhile; the loop reports it

    def _write_all(self, port, data):
        done = 0
        last_progress = time.monotonic()
        try:
            while done < len(data):
                n = self._write_some(port, data[done:], last_progress)
                if n:
                    last_progress = time.monotonic()
                done += n
        except RequestError as e:
            # Tests that unplug mid-transfer need to know how far it got.
            raise RequestError("%s after %d bytes" % (e, done)) from None
        return done

    # -- requests --------------------------------------------------------

    def open(self, name):
        port = Port(name, self._link_path(name))
        with self.table_lock:
            old = self.ports.pop(name, None)
            self.ports[name] = port
        if old is not None:
            old.close()
        # Replace, never unlink-then-create: a program opening the port in
        # between must see either the old or the new device, not nothing.
        tmp = "%s.tmp.%d.%d" % (port.link, os.getpid(), threading.get_ident())
        os.symlink(port.path, tmp)
        os.replace(tmp, port.link)
        return port.path

    def termios_of(self, name):
        port = self._port(name)
        with port.lock:
            if port.closed:
                raise RequestError("closed " + name)
            _, _, cflag, _, _, ospeed, _ = termios.tcgetattr(port.slave)
        baud = BAUD_BY_CONSTANT.get(ospeed)
        if baud is None:
            raise RequestError("unknown speed constant %#o" % ospeed)
        if not cflag & termios.PARENB:
            parity = "none"
        elif cflag & CMSPAR:
            parity = "mark" if cflag & termios.PARODD else "space"
        else:
            parity = "odd" if cflag & termios.PARODD else "even"
        return "baud=%d stop=%d csize=%d parity=%s" % (
            baud,
            2 if cflag & termios.CSTOPB else 1,
            CSIZE_BITS[cflag & termios.CSIZE],
            parity,
        )

    def write(self, name, data):
        return self._write_all(self._port(name), data)

    def pace(self, name, baud, data):
        """Byte i leaves at start + (i+1) * 10/baud, as on a real 8N1 line,
        so programs see realistic gaps and fragmentation."""
        port = self._port(name)
        byte_time = 10.0 / baud
        start = time.monotonic()
        done = 0
        try:
            while done < len(data):
                due = min(len(data),
                          int((time.monotonic() - start) / byte_time))
                if due > done:
                    done += self._write_some(port, data[done:due],
                                             time.monotonic())
                    continue
                next_due = start + (done + 1) * byte_time
                time.sleep(max(0.0, min(0.001, next_due - time.monotonic())))
        except RequestError as e:
            raise RequestError("%s after %d bytes" % (e, done)) from None
        return done

    def read(self, name):
        port = self._port(name)
        chunks = []
        with port.lock:
            if port.closed:
                raise RequestError("closed " + name)
            while True:
                try:
                    chunk = os.read(port.master, 65536)
                except BlockingIOError:
                    break
                except OSError as e:
                    # EIO: nothing holds the slave; treat as "no data".
                    if e.errno == errno.EIO:
                        break
                    raise
                if not chunk:
                    break
                chunks.append(chunk)
        return b"".join(chunks)

    def close(self, name, unmap):
        with self.table_lock:
            port = self.ports.pop(name, None)
        if port is not None:
            port.close()
        if unmap:
            try:
                os.unlink(self._link_path(name))
            except FileNotFoundError:
                pass

    def host_serial(self, name):
        """Points the port at the machine's own serial device, whose driver
        under Wine ends a pending event wait only when the event mask is set
        again, never on a cancel."""
        self.close(name, unmap=False)
        if not os.path.exists(HOST_SERIAL):
            return False
        tmp = "%s.tmp.%d" % (self._link_path(name), os.getpid())
        os.symlink(HOST_SERIAL, tmp)
        os.replace(tmp, self._link_path(name))
        return True

    def close_all(self):
        with self.table_lock:
            ports = list(self.ports.values())
            self.ports.clear()
        for port in ports:
            port.close()

    # -- protocol --------------------------------------------------------

    def handle(self, line):
        words = line.split()
        if not words:
            raise RequestError("empty request")
        cmd, args = words[0].upper(), words[1:]
        if cmd == "PING":
            if args:
                raise RequestError("PING takes no arguments")
            return "OK"
        if cmd == "KEY":
            if len(args) != 2 or args[0].upper() not in ("DOWN", "UP") or \
                    not re.fullmatch(r"[A-Za-z0-9_]+", args[1]):
                raise RequestError("KEY takes DOWN or UP and a keysym")
            subprocess.run(["xdotool", "key" + args[0].lower(), args[1]], check=True, timeout=10)
            return "OK"

        arity = {"OPEN": (1, 1), "TERMIOS": (1, 1), "WRITE": (1, 2),
                 "PACE": (2, 3), "READ": (1, 1), "CLOSE": (1, 1),
                 "UNMAP": (1, 1), "HOSTSERIAL": (1, 1)}
        if cmd not in arity:
            raise RequestError("unknown command " + words[0])
        low, high = arity[cmd]
        if not low <= len(args) <= high:
            raise RequestError("wrong number of arguments for " + cmd)
        match = re.fullmatch(r"COM([1-9][0-9]{0,2})", args[0].upper())
        if not match:
            raise RequestError("bad port name " + args[0])
        name = "COM" + match.group(1)

        if cmd == "OPEN":
            return "OK " + self.open(name)
        if cmd == "TERMIOS":
            return "OK " + self.termios_of(name)
        if cmd == "WRITE":
            return "OK %d" % self.write(name, parse_hex(args[1:]))
        if cmd == "PACE":
            try:
                baud = int(args[1])
            except ValueError:
                raise RequestError("bad baud " + args[1]) from None
            if baud <= 0:
                raise RequestError("bad baud " + args[1])
            return "OK %d" % self.pace(name, baud, parse_hex(args[2:]))
        if cmd == "READ":
            return "OK " + self.read(name).hex()
        if cmd == "HOSTSERIAL":
            return "OK %d" % self.host_serial(name)
        self.close(name, unmap=(cmd == "UNMAP"))
        return "OK"


def parse_hex(rest):
    text = rest[0] if rest else ""
    try:
        return bytes.fromhex(text)
    except ValueError:
        raise RequestError("bad hex") from None


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        sim = self.server.sim
        while True:
            try:
                raw = self.rfile.readline(MAX_LINE)
            except OSError:
                return
            if not raw:
                return
            if not raw.endswith(b"\n") and len(raw) >= MAX_LINE:
                reply = "ERR line too long"
                # Drop the rest of the oversized line so framing recovers.
                while raw and not raw.endswith(b"\n"):
                    raw = self.rfile.readline(MAX_LINE)
            else:
                try:
                    reply = sim.handle(raw.decode("ascii").strip())
                except UnicodeDecodeError:
                    reply = "ERR not ASCII"
                except RequestError as e:
                    reply = "ERR " + str(e)
                except OSError as e:
                    reply = "ERR " + (e.strerror or str(e)).replace("\n", " ")
                except Exception as e:  # a harness bug must not end the run
                    reply = "ERR internal %s: %s" % (type(e).__name__, e)
            try:
                self.wfile.write(reply.encode("ascii", "replace") + b"\n")
                self.wfile.flush()
            except OSError:
                return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True  # a hung client must not hold up shutdown


def write_atomically(path, text):
    tmp = "%s.tmp.%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def serve(port_file, ports_dir):
    os.makedirs(ports_dir, exist_ok=True)
    # Block the stop signals in every thread and take them with sigwait in
    # the main thread: no handler runs in the middle of a request.
    stop_signals = {signal.SIGTERM, signal.SIGINT}
    signal.pthread_sigmask(signal.SIG_BLOCK, stop_signals)

    server = Server(("127.0.0.1", 0), Handler)
    server.sim = Simulator(ports_dir)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    write_atomically(port_file, "%d\n" % server.server_address[1])
    print("scanner_sim: listening on 127.0.0.1:%d" % server.server_address[1],
          flush=True)

    sig = signal.sigwait(stop_signals)
    print("scanner_sim: signal %d, stopping" % sig, flush=True)
    server.shutdown()
    server.server_close()
    server.sim.close_all()
    return 0


def request(port_file, words):
    """Sends one request to a running server and prints the reply."""
    with open(port_file) as f:
        tcp_port = int(f.read().strip())
    with socket.create_connection(("127.0.0.1", tcp_port), timeout=30) as s:
        s.sendall((" ".join(words) + "\n").encode("ascii"))
        reply = s.makefile("rb").readline().decode("ascii").strip()
    print(reply)
    return 0 if reply.startswith("OK") else 1


# A scanner set up for Russian sends Cyrillic in this code page, which is
# also what the program reads.
SCANNER_ENCODING = "cp1251"


def send(port_file, port_name, text):
    # Characters the scanner's code page lacks go as "?", as no scanner can
    # send them either.
    data = text.encode(SCANNER_ENCODING, errors="replace") + b"\r"
    return request(port_file, ["WRITE", port_name, data.hex()])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port-file", help="where to write the TCP port")
    parser.add_argument("--ports-dir", help="directory for the com<n> links")
    parser.add_argument("--send", nargs=3, metavar=("PORTFILE", "COMn", "TEXT"),
                        help="send TEXT + CR to COMn of a running server")
    parser.add_argument("--request", nargs="+", metavar=("PORTFILE", "WORD"),
                        help="send one request (e.g. OPEN COM1) to a running server")
    args = parser.parse_args(argv)
    if args.send:
        return send(*args.send)
    if args.request:
        return request(args.request[0], args.request[1:])
    if not (args.port_file and args.ports_dir):
        parser.error("--port-file and --ports-dir are required to serve")
    return serve(args.port_file, args.ports_dir)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
