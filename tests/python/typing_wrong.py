"""Calls that the typing stub must make mypy refuse, each marked with the error it gives; the
unmarked lines must pass (tests/python/wheel_test.py)."""
import ostrelzelto

board = ostrelzelto.Board("/dev/ttyUSB0", open=False)
board.portopen = True
reading: int = board.a2d(0)
board.eeprom[300] = reading
board.a2d("zero")  # refused: arg-type
board.a2d()  # refused: call-arg
board.a2d(pin=0)  # refused: call-arg
board.tris = 15
board.pins = "all"  # refused: assignment
board.trs = 15  # refused: attr-defined
board.eeprom["high"]  # refused: index
text: str = board.count(0, 100)  # refused: assignment
board.setcounter(1, True)
ostrelzelto.Board(1.5)  # refused: arg-type
ostrelzelto.Board.simulated().close()
