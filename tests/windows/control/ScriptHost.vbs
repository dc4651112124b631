' The control as a script host meets it: created by its ProgID, fields read and written, a
' command given variables (passed by reference, as VBScript passes them), and the run-time error
' of a unit that is no number seen in Err. Ends with exit status 1 when anything differs.
Option Explicit
Dim control, house, unit, failures
failures = 0

Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAILED: " & what
        failures = failures + 1
    End If
End Sub

Set control = CreateObject("Zelvo.quenvar")

control.countmacro = 7
Check control.countmacro = 7, "countmacro reads back what was written"
control.strtotal = "text"
Check control.strtotal = "text", "strtotal reads back what was written"
control.sendstatus = 5
Check control.sendstatus = True, "a nonzero sendstatus reads back as True"
Check control.colstring.Count = 0, "a new control's send queue is empty"

control.openx10 1
house = "A"
unit = "01"
control.x10on house, unit
' The address transmission went out: the control awaits its checksum echo, 0x04 + 0x66.
Check control.comstatus = 1, "x10on sent its first transmission (comstatus " & control.comstatus & ")"
Check control.checksum = Chr(&H6A), "the checksum field holds the echo awaited"
Check control.colstring.Count = 2, "the function transmission waits in the send queue"
Check house = "A" And unit = "01", "the arguments are left as they were"

On Error Resume Next
unit = "x"
control.x10on house, unit
Check Err.Number = 13, "a unit that is no number raises error 13 (got " & Err.Number & ": " & Err.Description & ")"
Check Err.Source = "quenvar", "the error's source is quenvar (got " & Err.Source & ")"
Err.Clear
control.powerfailreply = 1
control.powerfailreply = 2
Check Err.Number = 380, "a power-fail reply that is no setting raises error 380 (got " & Err.Number & ")"
Check control.powerfailreply = 1, "the power-fail reply keeps its setting"
On Error GoTo 0

control.closex10
Set control = Nothing
If failures > 0 Then WScript.Quit 1
WScript.Echo "ScriptHost.vbs: all checks passed"
