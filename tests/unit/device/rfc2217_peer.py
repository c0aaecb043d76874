#!/usr/bin/python3
"""A serial device server for the tests of Rfc2217Port: pyserial's RFC 2217
server (serial.rfc2217.PortManager) in front of a fake serial port.

It listens on 127.0.0.1 (a free port) and serves one client connection at a
time. Everything it sees is reported as one JSON object per line on stdout:

  {"event": "listening", "port": N}
  {"event": "connected"} / {"event": "disconnected"}
  {"event": "baudrate", "value": 115200}   (likewise bytesize, parity, stopbits,
                                            rtscts, xonxoff, dtr, rts)
  {"event": "purge", "which": "input"|"output"}
  {"event": "subnegotiation", "hex": "2c0b f0"}   every COM-PORT-OPTION received
  {"event": "data", "hex": "..."}          data bytes received from the client
  {"event": "done", "cmd": ...}            a command from stdin has been carried out

Commands come as JSON lines on stdin:

  {"cmd": "lines", "cts": 1, "dsr": 1, "ri": 0, "cd": 0}  the fake port's inputs
  {"cmd": "send", "hex": "..."}            the fake port receives these bytes
  {"cmd": "close"}                         the server drops the connection
  {"cmd": "quit"}
"""

import json
import queue
import socket
import sys
import threading

import serial.rfc2217

_print_lock = threading.Lock()


def report(**event):
    with _print_lock:
        sys.stdout.write(json.dumps(event) + "\n")
        sys.stdout.flush()


class FakePort:
    """The serial port behind the server: settings are reported when set, the
    modem-status inputs are set by the test."""

    _reported = ("baudrate", "bytesize", "parity", "stopbits", "rtscts", "xonxoff",
                 "dtr", "rts", "break_condition")

    def __init__(self):
        object.__setattr__(self, "_values", {
            "baudrate": 9600, "bytesize": 8, "parity": "N", "stopbits": 1,
            "rtscts": False, "xonxoff": False, "dtr": False, "rts": False,
            "break_condition": False})
        self.cts = False
        self.dsr = False
        self.ri = False
        self.cd = False

    def __getattr__(self, name):
        values = object.__getattribute__(self, "_values")
        if name in values:
            return values[name]
        raise AttributeError(name)

    def __setattr__(self, name, value):
        if name in FakePort._reported:
            self._values[name] = value
            report(event=name, value=value)
        else:
            object.__setattr__(self, name, value)

    def reset_input_buffer(self):
        report(event="purge", which="input")

    def reset_output_buffer(self):
        report(event="purge", which="output")


class Connection:
    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            try:
                self.sock.sendall(data)
            except OSError:
                pass


class ReportingManager(serial.rfc2217.PortManager):
    def _telnet_process_subnegotiation(self, suboption):
        report(event="subnegotiation", hex=suboption.hex())
        super()._telnet_process_subnegotiation(suboption)


class Session:
    def __init__(self, sock, lines):
        report(event="connected")
        self.sock = sock
        self.connection = Connection(sock)
        self.port = FakePort()
        for name, value in lines.items():
            setattr(self.port, name, value)
        self.manager = ReportingManager(self.port, self.connection)
        self.reader = threading.Thread(target=self.read_loop, daemon=True)
        self.reader.start()

    def read_loop(self):
        while True:
            try:
                chunk = self.sock.recv(4096)
            except OSError:
                break
            if not chunk:
                break
            data = b"".join(self.manager.filter(chunk))
            if data:
                report(event="data", hex=data.hex())
        report(event="disconnected")

    def send(self, data):
        self.connection.write(b"".join(self.manager.escape(data)))

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(0.02)
    report(event="listening", port=listener.getsockname()[1])

    commands = queue.Queue()

    def read_stdin():
        for line in sys.stdin:
            line = line.strip()
            if line:
                commands.put(json.loads(line))
        commands.put({"cmd": "quit"})

    threading.Thread(target=read_stdin, daemon=True).start()

    session = None
    lines = {"cts": False, "dsr": False, "ri": False, "cd": False}
    while True:
        try:
            sock, _ = listener.accept()
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if session is not None:
                session.close()
            session = Session(sock, lines)
        except socket.timeout:
            pass
        try:
            while True:
                command = commands.get_nowait()
                name = command["cmd"]
                if name == "quit":
                    if session is not None:
                        session.close()
                    return
                if name == "lines":
                    for key in lines:
                        lines[key] = bool(command.get(key, 0))
                        if session is not None:
                            setattr(session.port, key, lines[key])
                elif session is None:
                    pass
                elif name == "send":
                    session.send(bytes.fromhex(command["hex"]))
                elif name == "close":
                    session.close()
                    session = None
                if session is not None:
                    session.manager.check_modem_lines()
                report(event="done", cmd=name)
        except queue.Empty:
            pass
        if session is not None:
            session.manager.check_modem_lines()


if __name__ == "__main__":
    main()
