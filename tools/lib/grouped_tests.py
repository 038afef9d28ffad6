#!/usr/bin/env python3
"""Runs a build tree's tests the quick way: each GoogleTest program once for all of its tests
(the longest split into shards) instead of once per test, every other test as CTest would, side
by side. The same tests as `ctest -L LABELS -LE EXCLUDED` (an empty pattern selects every test).

    grouped_tests.py BUILD_DIR LABELS EXCLUDED [JOBS]

Prints one line per process, the output of those that failed, and a summary in CTest's words.
The tests that failed are run again, each in a process of its own as CTest runs them: a test
fails the run only when it fails there too, and one that passed alone is named. Exits 1 when a
test failed."""
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

selection = (["-L", labels] if labels else []) + (["-LE", excluded] if excluded else [])
listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"] + selection,
                         capture_output=True, text=True, check=True)
programs = {}  # (command, working folder, environment) -> {GoogleTest name: CTest name}
others = []
# What this runner does not do as CTest would; a tree whose tests need it is run with CTest.
UNHONOURED = {"DEPENDS", "DISABLED", "FIXTURES_REQUIRED", "FIXTURES_SETUP", "FIXTURES_CLEANUP",
              "RESOURCE_LOCK", "RUN_SERIAL", "SKIP_RETURN_CODE", "WILL_FAIL"}
for test in json.loads(listing.stdout)["tests"]:
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    if UNHONOURED & props.keys():
        sys.exit("grouped_tests.py: %s has %s; run the tree with ctest" %
                 (test["name"], ", ".join(sorted(UNHONOURED & props.keys()))))
    command = test["command"]
    env = tuple(props.get("ENVIRONMENT", []))
    folder = props.get("WORKING_DIRECTORY", build)
    filters = [a for a in command if a.startswith("--gtest_filter=")]
    if filters:
        key = (tuple(a for a in command if a not in filters and a != "--gtest_also_run_disabled_tests"),
               folder, env)
        programs.setdefault(key, {})[filters[0].partition("=")[2]] = test["name"]
    else:
        others.append((test["name"], tuple(command), folder, env, props.get("TIMEOUT", 300)))

# (weight, name, command, folder, environment, timeout, the CTest names it runs); a test of another
# kind (a script, the Python suites) weighs as much as a shard, as it often takes as long.
runs = []
for (command, folder, env), tests in programs.items():
    shards = max(1, round(len(tests) / SHARD))
    for index in range(shards):
        shard = ("GTEST_TOTAL_SHARDS=%d" % shards, "GTEST_SHARD_INDEX=%d" % index) if shards > 1 else ()
        name = os.path.basename(command[0]) + (" %d/%d" % (index + 1, shards) if shards > 1 else "")
        runs.append((len(tests) / shards, name, command + ("--gtest_brief=1",), folder, env + shard,
                     600, tests))
runs += [(SHARD,) + other + ({None: other[0]},) for other in others]
# The heaviest first, so that none of them ends the run alone.
runs.sort(key=lambda job: -job[0])


def run(job):
    _, name, command, folder, env, timeout, _ = job
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


def failed_tests(job, output):
    """The CTest names of the tests that a failed process names as failed, or None when its output
    does not tell (it crashed, or timed out)."""
    tests = job[6]
    names = [n.rstrip(",") for n in re.findall(r"^\[  FAILED  \] (\S+)", output, re.M)]
    named = {tests[n] for n in names if n in tests}
    return named if named and None not in tests else None


suspects = set()  # named as failed by their process
unknown = set()  # run by a process that failed without naming them
shown = []
with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    for job, (name, ok, output, seconds) in zip(runs, pool.map(run, runs)):
        passed = re.findall(r"\[  PASSED  \] (\d+) test", output)
        print("%-6s %-36s %5.1f s%s" % ("ok" if ok else "FAILED", name, seconds,
                                        "  (%s tests)" % passed[0] if passed else ""), flush=True)
        if not ok:
            shown.append((name, output))
            named = failed_tests(job, output)
            if named is None:
                unknown |= set(job[6].values())
            else:
                suspects |= named
for name, output in shown:
    print("\n=== %s\n%s" % (name, output))

failed = set()
if suspects or unknown:
    # Each alone, as CTest runs them, one after the other so that no other test loads the machine.
    again_tests = suspects | unknown
    print("Running %d tests again, each alone:" % len(again_tests), flush=True)
    pattern = "^(%s)$" % "|".join(re.escape(t) for t in sorted(again_tests))
    again = subprocess.run(["ctest", "--test-dir", build, "--output-on-failure", "-R", pattern]
                           + selection, capture_output=True, text=True)
    print(again.stdout + again.stderr)
    failed = set(re.findall(r"^\s*\d+ - (.+) \([^()]*\)$", again.stdout.partition("tests FAILED:")[2],
                            re.M))
    if again.returncode != 0 and not failed:
        failed = again_tests
    if suspects - failed:
        print("Failed with the others but passed alone: %s" % ", ".join(sorted(suspects - failed)))

total = sum(len(tests) for tests in programs.values()) + len(others)
print("%d tests in %d processes" % (total, len(runs)))
print("%d%% tests passed, %d tests failed out of %d" % (
    100 * (total - len(failed)) // total if total else 100, len(failed), total))
if failed:
    print("\nThe following tests FAILED:\n" + "\n".join("\t%s" % t for t in sorted(failed)))
sys.exit(1 if failed else 0)
