#!/usr/bin/env python3
"""mmdrctl end to end: exit status and messages, readable and JSON output, preferences. A
Windows mmdrctl.exe runs through RUNNER (the build's wine-run.sh), under Wine on the prefix's
fixture microphones and the webcams it registers; a Linux one runs natively or through RUNNER
(an emulator and its options, for a cross build), on the null sources of a private sound server
and with the settings in a temporary XDG_CONFIG_HOME. Usage: mmdrctl_test.py MMDRCTL [RUNNER...]"""

import atexit
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

mmdrctl, runner = os.path.abspath(sys.argv[1]), sys.argv[2:]
wine = mmdrctl.endswith(".exe")
failures = []
mics = ["In: ArrayMic", "In: DeskMic", "In: Headset"]
env = dict(os.environ)
if wine:
    mics, mic_id, library = mics + ["In: default"], "{0.0.1.", "kestrelCliLib.dll"
else:
    home = tempfile.TemporaryDirectory()
    server = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "../scripts/sound-server.sh")]
    server_dir = home.name + "/sound"
    atexit.register(subprocess.run, server + ["stop", server_dir])
    # On PipeWire (SOUND_SERVER=pipewire) a camera of its own too, which only PipeWire shows;
    # not under an emulator, which cannot run the thread libpipewire starts.
    camera = os.environ.get("SOUND_SERVER") == "pipewire" and not runner
    started = subprocess.run(server + ["start", server_dir] + [f"fixture.{m[4:]}={m}" for m in mics]
                             + ["camera:/base/i2c@1a=Caméra avant"] * camera,
                             stdout=subprocess.PIPE, text=True, check=True).stdout
    exports = dict(line.split(" ", 1)[1].split("=", 1) for line in started.splitlines())
    # A relative --dll must not be found through the loader's search path either.
    env.update(HOME=home.name, XDG_CONFIG_HOME=home.name + "/config",
               LD_LIBRARY_PATH=os.path.dirname(mmdrctl), PULSE_SERVER=exports["PULSE_SERVER"],
               PIPEWIRE_REMOTE=exports.get("PIPEWIRE_REMOTE", home.name + "/no-pipewire") if camera
               else home.name + "/no-pipewire")
    mic_id, library = "fixture.DeskMic", "libkestrelCliLib.so.2"


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(*args, program=mmdrctl, cwd=None, extra_env=None):
    # Through files, not pipes: Wine's background processes would hold a pipe open.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(runner + [program, *args], stdout=out, stderr=err, cwd=cwd,
                              env={**env, **(extra_env or {})}, stdin=subprocess.DEVNULL,
                              timeout=120).returncode
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


code, usage, _ = run("--help")
check(code == 0 and usage.startswith("Usage: mmdrctl") and "set-pref" in usage, "--help prints the usage")
if not wine:  # the man page documents the commands, options and exit statuses that --help lists
    terms, section = {}, None
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tools/mmdrctl/mmdrctl.1")) as page:
        lines = re.sub(r"\\f[BIR]", "", page.read().replace("\\-", "-")).splitlines()
    for line, following in zip(lines, lines[1:]):
        section = line[4:] if line.startswith(".SH ") else section
        if line == ".TP":
            words = following.split()  # a term's line: ".B term ..." or "term ..."
            terms.setdefault(section, set()).add(words[words[0].startswith(".")])
    listed = {"COMMANDS": set(re.findall(r"^  ([a-z][a-z-]+) ", usage, re.M)),
              "OPTIONS": set(re.findall(r"^  (--[a-z]+) ", usage, re.M)),
              "EXIT STATUS": set(re.findall(r"(\d+) [a-z]", usage.split("Exit status:")[1]))}
    for name, words in listed.items():
        check(words and terms.get(name) == words, f"mmdrctl(1) {name}: {terms.get(name)} {words}")
for args, message in [((), "no command given"), (("list", "fish"), "unknown device kind"),
                      (("set-option", "7"), "not a valid option"), (("--dll",), "--dll needs a path"),
                      (("set-pref", "video", "--id"), "--id needs a value"),
                      (("--frob", "status"), "unknown option"), (("frob",), "unknown command"),
                      (("status", "x"), "status takes no argument"),
                      (("watch", "--count", "x"), "--count needs a whole number"),
                      (("watch", "--count", "1", "--count", "2"), "--count given twice"),
                      (("watch", "audio", "--frob", "1"), "unknown argument '--frob'")]:
    code, out, err = run(*args)
    check(code == 2 and out == "" and err.startswith("mmdrctl: ") and message in err,
          f"{args} exits 2 and explains on stderr: {code} {out!r} {err!r}")
