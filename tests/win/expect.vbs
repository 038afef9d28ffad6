' What run_vbs.sh puts before every test script: the checks, which count failures in "failed".
Option Explicit
On Error Resume Next

Dim failed
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
