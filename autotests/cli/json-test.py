#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
"""corvo-admin-driver --json on a made-up machine (harness/gpu-fixture.sh).

Every row runs the real tool once and checks that standard output is exactly one JSON document,
that the document is valid against the action's schema of docs/json (the error schema when the
run fails), and that it equals the expected document, exit status included.

Usage: json-test.py BINARY_DIR HARNESS SCHEMA_DIR
Exit: 0 all rows pass, 1 a row fails, 77 no namespace here (skipped; a failure under CI=true).
Inside the namespace the script calls itself with --inside.
"""
import json
import os
import subprocess
import sys

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "fixtures")

# Intel laptop adapter, NVIDIA card on nouveau, AMD card on bus 0x0c (12 in the X server's
# decimal bus ids) bound to amdgpu. libhd reports the last --gpu first.
MACHINE = [
    "--gpu", "0000:00:02.0,8086,5917,030000,i915,1043,1a00",
    "--gpu", "0000:01:00.0,10de,1c03,030000,nouveau,1043,85bf",
    "--gpu", "0000:0c:00.0,1002,67df,030000,amdgpu,1da2,e366",
    "--alias", "pci:v00008086d00005917sv*sd*bc03sc*i* i915",
    "--alias", "pci:v000010DEd*sv*sd*bc03sc*i* nouveau",
    "--alias", "pci:v000010DEd*sv*sd*bc03sc00i00* nvidia",
    "--alias", "pci:v00001002d000067DFsv*sd*bc*sc*i* amdgpu",
    "--alias", "pci:v00001002d000067DFsv*sd*bc*sc*i* radeon",
    "--module", "kernel/drivers/gpu/drm/i915/i915.ko=i915",
    "--module", "kernel/drivers/gpu/drm/nouveau/nouveau.ko=nouveau",
    "--module", "kernel/drivers/gpu/drm/amd/amdgpu/amdgpu.ko=amdgpu",
    "--drm", "0000:00:02.0",
    "--xlog", r"root=[    20.123] (II) modeset(0): Output eDP-1 connected\n",
    "--xorg", "1:modesetting_drv.so", "--xorg", "2:amdgpu_drv.so", "--xorg", "2:nouveau_drv.so",
    "--xorg", "3:nvidia_drv.so",
    "--etc-default",
]

INTEL = {"busId": "PCI:00@0000:02:0", "model": "Intel UHD Graphics 620", "vendor": "Intel Corporation",
         "configuredXorgDriver": None}
NVIDIA = {"busId": "PCI:01@0000:00:0", "model": "nVidia GP106 [GeForce GTX 1060 6GB]", "vendor": "nVidia Corporation",
          "configuredXorgDriver": None}
AMD = {"busId": "PCI:0c@0000:00:0", "model": "Sapphire Nitro+ Radeon RX 570/580/590",
       "vendor": "ATI Technologies Inc", "configuredXorgDriver": None}

GRUB = ('GRUB_DEFAULT=0\n#GRUB_CMDLINE_LINUX_DEFAULT="i915.enable_guc=1"\n'
        'GRUB_CMDLINE_LINUX_DEFAULT="quiet {}"\nGRUB_CMDLINE_LINUX=""\n')
SNIPPET = '/etc/X11/xorg.conf.d/20-vela-admin-video-driver.conf'


def snippet(driver, bus):
    return ('Section "Device"\n    Identifier "card"\n    Driver "{}"\n    BusID "{}"\nEndSection\n'
            .format(driver, bus))


def module(name, in_use, xorg, file=None):
    return {"name": name, "probeName": name, "file": file, "inUse": in_use, "xorgDriver": xorg}


def package(name, installed, by, lists=(), recommended=False):
    return {"name": name, "installed": installed, "recommended": recommended, "matchedBy": list(by),
            "nvidiaIdLists": list(lists)}


def xorg(in_use=None):
    # Folder order; inside a folder (a tmpfs) the newest file comes first.
    return [{"name": n, "inUse": n == in_use} for n in ("modesetting", "nouveau", "amdgpu", "nvidia")]


def with_configured(gpu, driver):
    return dict(gpu, configuredXorgDriver=driver)


MODULES = "/usr/lib/modules/{}/kernel/drivers/gpu/drm/".format(os.uname().release)