# A relative --dll names a file in the current folder, never the one beside mmdrctl.
code, _, err = run("--dll", library, "status", cwd=tempfile.gettempdir())
check(code == 3 and "cannot load" in err, f"a missing library exits 3: {code} {err!r}")
if not wine:  # a lone mmdrctl names the first folder it looks in, ../lib (the build's libdir)
    alone = tempfile.TemporaryDirectory()
    os.mkdir(alone.name + "/bin")
    code, _, err = run("status", program=shutil.copy(mmdrctl, alone.name + "/bin"))
    first = f"{alone.name}/bin/../{os.environ['KESTREL_LIBDIR']}/{library}"
    check(code == 3 and first in err, f"a lone mmdrctl: {err!r}")
    # Set-user-ID, it runs with rights its invoker lacks: KESTREL_LOG is not the invoker's to set.
    if os.geteuid() == 0 and not runner and os.path.exists(os.path.dirname(mmdrctl) + "/" + library):
        os.chmod(alone.name, 0o755)
        shutil.copy(os.path.dirname(mmdrctl) + "/" + library, alone.name + "/bin")
        os.chmod(alone.name + "/bin/mmdrctl", 0o4755)
        code, _, err = run("--reuid=65534", "--regid=65534", "--clear-groups", alone.name + "/bin/mmdrctl",
                           "status", program="setpriv", extra_env={"KESTREL_LOG": "debug"})
        check(code == 0 and err == "", f"set-user-ID: {code} {err!r}")

check(run_json("status") == {"interfaceVersion": 2, "headerVersion": 2, "enabled": True}, "status")
listing = run_json("list", "audio")
names = sorted(device["name"] for device in listing["devices"])
check(listing["count"] == len(mics) and names == mics, f"the fixture microphones: {listing}")
code, out, err = run("list", "audio")
check(code == 0 and "In: DeskMic" in out and mic_id in out and err == "",
      f"the readable list, and the library prints nothing: {out!r} {err!r}")
if not wine and camera:
    check(run_json("list", "video")["devices"] == [{"index": 0, "name": "Caméra avant",
                                                    "id": "pipewire:libcamera_input._base_i2c_1a"}],
          f"PipeWire's camera: {run('list', 'video')}")

# --log shows the library's own lines of the run on stderr, whatever KESTREL_LOG says.
code, out, err = run("--log", "DEBUG", "get-pref", "video", extra_env={"KESTREL_LOG": "error:k.log"})
check(code == 0 and " debug kinds: UserPrefsUtil::PreferredWCamDeviceInfo - " in err,
      f"--log: {code} {err!r}")

headset = next({"id": d["id"], "name": d["name"]} for d in listing["devices"]
               if d["name"] == "In: Headset")
stored = run_json("set-pref", "audio", "--device", "In: Headset")
check(stored and stored["stored"] == headset, f"set-pref --device stores id and name: {stored}")
check(run_json("get-pref", "audio") == {"kind": "audio", "preferred": headset}, "get-pref reads it back")
code, _, err = run("set-pref", "audio", "--device", "No such microphone")
check(code == 1 and "no audio device named" in err, f"an absent device fails: {code} {err!r}")
check(run_json("set-option", "2") == {"option": 2}, "set-option 2")
check(run_json("get-option") == {"option": 2, "valid": True}, "get-option reads 2 back")

# An audio-in option that set-option refuses to store, and a preferred webcam stored by its name.
# Under Wine, webcams listed in the order of their keys: two of one name, then one without a
# device path (preferred by its name). Linux lists the machine's webcams: none of that name.
if wine:
    cam = ("HKEY_CLASSES_ROOT\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\"
           "{4B657374-7265-6C00-0000-00000000000%d}")
    webcam = '[%s]\n"CLSID"="{E436EBB6-524F-11CE-9F53-0020AF0BA770}"\n"FriendlyName"="%s"\n'
    kestrel = "[HKEY_CURRENT_USER\\Software\\Corvane\\Meridel\\Kestrel]\n"
    atexit.register(regedit, "".join(f"[-{cam % i}]\n" for i in range(3)) + kestrel
                    + '"srcAudioInOption"=-\n"srcWCamId"=-\n"srcWCamName"=-')
    regedit(webcam % (cam % 0, "Twin") + '"DevicePath"="twin-0"\n' + webcam % (cam % 1, "Twin")
            + '"DevicePath"="twin-1"\n' + webcam % (cam % 2, "Lone") + kestrel
            + '"srcAudioInOption"=dword:00000005\n"srcWCamName"="Lone"')
else:
    conf = env["XDG_CONFIG_HOME"] + "/corvane/meridel/kestrel.conf"
    os.makedirs(os.path.dirname(conf), exist_ok=True)
    with open(conf, "w") as file:
        file.write("srcAudioInOption=5\nsrcWCamName=Lone\n")
