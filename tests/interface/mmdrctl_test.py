#!/usr/bin/env python3
"""mmdrctl end to end under Wine: real webcams registered in the build's prefix, the
fixture microphones, human and JSON output (checked by Python's JSON parser), exit
status and messages for bad arguments. Restores the registry it touches."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

VIDEO_INSTANCE = r"HKEY_CLASSES_ROOT\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"
USER_KEY = r"HKEY_CURRENT_USER\Software\Corvane\Meridel\Kestrel"
FILTER_CLSID = "{E436EBB6-524F-11CE-9F53-0020AF0BA770}"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


class Wine:
    def __init__(self, wine_run, mmdrctl, scratch):
        self.wine_run = wine_run
        self.mmdrctl = mmdrctl
        self.scratch = scratch

    def execute(self, command):
        """Runs a command under Wine; returns (status, stdout bytes, stderr bytes). Output
        goes through files, not pipes: Wine's background processes inherit the
        descriptors and would hold a pipe open for seconds after the command ends."""
        with tempfile.TemporaryFile(dir=self.scratch) as out, \
                tempfile.TemporaryFile(dir=self.scratch) as err:
            status = subprocess.run([self.wine_run, *command], stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, timeout=120).returncode
            out.seek(0)
            err.seek(0)
            return status, out.read(), err.read()

    def run(self, *args):
        status, out, err = self.execute([self.mmdrctl, *args])
        return status, out.decode("utf-8"), err.decode("utf-8", "replace")

    def json(self, *args):
        code, out, err = self.run("--json", *args)
        check(code == 0, f"mmdrctl --json {' '.join(args)} exits 0 (got {code}: {err.strip()})")
        # The same parser scripts would use from the shell.
        tool = subprocess.run([sys.executable, "-m", "json.tool"], input=out.encode("utf-8"),
                              capture_output=True)
        check(tool.returncode == 0, f"json.tool accepts the output of {' '.join(args)}: {out!r}")
        return json.loads(out)

    def windows_path(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def reg(self, *args, check_status=True):
        status, _, err = self.execute(["reg", *args])
        if check_status and status != 0:
            raise RuntimeError(f"reg {' '.join(args)} failed: {err!r}")
        return status

    def import_reg(self, lines):
        path = os.path.join(self.scratch, f"import-{uuid.uuid4().hex}.reg")
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        with open(path, "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        status, _, err = self.execute(["regedit", "/S", self.windows_path(path)])
        if status != 0:
            raise RuntimeError(f"regedit failed: {err!r}")


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--mmdrctl", required=True)
    options = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="mmdrctl-test-", dir=os.path.dirname(options.mmdrctl))
    wine = Wine(options.wine_run, options.mmdrctl, scratch)
    token = "mt" + uuid.uuid4().hex[:8]
    # Hard names for a JSON writer: quotes, backslashes, a tab, DEL, accents, a
    # character outside the BMP.
    tricky = f'Cam "Quote" \\Back\\ \ttab\x7f \u00e9\u65e5\u672c \U0001F600 {token}'
    plain = f"Plain {token}"
    # A multi-byte character cut by the library's 259-byte limit.
    cut = f"Cut_{token}" + "\u00e9" * 150
    cut_delivered = f"Cut_{token}" + "\u00e9" * 122 + "\ufffd"
    webcams = [(tricky, f"\\\\?\\usb#tricky#{token}"), (plain, f"\\\\?\\usb#plain#{token}"),
               (cut, f"\\\\?\\usb#cut#{token}")]
    instance_keys = []

    backup = os.path.join(scratch, "user-key.reg")
    had_user_key = wine.reg("export", USER_KEY, wine.windows_path(backup), "/y",
                            check_status=False) == 0
    try:
        lines = []
        # One GUID prefix with a sequence number: the enumerator lists them in this order.
        batch = str(uuid.uuid4()).upper()[:-4]
        for i, (name, path) in enumerate(webcams):
            key = f"{VIDEO_INSTANCE}\\{{{batch}{i:04X}}}"
            instance_keys.append(key)
            lines += [f"[{key}]", f'"FriendlyName"={reg_string(name)}',
                      f'"DevicePath"={reg_string(path)}', f'"CLSID"="{FILTER_CLSID}"', ""]
        wine.import_reg(lines)
        wine.reg("delete", USER_KEY, "/f", check_status=False)

        # Help and bad arguments.
        code, out, _ = wine.run("--help")
        check(code == 0 and "Usage: mmdrctl" in out and "set-pref" in out, "--help prints the usage")
        for args, message in [((), "no command given"), (("list", "fish"), "unknown device kind"),
                              (("list",), "list takes one argument"),
                              (("set-option", "7"), "not a valid option"),
                              (("set-pref", "video", "--id"), "--id needs a value"),
                              (("set-pref", "video", "--device", "x", "--id", "y"), "cannot be combined"),
                              (("frobnicate",), "unknown command"), (("--frob", "status"), "unknown option")]:
            code, out, err = wine.run(*args)
            check(code == 2, f"{args} exits 2 (got {code})")
            check(err.startswith("mmdrctl: ") and message in err, f"{args} explains: {err!r}")
            check(out == "", f"{args} prints nothing on stdout")
        code, _, err = wine.run("--dll", "Z:\\nowhere\\kestrelCliLib.dll", "status")
        check(code == 3 and "cannot load" in err, f"a missing DLL exits 3 ({code}, {err!r})")

        status = wine.json("status")
        check(status == {"interfaceVersion": 2, "headerVersion": 2, "enabled": True}, f"status {status}")

        # Webcams: every text arrives intact (or cut where the library cuts it).
        listing = wine.json("list", "video")
        ours = [d for d in listing["devices"] if token in d["name"]]
        check(listing["count"] == len(listing["devices"]), "count matches the devices")
        check([d["name"] for d in ours] == [tricky, plain, cut_delivered], f"names {ours}")
        check([d["id"] for d in ours] == [p for _, p in webcams], f"ids {ours}")
        code, out, _ = wine.run("list", "video")
        check(code == 0 and f'Cam "Quote" \\Back\\ \\x09tab\\x7f \u00e9' in out,
              f"the readable list shows control characters escaped: {out!r}")

        # Preferences through the tool, read back through the tool.
        check(wine.json("get-pref", "video") == {"kind": "video", "preferred": None},
              "no preferred webcam at first")
        stored = wine.json("set-pref", "video", "--device", plain)
        check(stored["stored"] == {"id": webcams[1][1], "name": plain}, f"stored {stored}")
        check(wine.json("get-pref", "video")["preferred"] == {"id": webcams[1][1], "name": plain},
              "the preferred webcam reads back")
        wine.json("set-pref", "video", "--id", f"#tricky#{token}")  # found by a part of its id
        check(wine.json("get-pref", "video")["preferred"] == {"id": webcams[0][1], "name": tricky},
              "a part of the id finds the tricky webcam, with its full texts")
        code, out, _ = wine.run("get-pref", "video")
        check(code == 0 and f"id:   {webcams[0][1]}" in out, f"readable get-pref: {out!r}")

        wine.json("set-pref", "audio", "--device", "In: Headset")
        microphone = wine.json("get-pref", "audio")["preferred"]
        check(microphone is not None and microphone["name"] == "In: Headset", f"microphone {microphone}")
        code, _, err = wine.run("set-pref", "audio", "--device", f"No such mic {token}")
        check(code == 1 and "no audio device named" in err, f"an absent device fails: {err!r}")

        # The audio-in option, and an out-of-range stored value.
        check(wine.json("set-option", "2") == {"option": 2}, "set-option 2")
        check(wine.json("get-option") == {"option": 2, "valid": True}, "get-option 2")
        wine.reg("add", USER_KEY, "/v", "srcAudioInOption", "/t", "REG_DWORD", "/d", "5", "/f")
        code, out, err = wine.run("--json", "get-option")
        check(code == 1 and json.loads(out) == {"option": 5, "valid": False} and "outside 0..2" in err,
              f"stored 5 is shown and fails: {code} {out!r} {err!r}")
    finally:
        for key in instance_keys:
            wine.reg("delete", key, "/f", check_status=False)
        wine.reg("delete", USER_KEY, "/f", check_status=False)
        if had_user_key:
            wine.execute(["regedit", "/S", wine.windows_path(backup)])

    shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("mmdrctl end to end: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
