"""The Python package against the simulated board. Usage: board_test.py WIRE_ROWS ZELTO_SIM
[unittest arguments]; the package and its library come from PYTHONPATH and OSTRELZELTO_LIBRARY."""
import json
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

import ostrelzelto
from ostrelzelto import Board, Null, ZeltoError

WIRE_ROWS, SIM = sys.argv[1], sys.argv[2]
DECODE = {"Empty": lambda: None, "Null": lambda: Null, "Boolean": bool, "Long": int,
          "Double": float, "String": str}


def value(typed):
    return DECODE[typed[0]](*typed[1:])


def outcome(call, *args):
    """What a call returns, and the number and text of the error it raises: (result, number, text)."""
    try:
        return call(*args), 0, ""
    except ZeltoError as e:
        return None, e.number, e.text


def run(board, row):
    """A row's call written as a user writes it, through the members made from the member list."""
    name, args = row["member"], [value(a) for a in row["args"]]
    if row["kind"] == "method":
        return getattr(board, name)(*args)
    if row["kind"] == "get":
        return getattr(board, name)[tuple(args)] if args else getattr(board, name)
    if len(args) > 1:
        getattr(board, name)[tuple(args[:-1])] = args[-1]
    else:
        setattr(board, name, args[0])
    return None


class Simulator:
    def __init__(self, *lines):
        self.proc = subprocess.Popen([SIM], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.device = self.proc.stdout.readline().strip()
        for line in lines:
            self.control(line)

    def control(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        while self.proc.stdout.readline().strip() != "# " + line:
            pass

    def commands(self):
        """The commands the board decoded since the last look."""
        self.proc.stdin.write("state\n")
        self.proc.stdin.flush()
        lines = []
        while (line := self.proc.stdout.readline().strip()) != "# state":
            if not line.startswith("# "):
                lines.append(line)
        return lines

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.proc.terminate()
        self.proc.communicate(timeout=10)


class Wire(unittest.TestCase):
    def test_each_row_on_a_fresh_board(self):
        table = json.loads(subprocess.run([WIRE_ROWS], capture_output=True, check=True).stdout)
        for row in table["rows"]:
            with self.subTest(row=row), Simulator(*table["board"]) as sim, Board(sim.device) as board:
                got, error, _ = outcome(run, board, row)
                self.assertEqual(error, row["error"])
                if not error:
                    expected = value(row["result"])
                    self.assertEqual((type(got), got), (type(expected), expected))


class Errors(unittest.TestCase):
    def test_numbers_and_texts(self):
        self.assertEqual(outcome(Board, "/dev/zelto-no-such-device")[1], 8101)
        board = Board.simulated()
        self.assertEqual(outcome(setattr, board, "tris", "abc")[1:], (13, "Type mismatch"))
        self.assertEqual(outcome(board.a2d)[1], 450)
        with self.assertRaises(AttributeError):
            board.nosuchmember()
        with board:
            self.assertTrue(board.ok())
        self.assertFalse(board.portopen)
        self.assertEqual(outcome(board.a2d, 0)[1], 68)

    def test_bad_input_fails_with_its_number_and_writes_nothing(self):
        with Simulator() as sim:
            for what, call, number in [
                ("an empty path", lambda: Board(""), 8101),
                ("a path with a NUL", lambda: Board(sim.device + "\0x"), 8101),
                ("a port number beyond 32 bits", lambda: Board(2**32 + 1), 8107),
                ("a negative one beyond 32 bits", lambda: Board(-2**40), 8107),
            ]:
                with self.subTest(what):
                    self.assertEqual(outcome(call)[1], number)
            self.assertEqual(sim.commands(), [], "a refused board opened the device")
            with Board(sim.device) as board:
                sim.commands()
                for what, call, args, number in [
                    ("a text with a NUL", setattr, (board, "tris", "12\x0034"), 13),
                    ("a lone surrogate", board.a2d, ("\ud800",), 13),
                    ("a number beyond a double", board.a2d, (10**400,), 6),
                    ("a negative one", board.a2d, (-10**400,), 6),
                ]:
                    with self.subTest(what):
                        self.assertEqual(outcome(call, *args)[1], number)
                        self.assertEqual(sim.commands(), [], "written")

    def test_members_stay_and_unknown_attributes_are_refused(self):
        board = Board.simulated()
        for what, change in [
            ("a member replaced", lambda: setattr(board, "a2d", 5)),
            ("a misspelt property", lambda: setattr(board, "trs", 15)),
            ("membership of an indexed property", lambda: 300 in board.eeprom),
        ]:
            with self.subTest(what):
                with self.assertRaises((AttributeError, TypeError)):
                    change()
        self.assertEqual(board.a2d(0), 0)
        board.close()

    def test_members_are_the_board_objects(self):
        self.assertIn("a2d(pin: Long) -> Long", ostrelzelto.members())
        self.assertIn("eeprom[](add: Long) -> Long", ostrelzelto.members())
        self.assertTrue(all(p.device.startswith("/dev/") for p in ostrelzelto.list_ports()))


class Threads(unittest.TestCase):
    def test_every_answer_is_the_one_its_caller_asked_for(self):
        """Each thread writes its own EEPROM address and reads it back, on one board that every
        thread uses and on a board each."""
        def ask(board, address, wrong):
            for n in range(150):
                value = (address * 31 + n) % 256
                board.eeprom[address] = value
                if board.eeprom[address] != value:
                    wrong.append((address, n))

        for shared in (True, False):
            for count in (2, 8):
                with self.subTest(shared=shared, threads=count), Simulator() as sim:
                    boards = ([Board(sim.device)] if shared
                              else [Board.simulated() for _ in range(count)])
                    wrong, failures = [], []

                    def run(t):
                        try:
                            ask(boards[0 if shared else t], t, wrong)
                        except ZeltoError as e:
                            failures.append(e)

                    threads = [threading.Thread(target=run, args=(t,)) for t in range(count)]
                    for t in threads:
                        t.start()
                    for t in threads:
                        t.join()
                    self.assertEqual((wrong, failures), ([], []))
                    for board in boards:
                        board.close()


class Interrupt(unittest.TestCase):
    def test_ctrl_c_ends_a_waiting_member_and_the_board_goes_on(self):
        """Ctrl-C while count waits for a slow board: KeyboardInterrupt soon after, and the answer
        that comes late is not the next member's."""
        with Simulator() as sim, Board(sim.device) as board:
            sim.control("delay 600")
            threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
            start = time.monotonic()
            with self.assertRaises(KeyboardInterrupt):
                board.count(0, 1)
            self.assertLess(time.monotonic() - start, 0.2 + 0.2)
            sim.control("delay 0")
            time.sleep(0.6)
            sim.control("analog 1 700")
            self.assertEqual((board.ok(), board.a2d(1), board.portopen), (True, 700, True))


class Memory(unittest.TestCase):
    def test_boards_come_and_go_without_growth(self):
        def resident_kb():
            with open("/proc/self/status") as status:
                return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))

        def cycles(n):
            for _ in range(n):
                with Board.simulated() as board:
                    board.eeprom[5] = board.a2d(0) & 255

        cycles(2000)
        before = resident_kb()
        cycles(10000)
        self.assertLess(resident_kb() - before, 1024, "kB more after 10000 boards")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]])
