#!/usr/bin/env bash
# Runs what README.md tells a user to run, on the project's build trees (tools/lib/trees.sh; a tree
# that is missing is made first), and fails when one of them fails:
#   release     the native release tree installed into a fresh prefix, and the README's example
#               built against that installation and run against the simulator;
#   windows     OstrelZeltoDLL.dll (64-bit and 32-bit) and Warmscope.exe of the Windows trees,
#               each checked for its width, exports and resources;
#   bench       the benchmarks build (they are not run);
#   screenshot  tools/demo.sh --screenshot FILE, with the window connected;
#   demo        tools/demo.sh without a display: it must report a connected reading and stop
#               cleanly on Ctrl-C;
#   package     tools/package.sh; lintian on its Debian
#               packages, which must report no error or warning; the packages unpacked into a
#               fresh folder, the examples (C++ and C) built against them and run, and the unpacked
#               zelto pinging a simulated board;
#   python      the wheel, in a fresh virtual environment and without the Debian library: the
#               library it carries (and what it needs), help, the typing stub with mypy, and
#               README.md's Python session, as written, against the packaged zelto-sim started by
#               the README's line;
#   windows-zip the Windows zip unpacked into a fresh Wine prefix, register.cmd, the sample clients
#               of both widths against a simulated board on COM1, and unregister.cmd leaving no key
#               of the server. Where this machine runs no 32-bit programs, register.cmd must say
#               that the 32-bit regsvr32 cannot start, and the 32-bit files are checked instead of
#               run;
#   windows-setup the setup program in a fresh Wine prefix, as tests/win/setup_test.sh describes:
#               installed /S over an earlier installation, the samples creating the object by its
#               ProgID against a simulated board on COM1, uninstalled /S, and nothing of the
#               product left.
# Work goes to build-user-paths/. Ends with "user paths: N passed, N failed".
#   tools/user-paths.sh [path ...]
set -uo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
. tools/lib/trees.sh
. tools/lib/sim.sh
out="$root/build-user-paths"
release_tree=$(zelto_tree_dir release)
sim=$release_tree/sim/zelto-sim
mkdir -p "$out"
# Each path logs to its own file, shown only when the path fails, and leaves its verdict in
# NAME.result; the paths of a lane run one after the other, lanes side by side.
run_path() { # name, function
    local name=$1 log="$out/$1.log" start=$SECONDS report
    rm -f "$out/$name.result"
    if "$2" >"$log" 2>&1; then
        # What a path left untried on this machine is said here, not only in its log.
        report=$(grep '^32-bit: ' "$log")
        echo passed >"$out/$name.result"
        printf '%s\n' "=== user path: $name" ${report:+"$report"} "user path $name: passed in $((SECONDS - start)) s"
    else
        echo failed >"$out/$name.result"
        printf '%s\n' "=== user path: $name" "$(tail -n 40 "$log")" \
            "user path $name: FAILED in $((SECONDS - start)) s (log: $log)"
    fi
}

lane() { # path...
    local path
    for path in "$@"; do run_path "$path" "${path//-/_}"; done
}

release() {
    zelto_tree release &&
        bash tests/posix/install_example.sh cmake "$release_tree" "$root" "$sim" "$out/installed" \
            Ninja "$(command -v c++)" "$(command -v cc)"
}

windows() {
    local bits dir
    for bits in 64 32; do
        dir=$(zelto_tree_dir "win$bits")
        zelto_tree "win$bits" OstrelZeltoDLL Warmscope &&
            zelto_check_pe "$bits" "$dir/bin/OstrelZeltoDLL.dll" "$dir/bin/Warmscope.exe" || return 1
    done
}

bench() {
    tools/bench.sh --build-only
}

screenshot() {
    local shot=warmscope.png said
    rm -f "$shot"
    said=$(tools/demo.sh --screenshot "$shot") || { echo "$said"; return 1; }
    echo "$said"
    # The demonstration reads the status and the reading back from the real window.
    grep -Eq '^demo: Temp=[0-9]+\.[0-9] F, Connected; screenshot ' <<<"$said" || return 1
    identify "$shot" | grep -q ' PNG '
}

