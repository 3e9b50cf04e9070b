#!/usr/bin/env python3
"""Clang's thread-safety analysis over the library's sources, syntax only, failing on any
warning: every source under src/ that the build compiles (as its compile_commands.json
lists them), for the build's Windows target, and the log core as the host build
compiles it. The shipped build stays GCC; Clang only checks.

Usage: check-thread-safety.py CLANGXX BUILD_DIR
"""
import concurrent.futures
import functools
import json
import os
import shlex
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SRC = os.path.join(ROOT, "src") + os.sep
CHECK = ["-fsyntax-only", "-Wthread-safety", "-Werror"]


def compile_commands(path):
    """(compiler, file, the options that decide what the file means) per entry under src/."""
    with open(path) as f:
        entries = json.load(f)
    found = []
    for entry in entries:
        file = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        if not file.startswith(SRC):
            continue
        args = entry.get("arguments") or shlex.split(entry["command"])
        options = []
        i = 1
        while i < len(args):
            arg = args[i]
            if arg in ("-D", "-I", "-isystem"):
                options += args[i : i + 2]
                i += 1
            elif arg.startswith(("-D", "-I", "-std=")):
                options.append(arg)
            i += 1
        found.append((args[0], file, options))
    return found


@functools.lru_cache()
def mingw_target(compiler):
    """Clang options for the target of a MinGW-w64 GCC, given that GCC's C++ headers
    (Clang does not find them itself)."""
    triple = os.path.basename(compiler).split("-g++")[0]
    include = subprocess.run([compiler, "-print-file-name=include"], check=True,
                             capture_output=True, text=True).stdout.strip()
    return ["--target=" + triple, "-isystem", include + "/c++",
            "-isystem", include + "/c++/" + triple]


def windows_checks(build_dir):
    """Each source once: a file that two targets compile (the exports, which the
    interface tests compile in too) is checked as the first lists it."""
    checks = {}
    for compiler, file, options in compile_commands(os.path.join(build_dir,
                                                                 "compile_commands.json")):
        checks.setdefault(file, mingw_target(compiler) + options)
    return list(checks.items())


def host_checks(clang, build_dir):
    """The log core as tests/host builds it, configured (not built) with Clang."""
    host_dir = os.path.join(build_dir, "thread-safety-host")
    subprocess.run(["cmake", "-S", os.path.join(ROOT, "tests", "host"), "-B", host_dir, "-G",
                    "Ninja", "-DCMAKE_CXX_COMPILER=" + clang, "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    return [(file, options) for _, file, options in
            compile_commands(os.path.join(host_dir, "compile_commands.json"))]


def main():
    clang, build_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    if not os.path.isfile(clang):
        sys.exit("check-thread-safety: clang++ not found (" + clang + ")")
    windows = windows_checks(build_dir)
    host = host_checks(clang, build_dir)
    if not windows or not host:
        sys.exit("check-thread-safety: no sources of src/ in the compile commands")
    checks = windows + host

    def run(check):
        file, options = check
        result = subprocess.run([clang] + CHECK + options + [file],
                                capture_output=True, text=True)
        return file, result.returncode == 0 and not result.stderr, result.stderr

    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        results = list(pool.map(run, checks))
    failed = [(file, output) for file, clean, output in results if not clean]
    for file, output in failed:
        print(output or file + ": failed", end="")
    print("thread-safety: %d compiles checked, %d failed" % (len(results), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
