' A scripting user's session with the board on COM1 (served by the simulator): open, a reading
' member, by-reference variables and closing. The error numbers a script sees are closed_port.vbs's;
' every member's bytes and results by dispatch identifier are the end-to-end wire rows'
' (tests/support/board_against_sim_cases.cpp).
Dim board, x, j, c, s

Set board = CreateObject("OstrelZeltoDLL.ZeltoDLL")
ExpectErr "CreateObject", 0
board.CommPort = 1
board.portopen = True
ExpectErr "portopen = True", 0
Expect "portopen", board.portopen, True
Expect "ready", board.ready, True
Expect "ok", board.ok, True
ExpectErr "ok", 0

x = board.a2d(0)
ExpectErr "a2d(0)", 0
Expect "a2d(0)", x, 700

j = 0
c = 1
s = 5
board.a2dconf j, c, s
ExpectErr "a2dconf j, c, s", 0
Expect "c keeps its value", c, 1
Expect "c keeps its type", TypeName(c), "Integer"

board.portopen = False
ExpectErr "portopen = False", 0
Expect "portopen after closing", board.portopen, False
