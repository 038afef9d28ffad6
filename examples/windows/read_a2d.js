// Reads analog input 0 of the board through OstrelZeltoDLL (run register.cmd first).
//   cscript //nologo read_a2d.js [PORT]        PORT: the COM port number, 1 by default
// A failing call throws; its number is the low word of e.number. The last line is "END" and the
// exit status (0 when all went well).
var port = WScript.Arguments.length > 0 ? parseInt(WScript.Arguments(0), 10) : 1;

function finish(status) {
    WScript.Echo("END " + status);
    WScript.Quit(status);
}

function step(what, call) {
    try {
        return call();
    } catch (e) {
        WScript.Echo(what + " failed: error " + (e.number & 0xFFFF) + ": " + e.description);
        finish(1);
    }
}

var board = step("creating OstrelZeltoDLL.ZeltoDLL (is it registered?)", function () {
    return new ActiveXObject("OstrelZeltoDLL.ZeltoDLL");
});
step("CommPort = " + port, function () { board.CommPort = port; });
step("opening COM" + port, function () { board.portopen = true; });
if (!step("ok", function () { return board.ok(); })) {
    WScript.Echo("no board answers on COM" + port);
    finish(1);
}
var value = step("a2d(0)", function () { return board.a2d(0); });
WScript.Echo("a2d(0) = " + value);
step("closing COM" + port, function () { board.portopen = false; });
finish(0);
