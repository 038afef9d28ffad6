' Reads analog input 0 of the board through OstrelZeltoDLL (run register.cmd first).
'   cscript //nologo read_a2d.vbs [PORT]       PORT: the COM port number, 1 by default
' Every call is followed by a look at Err.Number, so that a failure is reported with its number and
' text; the last line is "END" and the exit status (0 when all went well).
Option Explicit
On Error Resume Next

Dim port, board, answered, value
port = 1
If WScript.Arguments.Count > 0 Then port = CInt(WScript.Arguments(0))

Set board = CreateObject("OstrelZeltoDLL.ZeltoDLL")
If Failed("creating OstrelZeltoDLL.ZeltoDLL (is it registered?)") Then Finish 1
board.CommPort = port
If Failed("CommPort = " & port) Then Finish 1
board.portopen = True
If Failed("opening COM" & port) Then Finish 1
' A failing call inside an If condition would run the Then branch: call first, then test.
answered = board.ok
If Failed("ok") Then Finish 1
If Not answered Then
    WScript.Echo "no board answers on COM" & port
    Finish 1
End If
value = board.a2d(0)
If Failed("a2d(0)") Then Finish 1
WScript.Echo "a2d(0) = " & value
board.portopen = False
If Failed("closing COM" & port) Then Finish 1
Finish 0

Function Failed(what)
    Failed = (Err.Number <> 0)
    If Failed Then WScript.Echo what & " failed: error " & Err.Number & ": " & Err.Description
    Err.Clear
End Function

Sub Finish(status)
    WScript.Echo "END " & status
    WScript.Quit status
End Sub
