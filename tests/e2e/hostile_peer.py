"""A hostile far complex for the end-to-end tests.

It stands between a complex's vetlina-run and the modem port the simulator serves for
it (RFC 2217: Telnet with the COM-PORT-OPTION): the run's COM1 points here, and every
byte goes on to the simulator. Telnet commands pass untouched; the data bytes are
read as the session link frames them (data with DLE escapes, ended by CR; ACK and NAK
alone) while the carrier stands, and, while a rule for a frame is armed, the frame is changed, dropped, or
replaced by a stream that never ends. So the complex behind it speaks the session
dialogue as a hostile far complex would: it sends what the rules make of its blocks,
and receives what the rules make of the far side's blocks.

Directions: "out" is what the run sends (to the far complex), "in" what it receives.
"""

import select
import socket
import struct
import threading
import time

IAC, SB, SE = 255, 250, 240
ACK, CR, DLE, NAK = 6, 13, 16, 21
ESCAPED = (ACK, CR, DLE, NAK)

GREETING, BUSY, IDENTITY = 40, 8, 58
ENTRY_FIRST, ENTRY_SECOND = 3095, 823


def decode(frame):
    """The data bytes of a block as it came on the wire (without its CR)."""
    out, mask = bytearray(), 0
    for b in frame:
        if b == DLE:
            mask = 32
            continue
        out.append(b ^ mask)
        mask = 0
    return bytes(out)


def encode(data):
    out = bytearray()
    for b in data:
        if b in ESCAPED:
            out += bytes((DLE, b ^ 32))
        else:
            out.append(b)
    out.append(CR)
    return bytes(out)


def telnet_data(data):
    return data.replace(b"\xff", b"\xff\xff")


def put(data, offset, fmt, *values):
    """data with values packed (little-endian struct format) at offset."""
    b = bytearray(data)
    struct.pack_into("<" + fmt, b, offset, *values)
    return bytes(b)


class Rule:
    """What happens to the next frame of a length in a direction (length None: an ACK
    or NAK). action: a function of the data bytes giving the bytes to send instead (or
    a list of frames), or one of "drop", "silence" (this frame and everything after it in
    that direction until the rule is cleared), "endless" (bytes without an end instead,
    until cleared)."""

    def __init__(self, direction, length, action, times=1):
        self.direction, self.length, self.action, self.times = direction, length, action, times
        self.hits = 0


class Pump:
    """One direction of one connection."""

    def __init__(self, peer, direction, source, sink, sink_lock, link):
        self.peer, self.direction, self.link = peer, direction, link
        self.source, self.sink, self.sink_lock = source, sink, sink_lock
        self.state = "data"
        self.telnet = bytearray()
        self.frame = bytearray()

    def send(self, raw):
        if not raw:
            return
        with self.sink_lock:
            try:
                self.sink.sendall(raw)
            except OSError:
                pass

    def flush_frame(self):
        # Only outside a connection: the run's Telnet commands (its polls of the modem
        # lines) come in the middle of its blocks, and the block is still held whole.
        if self.frame and not self.link["carrier"]:
            self.send(telnet_data(bytes(self.frame)))
            self.frame.clear()

    def data_byte(self, b):
        if not self.link["carrier"]:
            # Command mode: the modem echoes every character as it is typed.
            self.flush_frame()
            self.send(telnet_data(bytes((b,))))
            return
        mode = self.peer.mode(self.direction)
        if mode in ("silence", "endless"):
            return
        if b in (ACK, NAK) and not self.frame:
            rule = self.peer.take(self.direction, None)
            if rule is None:
                self.send(bytes((b,)))
            else:
                self.apply(rule, bytes((b,)), raw=True)
            return
        self.frame.append(b)
        if b != CR:
            return
        data = decode(bytes(self.frame[:-1]))
        wire = bytes(self.frame)
        self.frame.clear()
        self.peer.record(self.direction, data)
        rule = self.peer.take(self.direction, len(data))
        if rule is None:
            self.send(telnet_data(wire))
        else:
            self.apply(rule, data)

    def apply(self, rule, data, raw=False):
        action = rule.action
        if action == "drop":
            return
        if action in ("silence", "endless"):
            self.peer.set_mode(self.direction, action)
            return
        replaced = action(data)
        if isinstance(replaced, list):  # more frames than came
            replaced = b"".join(encode(f) for f in replaced)
        elif not raw:
            replaced = encode(replaced)
        self.send(telnet_data(replaced))

    def modem_state(self, sub):
        # NOTIFY-MODEMSTATE of the COM-PORT-OPTION: the carrier is bit 7. The session
        # link is framed only while it stands; a hostile mode lasts for one connection.
        if self.direction == "in" and len(sub) >= 5 and sub[2] == 44 and sub[3] == 107:
            carrier = bool(sub[4] & 0x80)
            if self.link["carrier"] and not carrier:
                self.peer.set_mode("out", None)
                self.peer.set_mode("in", None)
            self.link["carrier"] = carrier

    def run(self):
        while not self.peer.stopping:
            try:
                ready, _, _ = select.select([self.source], [], [], 0.05)
            except (OSError, ValueError):
                break
            if not ready:
                continue
            try:
                chunk = self.source.recv(4096)
            except OSError:
                break
            if not chunk:
                break
            for c in chunk:
                self.byte(c)
        self.peer.closed(self)

    def byte(self, c):
        # Telnet: commands pass at once (after the data before them), data goes by frame.
        if self.state == "data":
            if c == IAC:
                self.state = "iac"
            else:
                self.data_byte(c)
        elif self.state == "iac":
            if c == IAC:
                self.state = "data"
                self.data_byte(IAC)
            elif c == SB:
                self.state = "sub"
                self.telnet = bytearray((IAC, SB))
            elif c in (251, 252, 253, 254):
                self.state = "option"
                self.telnet = bytearray((IAC, c))
            else:
                self.state = "data"
                self.flush_frame()
                self.send(bytes((IAC, c)))
        elif self.state == "option":
            self.telnet.append(c)
            self.state = "data"
            self.flush_frame()
            self.send(bytes(self.telnet))
        elif self.state == "sub":
            self.telnet.append(c)
            if c == IAC:
                self.state = "subiac"
        elif self.state == "subiac":
            self.telnet.append(c)
            if c == SE:
                self.state = "data"
                self.flush_frame()
                self.send(bytes(self.telnet))
                self.modem_state(self.telnet)
            else:
                self.state = "sub"


