' A scripting user's calls on a board object whose port is closed: values and their types, coercion
' of arguments, by-reference variables and the error numbers seen in Err.Number. The members' own
' closed-port errors are the late-bound client's (client_test.cpp).
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
board.CommPort = "abc"
ExpectErr "CommPort = ""abc""", 13
Expect "CommPort unchanged", board.CommPort, 2

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

' A board member needs the open port: one error number as Err.Number.
x = board.a2d(0)
ExpectErr "a2d(0)", 68

' a2dconf with variables, passed by reference: a failing call leaves them alone.
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
k = "abc"
board.a2dconf k, c, s
ExpectErr "a2dconf with ""abc""", 13
Expect "k keeps its value", k, "abc"

' The interface itself.
board.nosuch 1
ExpectErr "unknown member", 438
board.high
ExpectErr "high without its argument", 450

WScript.Echo "END " & failed & " failed"
WScript.Quit failed