# name, files to write first (path: text, None removes), arguments, exit status, schema, document
ROWS = [
    ("list-gpus", {}, ["list-gpus"], 0, "list-gpus", {"gpus": [AMD, NVIDIA, INTEL]}),
    ("list-modules by bus id", {}, ["list-modules", "PCI:00@0000:02:0"], 0, "list-modules",
     {"gpu": INTEL, "modules": [module("i915", True, "modesetting", MODULES + "i915/i915.ko")]}),
    # nvidia has no file in the tree: listed under its probe name, its X driver found by name.
    ("list-modules by model", {}, ["list-modules", "nVidia GP106 [GeForce GTX 1060 6GB]"], 0, "list-modules",
     {"gpu": NVIDIA, "modules": [module("nouveau", True, "nouveau", MODULES + "nouveau/nouveau.ko"),
                                 module("nvidia", False, "nvidia")]}),
    ("list-xorg, driver in use", {}, ["list-xorg", "Intel UHD Graphics 620"], 0, "list-xorg",
     {"gpu": INTEL, "xorgDrivers": xorg("modesetting")}),
    ("list-xorg, no DRM node", {}, ["list-xorg", "nvidia corporation"], 0, "list-xorg",
     {"gpu": NVIDIA, "xorgDrivers": xorg()}),
    # The helper writes bus 0x0c as 12; the snippet is the AMD card's, not the others'.
    ("switch snippet of bus 12", {SNIPPET: snippet("amdgpu", "PCI:12@0000:00:0")}, ["list-gpus"], 0, "list-gpus",
     {"gpus": [with_configured(AMD, "amdgpu"), NVIDIA, INTEL]}),
    ("switch snippet read as hex", {SNIPPET: snippet("amdgpu", "PCI:0c@0000:00:0")}, ["list-xorg", "PCI:0c@0000:00:0"], 0,
     "list-xorg", {"gpu": AMD, "xorgDrivers": xorg()}),
    # In the package cache's order, as the plain listing: firmware-amd-graphics through
    # AppStream, the X driver through its Modaliases field.
    ("list-packages, field and AppStream", {SNIPPET: None}, ["list-packages", "PCI:0c@0000:00:0"], 0, "list-packages",
     {"gpu": AMD, "secureBoot": "unknown",
      "packages": [package("xserver-xorg-video-amdgpu", False, ["modaliasesField"]),
                   package("firmware-amd-graphics", True, ["appStreamPattern"])]}),
    # Three id lists name the adapter; the tesla-535 series has no package in this archive.
    ("list-packages, NVIDIA id lists", {}, ["list-packages", "PCI:01@0000:00:0"], 0, "list-packages",
     {"gpu": NVIDIA, "secureBoot": "unknown",
      "packages": [package("nvidia-tesla-470-driver", False, ["nvidiaIdList"], ["nvidia-tesla-470"]),
                   package("nvidia-driver", True, ["nvidiaIdList"], ["nvidia"], recommended=True),
                   package("firmware-misc-nonfree", False, ["appStreamPattern"])]}),
    ("intel-accel-status, enabled", {"/etc/default/grub": GRUB.format("i915.enable_guc=3 i915.enable_fbc=1")},
     ["intel-accel-status"], 0, "intel-accel-status",
     {"gucMode": 3, "frameBufferCompression": True, "hardwareAccelerationEnabled": True}),
    ("intel-accel-status, partly", {"/etc/default/grub": GRUB.format("i915.enable_guc=2")},
     ["intel-accel-status"], 0, "intel-accel-status",
     {"gucMode": 2, "frameBufferCompression": False, "hardwareAccelerationEnabled": False}),
    # Failures: the plain run's message and exit status.
    ("unknown GPU", {}, ["list-modules", "Nope"], 255, "error",
     {"error": "Couldn't find GPU by BusID / Model / Vendor using argument Nope"}),
    ("packages of an unknown GPU", {}, ["list-packages", "Nope"], 255, "error",
     {"error": "Couldn't find GPU by BusID / Model / Vendor using argument Nope"}),
    ("no boot loader defaults", {"/etc/default/grub": None}, ["intel-accel-status"], 255, "error",
     {"error": "File reading error /etc/default/grub"}),
    ("missing argument", {}, ["list-xorg"], 0, "error", {"error": "Usage: corvo-admin-driver --json list-xorg <GPU>"}),
    ("surplus argument", {}, ["list-gpus", "surplus"], 0, "error", {"error": "Usage: corvo-admin-driver --json list-gpus"}),
    ("unknown action", {}, ["frobnicate"], 0, "error", {"error": "Unknown action: frobnicate"}),
    ("no action", {}, [], 0, "error", {"error": "No action is given."}),
    ("unknown option", {}, ["--bogus", "list-gpus"], 1, "error", {"error": "Unknown option 'bogus'."}),
    ("change action", {}, ["set-module", "PCI:01@0000:00:0", "nvidia"], 255, "error",
     {"error": "The action set-module has no JSON output."}),
]

HEADLESS = ["--gpu", "0000:00:19.0,8086,15b7,020000,e1000e"]
HEADLESS_ROWS = [
    ("no adapter", {}, ["list-gpus"], 0, "list-gpus", {"gpus": []}),
    ("no Intel adapter", {"/etc/default/grub": GRUB.format("")}, ["intel-accel-status"], 255, "error",
     {"error": "Intel GPU is missing."}),
]


def sh(*command):
    subprocess.run(command, check=True)


def overlay(path, base):
    """A writable copy of a system folder, private to this namespace."""
    upper, work = os.path.join(base, path.strip("/").replace("/", "_")), os.path.join(base, "work" + path.replace("/", "_"))
    os.makedirs(upper)
    os.makedirs(work)
    sh("mount", "-t", "overlay", "overlay", "-o", "lowerdir={},upperdir={},workdir={}".format(path, upper, work), path)