demo() {
    local log="$out/demo-live.log" pid
    local reading='^[0-9:]+  Temp=[0-9]+\.[0-9] F  Connected  .*\.png$'
    # Without a display the demonstration makes its own and saves a picture every 5 s.
    env -u DISPLAY setsid tools/demo.sh >"$log" 2>&1 &
    pid=$!
    gone() { ! kill -0 "$pid" 2>/dev/null; }
    shown() { grep -Eq "$reading" "$log" || gone; }
    wait_until 240 shown
    kill -INT -- "-$pid" 2>/dev/null
    wait_until 30 gone
    cat "$log"
    if kill -0 "$pid" 2>/dev/null; then
        echo "the demonstration did not stop on Ctrl-C"
        kill -KILL -- "-$pid"
        return 1
    fi
    grep -Eq "$reading" "$log" &&
        test -s "$(zelto_tree_dir win64)/demo/screenshots/latest.png" &&
        ! pgrep -af "^$sim" | grep -F -- "--link $(zelto_tree_dir win64)/demo/"
}

package() {
    local work="$out/package-deb" debs
    tools/package.sh || return 1
    debs=(build-packages/libostrelzelto1_*_amd64.deb build-packages/libostrelzelto-dev_*_amd64.deb
        build-packages/ostrelzelto_*_amd64.deb)
    ls -l "${debs[@]}" || return 1
    # Every error and warning fails; an override must carry a comment that explains it.
    lintian --fail-on error,warning --display-info "${debs[@]}" || return 1
    bash tests/posix/install_example.sh "$(command -v cmake)" "$release_tree" "$root" "$sim" "$work" \
        Ninja "$(command -v c++)" "$(command -v cc)" "deb:$root/build-packages" || return 1
    "$work/prefix/bin/zelto" ping sim || return 1
    # grep reads the whole listing: one that stops early kills dpkg-deb, and pipefail tells that.
    dpkg-deb -c build-packages/ostrelzelto_*_amd64.deb |
        grep '/usr/share/doc/ostrelzelto/docs/members.md$' >/dev/null ||
        { echo "the Debian package has no docs/members.md"; return 1; }
}

