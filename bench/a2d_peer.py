#!/usr/bin/python3
"""The peer of the round-trip benchmark: the a2d(0) exchange written as a user would with the
python3-serial package. Prints the nanoseconds per call, the last answer and the process CPU
nanoseconds per call."""

import sys
import time

import serial


def main():
    device, count = sys.argv[1], int(sys.argv[2])
    with serial.Serial(device, 57600, rtscts=True, timeout=0.25) as port:
        port.reset_input_buffer()

        def a2d():
            port.write(b"\x30")
            reply = port.read(2)
            if len(reply) != 2:
                raise SystemExit("no answer from the board")
            return reply[0] * 256 + reply[1]

        for _ in range(200):  # warm-up
            a2d()
        start = time.perf_counter_ns()
        cpu = time.process_time_ns()
        for _ in range(count):
            value = a2d()
        cpu = time.process_time_ns() - cpu
        elapsed = time.perf_counter_ns() - start
    print(f"{elapsed / count:.1f} {value} {cpu / count:.1f}")


if __name__ == "__main__":
    main()