def prepare(work):
    """The package universe of Debian 12's driver packages, nvidia-detect's lists and the
    AppStream firmware catalogue at their system paths, and nothing of the host's catalogues."""
    sh("mount", "-t", "tmpfs", "tmpfs", work)
    apt = os.path.join(work, "apt")
    os.makedirs(apt)
    env = dict(os.environ, APT_FIXTURE_TABLE=os.path.join(FIXTURES, "apt", "debian-bookworm.txt"),
               APT_FIXTURE_INSTALLED="firmware-amd-graphics nvidia-driver")
    subprocess.run([os.path.join(HERE, "..", "harness", "apt-fixture.sh"), apt], check=True, env=env)
    os.environ["APT_CONFIG"] = os.path.join(apt, "apt.conf")
    layers = os.path.join(work, "layers")
    for path in ("/usr/share", "/var/lib", "/var/cache", "/etc/X11"):
        overlay(path, layers)
    for path in ("/usr/share/swcatalog", "/usr/share/app-info", "/var/lib/swcatalog", "/var/lib/app-info",
                 "/var/cache/swcatalog", "/var/cache/app-info", "/usr/share/nvidia", "/etc/X11/xorg.conf.d"):
        subprocess.run(["rm", "-rf", path], check=True)
    subprocess.run("rm -f /var/lib/apt/lists/*Components*", shell=True, check=True)
    sh("cp", "-r", os.path.join(FIXTURES, "drivers", "swcatalog"), "/usr/share/swcatalog")
    sh("cp", "-r", os.path.join(FIXTURES, "drivers", "nvidia"), "/usr/share/nvidia")
    os.makedirs("/etc/X11/xorg.conf.d")
    # mokutil is missing in the namespace: the Secure Boot state is "unknown" whatever the host has.
    for tool in ("/usr/bin/mokutil", "/bin/mokutil"):
        if os.path.exists(tool):
            sh("mount", "--bind", "/dev/null", tool)


def run_rows(binary, schema_dir, rows):
    schemas = {}
    failed = 0
    for name, files, args, status, schema_name, expected in rows:
        for path, text in files.items():
            if text is None:
                if os.path.exists(path):
                    os.remove(path)
            else:
                with open(path, "w") as f:
                    f.write(text)
        env = dict(os.environ, LANGUAGE="C", LC_ALL="C.UTF-8")
        result = subprocess.run([binary, "--json"] + args, capture_output=True, env=env, timeout=60)
        problems = []
        if result.returncode != status:
            problems.append("exit status {}, expected {}".format(result.returncode, status))
        try:
            document = json.loads(result.stdout.decode("utf-8"))
        except ValueError as e:
            document = None
            problems.append("standard output is not one JSON document ({}): {!r}".format(e, result.stdout))
        if document is not None:
            if schema_name not in schemas:
                with open(os.path.join(schema_dir, schema_name + ".schema.json")) as f:
                    schemas[schema_name] = jsonschema.Draft202012Validator(json.load(f))
            for error in schemas[schema_name].iter_errors(document):
                problems.append("schema {}: {} at {}".format(schema_name, error.message, list(error.absolute_path)))
            if document != expected:
                problems.append("document differs:\n  seen:     {}\n  expected: {}".format(
                    json.dumps(document, sort_keys=True), json.dumps(expected, sort_keys=True)))
        if problems:
            failed += 1
            print("FAIL: {}\n  {}\n  stderr: {!r}".format(name, "\n  ".join(problems), result.stderr.decode(errors="replace")))
        else:
            print("PASS: " + name)
    return failed


def inside(bin_dir, schema_dir, machine):
    # No "_" in the path: apt escapes it in the names of its lists files, and the fixture's
    # lists would not be found.
    work = "/tmp/corvo-json-{}".format(os.getpid())
    os.mkdir(work)
    try:
        prepare(work)
        rows = ROWS if machine == "desktop" else HEADLESS_ROWS
        return 1 if run_rows(os.path.join(bin_dir, "corvo-admin-driver"), schema_dir, rows) else 0
    finally:
        subprocess.run(["umount", "-R", work], stderr=subprocess.DEVNULL)
        os.rmdir(work)


def main():
    if sys.argv[1] == "--inside":
        return inside(*sys.argv[2:5])
    bin_dir, harness, schema_dir = (os.path.abspath(a) for a in sys.argv[1:4])
    failed = skipped = 0
    for machine, options in (("desktop", MACHINE), ("headless", HEADLESS)):
        result = subprocess.run([harness] + options + ["--", sys.executable, os.path.abspath(__file__), "--inside",
                                                       bin_dir, schema_dir, machine])
        if result.returncode == 77:
            skipped += 1
        elif result.returncode != 0:
            failed += 1
    if failed:
        return 1
    if skipped:
        if os.environ.get("CI") == "true":
            print("FAIL: a machine could not be made, and CI runs every test")
            return 1
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())
