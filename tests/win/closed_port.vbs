' A scripting user's calls on a board object whose port is closed: values, coercion of arguments,
' by-reference variables and the error numbers seen in Err.Number.
Option Explicit
On Error Resume Next

Dim failed, board, x, j, c, s, k
failed = 0

Sub Expect(what, got, wanted)
    If got = wanted Then
        WScript.Echo "ok   " & what & ": " & got
    Else
        WScript.Echo "FAIL " & what & ": got " & got & ", wanted " & wanted
        failed = failed + 1
    End If
End Sub

' Checks the error left by the call just made, then clears it.
Sub ExpectErr(what, wanted)
    Expect what & " -> Err.Number", Err.Number, wanted
    Err.Clear
End Sub

Set board = CreateObject("OstrelZeltoDLL.ZeltoDLL")
ExpectErr "CreateObject", 0
Expect "TypeName", TypeName(board), "_ZeltoDLL"

x = board.CommPort
ExpectErr "CommPort", 0
Expect "CommPort starts at", x, 1

' Typed arguments, coerced the automation way.
board.CommPort = 2.5
ExpectErr "CommPort = 2.5", 0
Expect "2.5 rounds to", board.CommPort, 2
board.CommPort = 3.5
ExpectErr "CommPort = 3.5", 0
Expect "3.5 rounds to", board.CommPort, 4
board.CommPort = "12"
ExpectErr "CommPort = ""12""", 0
Expect "numeric string", board.CommPort, 12
board.CommPort = "abc"
ExpectErr "CommPort = ""abc""", 13
board.CommPort = Null
ExpectErr "CommPort = Null", 13
board.CommPort = 0
ExpectErr "CommPort = 0", 8107
Expect "CommPort unchanged", board.CommPort, 12

' The flags and the cached registers.
board.ready = True
ExpectErr "ready = True", 387
board.ready = False
ExpectErr "ready = False", 387
x = board.ready
ExpectErr "ready with the port closed", 8104
Expect "errflag starts", board.errflag, False
board.errflag = True
ExpectErr "errflag = True", 0
Expect "errflag", board.errflag, True
board.errflag = False
x = board.tris
ExpectErr "tris", 0
Expect "tris starts Empty", TypeName(x), "Empty"
board.tris = "15"
ExpectErr "tris = ""15""", 0
Expect "tris keeps the string", TypeName(board.tris), "String"
Expect "tris value", board.tris, "15"
board.pins = 165
ExpectErr "pins = 165", 0
Expect "pins", board.pins, 165
Expect "portopen", board.portopen, False

' Board members need the open port.
x = board.led
ExpectErr "reading led", 393
board.led = True
ExpectErr "led = True", 68
board.high 1
ExpectErr "high 1", 68
x = board.ok
ExpectErr "ok", 68
x = board.a2d(0)
ExpectErr "a2d(0)", 68
board.pwm 1, 200, 1000
ExpectErr "pwm", 68
x = board.counter
ExpectErr "counter", 68
board.counter = 5
ExpectErr "counter = 5", 387
board.eeprom(5) = 7
ExpectErr "eeprom(5) = 7", 68
x = board.eeprom(5)
ExpectErr "eeprom(5) hands its operand to the closed port", 8104
board.resetall
ExpectErr "resetall", 68
x = board.readbyte
ExpectErr "readbyte", 0
Expect "readbyte of nothing", x, 0
Expect "errflag after it", board.errflag, True

' a2dconf with variables (passed by reference) and with literals.
j = 1
c = False
s = 3
board.a2dconf j, c, s
ExpectErr "a2dconf j, c, s", 68
Expect "j keeps its value", j, 1
Expect "j keeps its type", TypeName(j), "Integer"
Expect "c keeps its type", TypeName(c), "Boolean"
Expect "s keeps its value", s, 3
Expect "s keeps its type", TypeName(s), "Integer"
board.a2dconf True, False, 0
ExpectErr "a2dconf True, False, 0", 68
k = "abc"
board.a2dconf k, c, s
ExpectErr "a2dconf with ""abc""", 13
Expect "k keeps its value", k, "abc"

' The interface itself.
board.nosuch 1
ExpectErr "unknown member", 438
board.high
ExpectErr "high without its argument", 450
board.CommPort = 200
board.portopen = True
ExpectErr "portopen on COM200", 8101
Expect "still closed", board.portopen, False
Err.Clear

WScript.Echo "END " & failed & " failed"
WScript.Quit failed
