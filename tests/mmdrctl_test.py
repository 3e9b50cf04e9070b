#!/usr/bin/env python3
"""mmdrctl end to end under Wine on the fixture microphones and webcams it registers: exit status
and messages, readable and JSON output, preferences. Usage: mmdrctl_test.py WINE_RUN MMDRCTL"""

import atexit
import json
import subprocess
import sys
import tempfile

wine_run, mmdrctl = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(*args, program=mmdrctl, cwd=None):
    # Through files, not pipes: Wine's background processes would hold a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([wine_run, program, *args], stdout=out, stderr=err, cwd=cwd,
                              stdin=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("utf-8"), err.read().decode("utf-8", "replace")


def run_json(*args):
    code, out, err = run("--json", *args)
    check(code == 0, f"{args} exits 0 (got {code}: {err.strip()})")
    return json.loads(out)  # output that is not JSON ends the test with its traceback


def regedit(text):  # imports registry entries into the test prefix
    with tempfile.NamedTemporaryFile("w", suffix=".reg") as reg:
        print("Windows Registry Editor Version 5.00\n\n" + text, file=reg, flush=True)
        run("/S", "Z:" + reg.name.replace("/", "\\"), program="regedit")


code, out, _ = run("--help")
check(code == 0 and out.startswith("Usage: mmdrctl") and "set-pref" in out, "--help prints the usage")
for args, message in [((), "no command given"), (("list", "fish"), "unknown device kind"),
                      (("set-option", "7"), "not a valid option"), (("--dll",), "--dll needs a path"),
                      (("set-pref", "video", "--id"), "--id needs a value"),
                      (("--frob", "status"), "unknown option"), (("frob",), "unknown command"),
                      (("status", "x"), "status takes no argument")]:
    code, out, err = run(*args)
    check(code == 2 and out == "" and err.startswith("mmdrctl: ") and message in err,
          f"{args} exits 2 and explains on stderr: {code} {out!r} {err!r}")
# A relative --dll names a file in the current folder, never the one beside mmdrctl.
code, _, err = run("--dll", "kestrelCliLib.dll", "status", cwd=tempfile.gettempdir())
check(code == 3 and "cannot load" in err, f"a missing DLL exits 3: {code} {err!r}")

check(run_json("status") == {"interfaceVersion": 2, "headerVersion": 2, "enabled": True}, "status")
listing = run_json("list", "audio")
names = sorted(device["name"] for device in listing["devices"])
check(listing["count"] == 4 and names == ["In: ArrayMic", "In: DeskMic", "In: Headset", "In: default"],
      f"the fixture microphones: {listing}")
code, out, err = run("list", "audio")
check(code == 0 and "In: DeskMic" in out and "{0.0.1." in out and err == "",
      f"the readable list, and the library prints nothing: {out!r} {err!r}")

headset = next({"id": d["id"], "name": d["name"]} for d in listing["devices"]
               if d["name"] == "In: Headset")
stored = run_json("set-pref", "audio", "--device", "In: Headset")
check(stored and stored["stored"] == headset, f"set-pref --device stores id and name: {stored}")
check(run_json("get-pref", "audio") == {"kind": "audio", "preferred": headset}, "get-pref reads it back")
code, _, err = run("set-pref", "audio", "--device", "No such microphone")
check(code == 1 and "no audio device named" in err, f"an absent device fails: {code} {err!r}")
check(run_json("set-option", "2") == {"option": 2}, "set-option 2")
check(run_json("get-option") == {"option": 2, "valid": True}, "get-option reads 2 back")

# Webcams, listed in the order of their keys: two of one name, then one without a device path
# (preferred by its name); and an audio-in option that set-option refuses to store.
cam = ("HKEY_CLASSES_ROOT\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\"
       "{4B657374-7265-6C00-0000-00000000000%d}")
webcam = '[%s]\n"CLSID"="{E436EBB6-524F-11CE-9F53-0020AF0BA770}"\n"FriendlyName"="%s"\n'
kestrel = "[HKEY_CURRENT_USER\\Software\\Corvane\\Meridel\\Kestrel]\n"
atexit.register(regedit, "".join(f"[-{cam % i}]\n" for i in range(3)) + kestrel
                + '"srcAudioInOption"=-\n"srcWCamId"=-\n"srcWCamName"=-')
regedit(webcam % (cam % 0, "Twin") + '"DevicePath"="twin-0"\n' + webcam % (cam % 1, "Twin")
        + '"DevicePath"="twin-1"\n' + webcam % (cam % 2, "Lone") + kestrel
        + '"srcAudioInOption"=dword:00000005\n"srcWCamName"="Lone"')
code, out, err = run("--json", "get-option")
check(code == 1 and json.loads(out) == {"option": 5, "valid": False} and "outside 0..2" in err,
      f"a stored option 5 is shown as invalid and exits 1: {code} {out!r} {err!r}")
check(run_json("get-pref", "video") == {"kind": "video", "preferred": {"id": "", "name": "Lone"}},
      "a preferred webcam without a device path shows its name and an empty id")
check(run_json("set-pref", "video", "--device", "Twin")["stored"] == {"id": "twin-0", "name": "Twin"},
      "set-pref --device stores the first of two devices of one name")

sys.exit(f"{len(failures)} check(s) failed" if failures else None)