# In a subshell, so that its trap stops the simulator.
python() (
    local work="$out/python" tools wheel lib readme version limit
    tools=$(ls build-packages/ostrelzelto_*_amd64.deb) || return 1
    wheel=$(ls build-packages/ostrelzelto-*-py3-none-linux_x86_64.whl) || return 1
    rm -rf "$work"
    mkdir -p "$work"
    # Only zelto-sim is taken from the Debian packages: the wheel brings its own library.
    dpkg-deb -x "$tools" "$work/root" || return 1
    unzip -q "$wheel" -d "$work/wheel" || return 1
    lib="$work/wheel/ostrelzelto/libostrelzelto.so.1"
    # It needs no more than Debian 12's C and C++ runtimes: glibc 2.36, libstdc++ of g++ 12.
    objdump -p "$lib" | awk '/NEEDED/ {print $2}' | tee "$work/needed.txt"
    ! grep -vxE 'lib(c|m|stdc\+\+)\.so\.6|libgcc_s\.so\.1|ld-linux-x86-64\.so\.2' "$work/needed.txt" ||
        return 1
    for version in $(objdump -T "$lib" | grep -oE '\b(GLIBC|GLIBCXX)_[0-9.]+' | sort -u); do
        case $version in GLIBC_*) limit=GLIBC_2.36 ;; *) limit=GLIBCXX_3.4.30 ;; esac
        [ "$(printf '%s\n' "$version" "$limit" | sort -V | tail -1)" = "$limit" ] ||
            { echo "$lib needs $version, beyond $limit"; return 1; }
    done
    /usr/bin/python3 -m venv "$work/venv" || return 1
    "$work/venv/bin/pip" install --quiet --no-index "$wheel" || return 1
    # The README's lines, its link put in this folder.
    sed "s#/tmp/zelto-board#$work/board#g" README.md >"$work/README.md"
    read -ra readme < <(sed -n 's/^\(zelto-sim --link .*\) &$/\1/p' "$work/README.md")
    sed -n '/^```pycon$/,/^```$/{/^```/d;p}' "$work/README.md" >"$work/session.txt"
    sed -n 's/^>>> //p' "$work/session.txt" >"$work/session.py"
    cat "$work/session.txt"
    [ "${#readme[@]}" -gt 0 ] && [ "$(grep -c '^>>> ' "$work/session.txt")" -eq 5 ] || return 1
    # The package, its library, its help and its types, with nothing of this tree on the path.
    env -u PYTHONPATH -u LD_LIBRARY_PATH -u OSTRELZELTO_LIBRARY "$work/venv/bin/python3" \
        tests/python/wheel_test.py "$work/session.py" "$work" || return 1
    # The README's line, as written but for the program's folder.
    trap zelto_sim_stop EXIT
    "$work/root/usr/bin/${readme[0]}" "${readme[@]:1}" >"$work/sim.log" 2>&1 </dev/null &
    ZELTO_SIM_PID=$!
    wait_until 10 test -L "$work/board" || return 1
    # doctest runs each line as the interpreter does and compares what it prints.
    env -u PYTHONPATH -u LD_LIBRARY_PATH -u OSTRELZELTO_LIBRARY \
        "$work/venv/bin/python3" -m doctest -v "$work/session.txt" || return 1
    grep 'a2d pin 0 -> 03 09' "$work/sim.log"
)

