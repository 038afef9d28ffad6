#!/usr/bin/python3
"""The python peers of the round-trip benchmark: the a2d(0) exchange written as a user would, with
the python3-serial package or (with the argument "package") through the board object's Python
package ostrelzelto. Prints the nanoseconds per call, the last answer and the process CPU
nanoseconds per call."""

import sys
import time


def with_serial(device):
    import serial

    # A device path, or a port on the network (rfc2217://HOST:PORT).
    port = serial.serial_for_url(device, 57600, rtscts=True, timeout=0.25)
    port.reset_input_buffer()

    def a2d():
        port.write(b"\x30")
        reply = port.read(2)
        if len(reply) != 2:
            raise SystemExit("no answer from the board")
        return reply[0] * 256 + reply[1]

    return port, a2d


def with_package(device):
    import ostrelzelto

    board = ostrelzelto.Board(device)

    def a2d():
        return board.a2d(0)

    return board, a2d


def main():
    device, count = sys.argv[1], int(sys.argv[2])
    link, call = (with_package if sys.argv[3:] == ["package"] else with_serial)(device)
    with link:
        for _ in range(200):  # warm-up
            call()
        start = time.perf_counter_ns()
        cpu = time.process_time_ns()
        for _ in range(count):
            value = call()
        cpu = time.process_time_ns() - cpu
        elapsed = time.perf_counter_ns() - start
        if getattr(link, "errflag", False):
            raise SystemExit("a reply was lost")
    print(f"{elapsed / count:.1f} {value} {cpu / count:.1f}")


if __name__ == "__main__":
    main()
