"""The Python package against the simulated board. Usage: board_test.py WIRE_ROWS ZELTO_SIM
[unittest arguments]; the package and its library come from PYTHONPATH and OSTRELZELTO_LIBRARY."""
import json
import subprocess
import sys
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
            self.proc.stdin.write(line + "\n")
            self.proc.stdin.flush()
            while self.proc.stdout.readline().strip() != "# " + line:
                pass

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

    def test_members_are_the_board_objects(self):
        self.assertIn("a2d(pin: Long) -> Long", ostrelzelto.members())
        self.assertIn("eeprom[](add: Long) -> Long", ostrelzelto.members())
        self.assertTrue(all(p.device.startswith("/dev/") for p in ostrelzelto.list_ports()))


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
