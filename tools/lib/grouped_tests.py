#!/usr/bin/env python3
"""Runs a build tree's tests the quick way: each GoogleTest program once for all of its tests
(the longest split into shards) instead of once per test, every other test as CTest would, side
by side. The same tests as `ctest -L LABELS -LE EXCLUDED`; the full run still runs each test in a
process of its own.

    grouped_tests.py BUILD_DIR LABELS EXCLUDED [JOBS]

Prints one line per program and the tests that failed with their output; exits 1 when one did."""
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import time

build, labels, excluded = sys.argv[1:4]
jobs = int(sys.argv[4]) if len(sys.argv) > 4 else 2 * os.cpu_count()
# Programs with more tests than this are split into shards of about this many.
SHARD = 50

listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1", "-L", labels,
                          "-LE", excluded], capture_output=True, text=True, check=True)
programs = {}  # (command, working folder, environment) -> number of tests
others = []
for test in json.loads(listing.stdout)["tests"]:
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    command = test["command"]
    env = tuple(props.get("ENVIRONMENT", []))
    folder = props.get("WORKING_DIRECTORY", build)
    filters = [a for a in command if a.startswith("--gtest_filter=")]
    if filters:
        key = (tuple(a for a in command if a not in filters and a != "--gtest_also_run_disabled_tests"),
               folder, env)
        programs[key] = programs.get(key, 0) + 1
    else:
        others.append((test["name"], tuple(command), folder, env, props.get("TIMEOUT", 300)))

# (weight, name, command, folder, environment, timeout); a test of another kind (a script, the
# Python suites) weighs as much as a shard, as it often takes as long.
runs = []
for (command, folder, env), count in programs.items():
    shards = max(1, round(count / SHARD))
    for index in range(shards):
        shard = ("GTEST_TOTAL_SHARDS=%d" % shards, "GTEST_SHARD_INDEX=%d" % index) if shards > 1 else ()
        name = os.path.basename(command[0]) + (" %d/%d" % (index + 1, shards) if shards > 1 else "")
        runs.append((count / shards, name, command + ("--gtest_brief=1",), folder, env + shard, 600))
runs += [(SHARD,) + other for other in others]
# The heaviest first, so that none of them ends the run alone.
runs.sort(key=lambda job: -job[0])


def run(job):
    _, name, command, folder, env, timeout = job
    environment = dict(os.environ)
    for pair in env:
        key, _, value = pair.partition("=")
        environment[key] = value
    start = time.monotonic()
    try:
        done = subprocess.run(command, cwd=folder, env=environment, capture_output=True, text=True,
                              timeout=float(timeout), stdin=subprocess.DEVNULL)
        ok, output = done.returncode == 0, done.stdout + done.stderr
    except subprocess.TimeoutExpired as e:
        ok, output = False, "timed out after %s s\n%s" % (timeout, e.stdout or "")
    return name, ok, output, time.monotonic() - start


failed = []
with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    for name, ok, output, seconds in pool.map(run, runs):
        passed = re.findall(r"\[  PASSED  \] (\d+) test", output)
        print("%-6s %-36s %5.1f s%s" % ("ok" if ok else "FAILED", name, seconds,
                                        "  (%s tests)" % passed[0] if passed else ""))
        if not ok:
            failed.append((name, output))
for name, output in failed:
    print("\n=== %s\n%s" % (name, output))
tests = sum(programs.values()) + len(others)
print("%d tests in %d processes: %s" % (tests, len(runs),
                                        "all passed" if not failed else "%d processes FAILED" % len(failed)))
sys.exit(1 if failed else 0)
