#!/usr/bin/env bash
# The Windows setup program in a fresh Wine prefix, as a user runs it:
#   setup_test.sh SETUP.exe SETUP-x64.exe ZELTO_SIM WORK
# setup.exe /S into another folder and then over it into Program Files (the first installation
# must go); the files, the Start-menu entry and each width's server keys; the samples create the
# object by its ProgID in the script host of each width and read a simulated board on COM1; the
# uninstaller /S, started as the uninstall entry says; then no file of the product and no key of the
# server, its type library or the uninstall entry. Then once more, with the uninstaller run in place
# for its exit status. Where this machine runs no 32-bit programs, the
# 32-bit setup program is checked instead of run and SETUP-x64.exe (the same script built as a
# 64-bit program) runs in its place; each one then ends with status 8, as the 32-bit server could
# not be registered, and the 32-bit script host is not tried.
set -uo pipefail
setup=$1 setup64=$2 sim=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/lib/wine.sh"
. "$here/../../tools/lib/sim.sh"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OstrelZelto'
dir='C:\Program Files\OstrelZelto'
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
zelto_wine_env "$work"
# Wine would also turn the Start-menu entry into a menu entry of this machine's desktop.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
zelto_ensure_prefix || fail "no Wine prefix"
drive_c="$WINEPREFIX/drive_c"
trap 'zelto_sim_stop; zelto_server_stop' EXIT
zelto_server_start

zelto_check_pe 32 "$setup" || fail "the setup program is not a 32-bit Windows program"
widths=(64)
if zelto_runs_32bit; then
    widths+=(32)
    run=$setup expected=0
else
    echo "$ZELTO_32BIT_NOT_RUN"
    echo "32-bit: $(basename "$setup64") runs in place of $(basename "$setup")"
    zelto_check_pe 64 "$setup64" || fail "the stand-in is not a 64-bit Windows program"
    run=$setup64 expected=8
fi
reg_value() { # key value: the data of a registry value, as the 64-bit view holds it
    "$ZELTO_WINE64" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
install() { # arguments of the setup program; it must end with the expected status
    "$ZELTO_WINE64" "$(zelto_win_path "$run")" "$@" </dev/null >/dev/null 2>&1
    local status=$?
    echo "setup $* (status $status)"
    [ "$status" -eq "$expected" ] || fail "setup $* ended with status $status, not $expected"
}

# First into another folder, then into Program Files over it.
install /S '/D=C:\Earlier\OstrelZelto'
test -f "$drive_c/Earlier/OstrelZelto/x64/OstrelZeltoDLL.dll" || fail "nothing in C:\\Earlier"
install /S
[ ! -e "$drive_c/Earlier/OstrelZelto" ] || fail "the earlier installation is still in C:\\Earlier"
top="$drive_c/Program Files/OstrelZelto"
for file in x64/OstrelZeltoDLL.dll x86/OstrelZeltoDLL.dll Warmscope.exe MEMBERS.txt uninstall.exe \
    samples/read_a2d.vbs samples/read_a2d.js samples/read_a2d.cpp docs/packages.md; do
    test -s "$top/$file" || fail "no $file in $dir"
done
zelto_check_pe 64 "$top/x64/OstrelZeltoDLL.dll" "$top/Warmscope.exe" || exit 1
zelto_check_pe 32 "$top/x86/OstrelZeltoDLL.dll" || exit 1
test -s "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/OstrelZelto/Warmscope.lnk" ||
    fail "no Start-menu entry for Warmscope"
"$ZELTO_WINE64" reg query "$uninstall_key" | tr -d '\r'
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$dir" ] || fail "the uninstall entry is elsewhere"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$(basename "$setup" | cut -d- -f2)" ] ||
    fail "the uninstall entry has another version"
for bits in "${widths[@]}"; do
    [ "$bits" = 64 ] && folder=x64 || folder=x86
    zelto_server_keys "$bits" | grep -i -A2 InprocServer32 | tee "$work/keys$bits.txt"
    grep -qiF "$dir\\$folder\\OstrelZeltoDLL.dll" "$work/keys$bits.txt" ||
        fail "the $bits-bit class does not name $folder\\OstrelZeltoDLL.dll"
done

# The samples create the object by its ProgID; the board answers 777 on analog input 0.
zelto_sim_start "$sim" "$ZELTO_PORTS_DIR/com1" "$work/sim.log" --analog 0=777 ||
    fail "no simulated board on COM1"
for bits in "${widths[@]}"; do
    for sample in read_a2d.vbs read_a2d.js; do
        said=$("$(zelto_wine_for "$bits")" cscript //nologo "$dir\\samples\\$sample" 1 2>&1 | tr -d '\r')
        echo "$bits-bit cscript $sample: $said"
        [ "$(printf '%s\n' "$said" | tail -2 | paste -sd '|')" = 'a2d(0) = 777|END 0' ] ||
            fail "$sample in the $bits-bit script host"
    done
done
[ "${#widths[@]}" -eq 2 ] || echo "32-bit: the 32-bit script host is not tried on this machine"

# What the uninstall entry names, run as cmd runs a line of a batch file.
run_entry() { # extra arguments; the status of the line
    local line
    line="$(reg_value "$uninstall_key" QuietUninstallString)${1:+ $1}"
    printf '%s\r\nexit /b %%errorlevel%%\r\n' "$line" >"$work/uninstall.cmd"
    "$ZELTO_WINE64" cmd /c "$(zelto_win_path "$work/uninstall.cmd")" </dev/null >/dev/null 2>&1
    local status=$?
    echo "$line (status $status)"
    return "$status"
}
nothing_left() {
    local left bits
    left=$(find "$drive_c" -iname '*ostrelzelto*' -o -iname 'warmscope*')
    [ -z "$left" ] || fail "files are left: $left"
    for bits in "${widths[@]}"; do
        [ -z "$(zelto_server_keys "$bits")" ] || fail "the $bits-bit view keeps keys: $(zelto_server_keys "$bits")"
    done
    ! "$ZELTO_WINE64" reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall entry is left"
}
gone() { [ ! -e "$top" ] && ! "$ZELTO_WINE64" reg query "$uninstall_key" >/dev/null 2>&1; }

# As Add/Remove Programs starts it: the uninstaller copies itself away, returns at once, and the
# copy removes the installation.
run_entry || fail "the uninstaller did not start"
wait_until 60 gone || fail "the uninstaller did not finish within 60 s"
nothing_left

# Run in place (_?=, unquoted and last), the uninstaller waits and ends with its status; it leaves
# its own file, which is then the caller's to delete.
install /S
run_entry "_?=$(reg_value "$uninstall_key" InstallLocation)"
status=$?
[ "$status" -eq "$expected" ] || fail "the uninstaller ended with status $status, not $expected"
ls -A "$top"
[ "$(ls -A "$top")" = uninstall.exe ] || fail "more than the uninstaller is left in $dir"
rm "$top/uninstall.exe" && rmdir "$top"
nothing_left

# The whole registry, as the server writes it to its files when it ends.
zelto_sim_stop
zelto_server_stop
if grep -iF -e "${ZELTO_CLSID:1:36}" -e "${ZELTO_IID:1:36}" -e "${ZELTO_LIBID:1:36}" -e OstrelZelto -e Warmscope \
    "$WINEPREFIX"/*.reg; then
    fail "the registry keeps the lines above"
fi
echo "nothing of the product is left: no file, no key of the server, type library or uninstall entry"
