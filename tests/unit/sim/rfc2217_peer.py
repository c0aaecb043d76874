"""pyserial's RFC 2217 client against the simulator's port server.

The test serves a device that echoes every byte and drives CTS, DSR and CD on; it
switches RI on once this peer has dropped and raised DTR. Exit status 0 when every
check holds, 1 with the reason otherwise.
"""
import sys
import time

import serial


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    port = serial.serial_for_url(sys.argv[1], baudrate=19200, timeout=3)
    time.sleep(0.3)
    if not port.cts:
        fail("CTS is off")
    if not port.dsr:
        fail("DSR is off")
    if not port.cd:
        fail("CD is off")
    if port.ri:
        fail("RI is on before the device rang")
    port.dtr = False
    time.sleep(0.2)
    port.dtr = True
    deadline = time.time() + 5
    while not port.ri:
        if time.time() > deadline:
            fail("RI never came on")
        time.sleep(0.05)
    data = bytes(range(256))
    port.write(data)
    received = b""
    deadline = time.time() + 5
    while len(received) < len(data) and time.time() < deadline:
        received += port.read(len(data) - len(received))
    if received != data:
        fail("the echo differs: %r" % received[:64])
    port.close()
    print("ok")


if __name__ == "__main__":
    main()