# The scripts run in a subshell so that its trap stops the simulator and the prefix's wineserver.
windows_zip() (
    local work="$out/windows-zip" zip top bits wine host sample said file widths=(64) registered
    zip=$(ls build-packages/OstrelZelto-*-windows.zip) || return 1
    rm -rf "$work"
    mkdir -p "$work"
    unzip -q "$zip" -d "$work/unpacked" || return 1
    top=$(echo "$work"/unpacked/OstrelZelto-*-windows)
    unzip -l "$zip"
    for file in x64/OstrelZeltoDLL.dll x64/Warmscope.exe x86/OstrelZeltoDLL.dll x86/Warmscope.exe \
        register.cmd unregister.cmd README.txt MEMBERS.txt samples/read_a2d.vbs samples/read_a2d.js \
        samples/read_a2d.cpp docs/members.md docs/errors.md docs/windows.md; do
        test -s "$top/$file" || { echo "the zip has no $file"; return 1; }
    done
    grep -q '0x60030013  Function a2d(pin As Long) As Long' "$top/MEMBERS.txt" || return 1

    zelto_wine_env "$work"
    trap 'zelto_sim_stop; zelto_server_stop' EXIT
    zelto_server_start || return 1
    if zelto_runs_32bit; then
        widths+=(32)
        "$ZELTO_WINE32" cmd /c exit </dev/null >/dev/null 2>&1
        registered=done
    else
        # register.cmd cannot start the 32-bit regsvr32 and must say so; the 32-bit files are
        # checked instead of run.
        echo "$ZELTO_32BIT_NOT_RUN"
        zelto_check_pe 32 "$top/x86/OstrelZeltoDLL.dll" "$top/x86/Warmscope.exe" || return 1
        registered=refused
    fi
    # Runs register.cmd or unregister.cmd as a user would, through cmd; it must end saying that it
    # is done, or, where the 32-bit regsvr32 cannot start, which one and why.
    run_cmd() { # script, what it did
        local said status
        said=$("$ZELTO_WINE64" cmd /c "$(zelto_win_path "$top/$1")" 2>&1 | tr -d '\r')
        status=$? # cmd's, with pipefail
        echo "$said (status $status)"
        if [ "$registered" = done ]; then
            [ "$status" -eq 0 ] && [ "$(tail -1 <<<"$said")" = "$2 done." ]
        else
            [ "$status" -ne 0 ] && grep -q "^$2 the 64-bit server" <<<"$said" &&
                tail -1 <<<"$said" | grep -Eq '^FAILED: .*\\SysWOW64\\regsvr32\.exe.*32-bit programs\.$'
        fi
    }

    run_cmd register.cmd Registering || return 1
    for bits in "${widths[@]}"; do
        # Each width's class points at its own folder's DLL.
        [ "$bits" = 64 ] && dir=x64 || dir=x86
        zelto_server_keys "$bits" | grep -i 'InprocServer32' -A2 | tee "$work/keys$bits.txt"
        grep -qiF "$(zelto_win_path "$top/$dir/OstrelZeltoDLL.dll")" "$work/keys$bits.txt" ||
            return 1
    done

    # The board answers 777 on analog input 0; every client prints it and ends well.
    zelto_sim_start "$sim" "$ZELTO_PORTS_DIR/com1" "$work/sim.log" --analog 0=777 || return 1
    for bits in "${widths[@]}"; do
        wine=$(zelto_wine_for "$bits")
        # The 32-bit loader runs the 32-bit script host (of SysWOW64).
        for sample in read_a2d.vbs read_a2d.js; do
            said=$("$wine" cscript //nologo "$(zelto_win_path "$top/samples/$sample")" 1 2>&1 |
                tr -d '\r')
            echo "$bits-bit cscript $sample: $said"
            [ "$(printf '%s\n' "$said" | tail -2 | paste -sd '|')" = 'a2d(0) = 777|END 0' ] ||
                return 1
        done
        # The C++ sample, built with the line its comment gives (the 32-bit compiler for x86).
        host=x86_64-w64-mingw32
        [ "$bits" = 32 ] && host=i686-w64-mingw32
        (cd "$top/samples" && eval "$(tr -d '\r' <read_a2d.cpp |
            sed -n 's#^//   \(x86_64-w64-mingw32-g++ .*\)#\1#p' |
            sed "s/x86_64-w64-mingw32/$host/; s/read_a2d.exe/read_a2d$bits.exe/")") || return 1
        said=$("$wine" "$top/samples/read_a2d$bits.exe" 1 2>&1 | tr -d '\r')
        echo "$bits-bit read_a2d.exe: $said"
        [ "$said" = 'a2d(0) = 777' ] || return 1
    done

    run_cmd unregister.cmd Unregistering || return 1
    for bits in "${widths[@]}"; do
        [ -z "$(zelto_server_keys "$bits")" ] ||
            { echo "$bits-bit view keeps keys:"; zelto_server_keys "$bits"; return 1; }
    done
    echo "no key of the server is left in either view"
)

windows_setup() {
    bash tests/win/setup_test.sh "$(ls build-packages/OstrelZelto-*-setup.exe)" \
        "$(ls build-packages/stand-in/OstrelZelto-*-setup-x64.exe)" "$sim" "$out/windows-setup"
}

if [ $# -gt 0 ]; then
    lane "$@"
else
    set -- release windows bench package screenshot demo python windows-zip windows-setup
    lane release windows bench package
    # These mostly wait on Wine and the simulated board, each in a prefix and on a link of its own
    # (the screenshot and the demonstration share one, so they share a lane).
    lane screenshot demo &
    lane windows-zip python &
    lane windows-setup
    wait
fi
passed=0
failures=()
for path in "$@"; do
    if [ "$(cat "$out/$path.result" 2>/dev/null)" = passed ]; then
        passed=$((passed + 1))
    else
        failures+=("$path")
    fi
done
[ ${#failures[@]} -eq 0 ] || echo "failed: ${failures[*]}"
echo "user paths: $passed passed, ${#failures[@]} failed"
[ ${#failures[@]} -eq 0 ]