code, out, err = run("--json", "get-option")
check(code == 1 and json.loads(out) == {"option": 5, "valid": False} and "outside 0..2" in err,
      f"a stored option 5 is shown as invalid and exits 1: {code} {out!r} {err!r}")
lone = {"id": "", "name": "Lone"} if wine else None
check(run_json("get-pref", "video") == {"kind": "video", "preferred": lone},
      "a preferred webcam without a device path shows its name and an empty id; an absent one none")
if wine:
    check(run_json("set-pref", "video", "--device", "Twin")["stored"] == {"id": "twin-0", "name": "Twin"},
          "set-pref --device stores the first of two devices of one name")

if os.environ.get("KESTREL_MMDRCTL_COPY"):  # an installed or packaged copy: the rest is the build's
    sys.exit(f"{len(failures)} check(s) failed" if failures else None)

# watch: what is present, then each change as it comes (a source of the server; under Wine,
# a webcam of the prefix, which Wine can only list again: it has no device notifications).
def finish(child):  # its exit status; None if it had not ended within 20 s and was killed
    try:
        return child.wait(timeout=20)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        return None


def watch_while(kind, count, *changes):
    with tempfile.TemporaryFile() as out:
        child = subprocess.Popen(runner + [mmdrctl, "--json", "watch", kind, "--count",
                                           str(count), "--timeout", "60"],
                                 stdout=out, stdin=subprocess.DEVNULL, env=env)
        for change in changes:
            time.sleep(2 if wine or change is changes[0] else 1)  # started; a report apart
            change()
        code = finish(child)  # at the count, well before the minute
        out.seek(0)
        return code, [(e["event"], e["kind"], e["name"]) for e in map(json.loads, out.read().splitlines())]


if wine:
    kind, names = "video", ["Plugged"] * 2
    changes = (lambda: regedit(webcam % (cam % 3, "Plugged")), lambda: regedit(f"[-{cam % 3}]\n"))
    present = [("present", "video", name) for name in ("Twin", "Twin", "Lone")]
else:
    kind, names = "audio", ["Plug", "Plug", "Renamed", "Renamed"]
    def load(description):
        subprocess.run(server + ["add", server_dir, f"plug={description}"], check=True)

    def unload():
        subprocess.run(server + ["remove", server_dir, "plug"], check=True)
    # Renamed: the same id goes under its old name and comes under the new one.
    changes = (lambda: load("Plug"), lambda: (unload(), load("Renamed")), unload)
    present = [("present", "audio", name) for name in mics]
expected = [(event, kind, name) for event, name in zip(["added", "removed"] * 2, names)]
code, events = watch_while(kind, len(expected), *changes)
check(code == 0 and events[:len(present)] == present
      and [e for e in events if e[0] != "present"][:len(expected)] == expected,
      f"watch {kind}: {code} {events}")
if not wine and not runner:  # no descriptor left for the watch: a failure, not a quiet end
    child = subprocess.run([mmdrctl, "watch", "video", "--timeout", "1"], env=env, text=True,
                           capture_output=True,
                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (5, 5)))
    check(child.returncode == 1 and "Mmdr_WatchDevices failed" in child.stderr,
          f"watch without descriptors: {child.returncode} {child.stderr!r}")
# It ends when its time is up (0), and on Ctrl-C (130), both started together.
endings = {("--timeout", "1"): 0} if wine else {("--timeout", "1"): 0, (): 130}
children = {extra: subprocess.Popen(runner + [mmdrctl, "watch", kind, *extra], env=env,
                                    stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            for extra in endings}
if () in children:
    time.sleep(2)  # its handler in place
    children[()].send_signal(signal.SIGINT)
for extra, child in children.items():
    code = finish(child)
    check(code == endings[extra], f"watch {extra}: {code}")

if not wine:  # a settings file that cannot be read: an error the library prints only if asked
    os.remove(conf)
    os.mkdir(conf)
    for log, printed in [((), ""), (("--log", "error"), " error prefs: UserPrefsUtil - ")]:
        code, out, err = run(*log, "get-pref", "audio")
        check(code == 0 and (printed in err if printed else err == ""), f"{log}: {code} {err!r}")
    reader, writer = os.pipe()
    os.close(reader)  # standard error's reader gone: a line must not end mmdrctl by SIGPIPE
    code = subprocess.run(runner + [mmdrctl, "--log", "info", "get-pref", "audio"], env=env,
                          stderr=writer, stdout=subprocess.DEVNULL).returncode
    check(code == 0, f"a line to a closed pipe: {code}")

sys.exit(f"{len(failures)} check(s) failed" if failures else None)
