' A scripting user's calls on a board object whose port is closed: the error numbers seen in
' Err.Number and by-reference variables left alone by a failing call. The coercion of arguments and
' the values kept while closed are com_object_test.cpp's; the members' own closed-port errors are
' the late-bound client's (client_test.cpp).
Dim board, x, j, c, s, k

Set board = CreateObject("OstrelZeltoDLL.ZeltoDLL")
ExpectErr "CreateObject", 0
Expect "TypeName", TypeName(board), "_ZeltoDLL"

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
board.high 1, 2
ExpectErr "high with an argument too many", 450
