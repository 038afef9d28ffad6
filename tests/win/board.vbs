' A scripting user's session with the board on COM1 (served by the simulator): open, a reading
' member, by-reference variables, errors, and closing.
Option Explicit
On Error Resume Next

Dim failed, board, x, j, c, s
failed = 0

Sub Expect(what, got, wanted)
    If got = wanted Then
        WScript.Echo "ok   " & what & ": " & got
    Else
        WScript.Echo "FAIL " & what & ": got " & got & ", wanted " & wanted
        failed = failed + 1
    End If
End Sub

Sub ExpectErr(what, wanted)
    Expect what & " -> Err.Number", Err.Number, wanted
    Err.Clear
End Sub

Set board = CreateObject("OstrelZeltoDLL.ZeltoDLL")
ExpectErr "CreateObject", 0
board.CommPort = 1
board.portopen = True
ExpectErr "portopen = True", 0
Expect "portopen", board.portopen, True
Expect "ready", board.ready, True
Expect "ok", board.ok, True
ExpectErr "ok", 0
' One argument too many: refused before anything is sent, so pin 1 stays low.
board.high 1, 2
ExpectErr "high 1, 2", 450
Expect "the board's port after high 1, 2", board.pins, 0

x = board.a2d(0)
ExpectErr "a2d(0)", 0
Expect "a2d(0)", x, 700
board.eeprom(5) = 256
ExpectErr "eeprom(5) = 256", 5

j = 0
c = 1
s = 5
board.a2dconf j, c, s
ExpectErr "a2dconf j, c, s", 0
Expect "c keeps its value", c, 1
Expect "c keeps its type", TypeName(c), "Integer"
board.a2dconf True, True, 3
ExpectErr "a2dconf True, True, 3", 0
s = 128
board.a2dconf j, c, s
ExpectErr "a2dconf cselect 128", 6

board.resetall
ExpectErr "resetall", 0
board.portopen = False
ExpectErr "portopen = False", 0
board.high 1
ExpectErr "high after closing", 68

WScript.Echo "END " & failed & " failed"
WScript.Quit failed