class HostilePeer:
    """Listens on 127.0.0.1 (self.port) and joins each connection to the simulator's
    port `upstream`."""

    def __init__(self, upstream):
        self.upstream = upstream
        self.lock = threading.Lock()
        self.rules = []
        self.modes = {"out": None, "in": None}
        self.frames = {"out": [], "in": []}
        self.stopping = False
        self.connections = []
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()
        self.junk = threading.Thread(target=self._endless, daemon=True)
        self.junk.start()

    # ---- rules -----------------------------------------------------------------------

    def arm(self, direction, length, action, times=1):
        rule = Rule(direction, length, action, times)
        with self.lock:
            self.rules.append(rule)
        return rule

    def clear(self):
        """Every rule off, and both directions pass again."""
        with self.lock:
            self.rules = []
            self.modes = {"out": None, "in": None}

    def take(self, direction, length):
        with self.lock:
            for rule in self.rules:
                if rule.direction == direction and rule.length == length:
                    rule.hits += 1
                    if rule.hits >= rule.times:
                        self.rules.remove(rule)
                    return rule
        return None

    def mode(self, direction):
        with self.lock:
            return self.modes[direction]

    def set_mode(self, direction, mode):
        with self.lock:
            self.modes[direction] = mode

    def record(self, direction, data):
        with self.lock:
            self.frames[direction].append(data)

    def seen(self, direction, length):
        """How many frames of that length went in the direction (before any rule)."""
        with self.lock:
            return sum(1 for f in self.frames[direction] if len(f) == length)

    # ---- connections -----------------------------------------------------------------

    def _accept(self):
        while not self.stopping:
            try:
                ready, _, _ = select.select([self.server], [], [], 0.1)
                if not ready:
                    continue
                client, _ = self.server.accept()
            except OSError:
                return
            try:
                sim = socket.create_connection(("127.0.0.1", self.upstream))
            except OSError:
                client.close()
                continue
            for s in (client, sim):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            to_sim, to_client = threading.Lock(), threading.Lock()
            link = {"carrier": False}
            out = Pump(self, "out", client, sim, to_sim, link)
            inn = Pump(self, "in", sim, client, to_client, link)
            with self.lock:
                self.connections.append((client, sim, out, inn))
            for pump in (out, inn):
                threading.Thread(target=pump.run, daemon=True).start()

    def closed(self, pump):
        with self.lock:
            for conn in self.connections:
                if pump in conn[2:]:
                    for s in conn[:2]:
                        try:
                            s.shutdown(socket.SHUT_RDWR)
                        except OSError:
                            pass
                        s.close()
                    self.connections.remove(conn)
                    return

    def _endless(self):
        # A block that never ends: characters without a CR, a few at a time, as long as
        # a direction is in that mode; never blocks the pump's Telnet commands.
        while not self.stopping:
            time.sleep(0.02)
            with self.lock:
                targets = [(conn[2] if d == "out" else conn[3]) for d, m in self.modes.items()
                           if m == "endless" for conn in self.connections]
            for pump in targets:
                with pump.sink_lock:
                    try:
                        pump.sink.send(b"Z" * 16, socket.MSG_DONTWAIT)
                    except OSError:
                        pass

    def stop(self):
        self.stopping = True
        self.server.close()
        with self.lock:
            conns = list(self.connections)
        for conn in conns:
            for s in conn[:2]:
                try:
                    s.close()
                except OSError:
                    pass
