#!/bin/bash
# SPDX-FileCopyrightText: 2026 Corvo video driver manager developers
# SPDX-License-Identifier: GPL-2.0-or-later
# benchmark-packages.sh: how long "corvo-admin-driver list-packages" takes on a package
# universe the size of a real Debian 12 archive, next to the same alias scan written with
# python3-apt. A benchmark, not a test: it prints figures and never fails on them.
#
#   scripts/benchmark-packages.sh [--runs N] [--state DIR] [--build DIR]
#
#   --runs N     timed runs of each side (default 5); the medians are compared
#   --state DIR  keep the package universe in DIR (created if missing) and reuse it on later
#                calls instead of fetching the lists again; default: a temporary folder that
#                is removed at the end
#   --build DIR  the build folder holding bin/corvo-admin-driver and bin/installer-timing
#                (default ./build; without the latter the installer is not timed)
#
# Needs root (the machine fixture mounts in a private namespace; apt-get update), network
# access to the Debian archive and python3-apt (scripts/install-deps.sh installs it).
#
# The universe: Debian 12 "bookworm" main for amd64 from the archive host this machine's own
# /etc/apt/sources.list(.d) names, fetched with apt-get update into a private APT state
# (Dir::State, Dir::Cache and Dir::Etc all inside the universe folder, lists kept
# uncompressed as on a desktop), the machine's own dpkg status as the installed set, and a
# small local file: repository of driver packages that declare Modaliases. The tool runs in
# autotests/harness/gpu-fixture.sh on a made-up machine with one NVIDIA adapter.
set -euo pipefail

PY=/usr/bin/python3 # the Debian interpreter, the one python3-apt is built for
TOP=$(cd "$(dirname "$0")/.." && pwd)
RUNS=5 STATE= BUILD=$TOP/build
while [ $# -gt 0 ]; do
    case $1 in
    --runs) RUNS=$2; shift 2 ;;
    --state) STATE=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d;s/^# \{0,1\}//'; exit 0 ;;
    *) echo "benchmark-packages.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" = 0 ] || { echo "benchmark-packages.sh: run as root" >&2; exit 1; }
TOOL=$BUILD/bin/corvo-admin-driver
TIMING=$BUILD/bin/installer-timing
[ -x "$TOOL" ] || { echo "benchmark-packages.sh: no $TOOL; run scripts/build.sh first" >&2; exit 1; }
"$PY" -c 'import apt_pkg' 2>/dev/null || { echo "benchmark-packages.sh: python3-apt is missing (scripts/install-deps.sh)" >&2; exit 1; }

if [ -z "$STATE" ]; then
    U=$(mktemp -d "${TMPDIR:-/tmp}/benchmark-packages.XXXXXX")
else
    mkdir -p "$STATE"
    U=$(cd "$STATE" && pwd)
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/benchmark-packages-work.XXXXXX")
trap 'rm -rf "$WORK"; [ -n "$STATE" ] || rm -rf "$U"' EXIT

# ---- the archive host: the first source of the machine that serves bookworm main ----
ARCHIVE=$("$PY" - <<'EOF'
import glob, re
found = None
def consider(uri, suites, comps):
    global found
    if found is None and "bookworm" in suites and "main" in comps and uri.startswith(("http://", "https://")):
        found = uri.rstrip("/")
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        line = re.sub(r"\[[^]]*\]", " ", line.split("#", 1)[0]).split()
        if len(line) >= 4 and line[0] == "deb":
            consider(line[1], [line[2]], line[3:])
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        fields = {}
        for line in stanza.splitlines():
            if line.startswith("#") or ":" not in line or line[0].isspace():
                continue
            key, value = line.split(":", 1)
            fields[key.strip().lower()] = value.split()
        if "deb" in fields.get("types", []) and fields.get("enabled", ["yes"]) != ["no"]:
            for uri in fields.get("uris", []):
                consider(uri, fields.get("suites", []), fields.get("components", []))
print(found or "")
EOF
)
[ -n "$ARCHIVE" ] || { echo "benchmark-packages.sh: no bookworm main source in /etc/apt/sources.list(.d)" >&2; exit 1; }

# ---- the universe ----
mkdir -p "$U/etc/apt.conf.d" "$U/etc/sources.list.d" "$U/etc/preferences.d" "$U/state/lists/partial" \
    "$U/cache/archives/partial" "$U/log" "$U/repo"
cat >"$U/apt.conf" <<EOF
Dir "/";
Dir::Etc "$U/etc/";
Dir::Etc::main "apt.conf";
Dir::Etc::parts "apt.conf.d";
Dir::Etc::sourcelist "sources.list";
Dir::Etc::sourceparts "sources.list.d";
Dir::Etc::preferences "preferences";
Dir::Etc::preferencesparts "preferences.d";
Dir::State "$U/state/";
Dir::State::lists "$U/state/lists/";
Dir::State::status "/var/lib/dpkg/status";
Dir::State::extended_states "$U/state/extended_states";
Dir::Cache "$U/cache/";
Dir::Cache::archives "$U/cache/archives/";
Dir::Log "$U/log/";
Dir::Bin::dpkg "/bin/false";
APT::Architecture "amd64";
APT::Architectures { "amd64"; };
APT::Sandbox::User "root";
Acquire::GzipIndexes "false";
Acquire::Languages { "en"; };
Debug::NoLocking "true";
EOF
cat >"$U/etc/sources.list" <<EOF
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $ARCHIVE bookworm main contrib non-free non-free-firmware
deb [trusted=yes] file:$U/repo ./
EOF
# The AppStream (DEP-11) catalogue, fetched with the lists as the appstream package makes APT do.
cat >"$U/etc/apt.conf.d/50dep11" <<'EOF'
Acquire::IndexTargets::deb::DEP-11 {
    MetaKey "$(COMPONENT)/dep11/Components-$(NATIVE_ARCHITECTURE).yml";
    ShortDescription "Components-$(NATIVE_ARCHITECTURE)";
    Description "$(RELEASE)/$(COMPONENT) $(NATIVE_ARCHITECTURE) DEP-11 Metadata";
    KeepCompressed "true";
    KeepCompressedAs "gz";
};
EOF

# Driver packages that declare the hardware they serve; a Packages stanza each.
driver() { # NAME MODALIASES
    printf 'Package: %s\nArchitecture: amd64\nVersion: 1.0-1\nPriority: optional\nSection: non-free/kernel\nMaintainer: Benchmark <benchmark@example.org>\nInstalled-Size: 1\n' "$1"
    [ -n "$2" ] && printf 'Modaliases: %s\n' "$2"
    printf 'Filename: ./%s_1.0-1_amd64.deb\nSize: 1\nDescription: %s (benchmark fixture)\n\n' "$1" "$1"
}
{
    driver bench-nvidia-driver 'nvidia(pci:v000010DEd00001C02sv*sd*bc03sc*i*, pci:v000010DEd00001C03sv*sd*bc03sc*i*)'
    driver bench-nvidia-legacy-390xx-driver 'nvidia(pci:v000010DEd00000FC6sv*sd*bc03sc*i*)'
    driver bench-nvidia-tesla-470-driver 'nvidia(pci:v000010DEd00001C03sv000010DEsd*bc03sc*i*)'
    driver bench-firmware-nvidia 'nouveau(pci:v000010DEd*sv*sd*bc03sc*i*, pci:v000012D2d*sv*sd*bc03sc*i*)'
    driver bench-firmware-amd 'amdgpu(pci:v00001002d*sv*sd*bc03sc*i*)'
    driver bench-intel-media 'i915(pci:v00008086d*sv*sd*bc03sc*i*)'
    driver bench-empty-group 'nvidia()'
    driver bench-no-aliases ''
} >"$U/repo/Packages"

# A kept universe only checks the archive's release file again.
echo "Fetching bookworm main from $ARCHIVE into $U ..."
APT_CONFIG=$U/apt.conf apt-get -q update >"$WORK/update.log" 2>&1 || { cat "$WORK/update.log" >&2; exit 1; }
PACKAGES=$(APT_CONFIG=$U/apt.conf "$PY" -c 'import apt_pkg; apt_pkg.init_config(); apt_pkg.init_system(); print(apt_pkg.Cache(None).package_count)')
LISTS=$(du -sh "$U/state/lists" | cut -f1)
echo "Universe: $PACKAGES package names, lists $LISTS, from $ARCHIVE bookworm main contrib non-free non-free-firmware + $(grep -c '^Package:' "$U/repo/Packages") fixture packages"
# nvidia-detect's id lists, unpacked from the archive's package (never installed).
rm -rf "$U/nvidia-detect" && mkdir -p "$U/nvidia-detect"
(cd "$WORK" && APT_CONFIG=$U/apt.conf apt-get -q download nvidia-detect >"$WORK/download.log" 2>&1) || { cat "$WORK/download.log" >&2; exit 1; }
dpkg-deb -x "$WORK"/nvidia-detect_*.deb "$U/nvidia-detect"
echo "AppStream: $(ls "$U"/state/lists/*dep11_Components-amd64.yml.gz | wc -l) catalogue files; id lists: $(ls "$U"/nvidia-detect/usr/share/nvidia/*.ids | wc -l) files"

# ---- the python3-apt scan: the same match as the tool's ----
cat >"$WORK/scan.py" <<'EOF'
import re, sys
import apt_pkg

def patterns(field):
    # everything up to the first "(" goes, and the first ")" with it; the rest splits on ", "
    open_ = field.find("(")
    inner = field[open_ + 1:] if open_ >= 0 else field
    close = inner.find(")")
    if close >= 0:
        inner = inner[:close] + inner[close + 1:]
    return inner.split(", ")

def matches(field, modalias):
    for pattern in patterns(field):
        if pattern and re.search(".+".join(re.escape(p) for p in pattern.split("*")), modalias):
            return True
    return False

modalias = sys.argv[1]
apt_pkg.init_config()
apt_pkg.init_system()
cache = apt_pkg.Cache(None)
depcache = apt_pkg.DepCache(cache)
records = apt_pkg.PackageRecords(cache)
found = False
for package in cache.packages:
    # the candidate's record, as the tool reads it; no candidate, no field
    version = depcache.get_candidate_ver(package)
    if version is None:
        continue
    records.lookup(version.file_list[0])
    field = apt_pkg.TagSection(records.record).get("Modaliases")
    if not field or not matches(field, modalias):
        continue
    found = True
    print(package.name + (" (installed)" if package.current_ver else ""))
if not found:
    print("Cannot find any compatible driver packages")
EOF

# ---- timing: both sides as whole processes, the first run of each untimed (warm cache) ----
BUS=0000:00:03.0
GPU="PCI:00@0000:03:0"
cat >"$WORK/tool-runs.sh" <<EOF
set -e
# Inside the private mount namespace: the catalogue and the id lists at the paths the tool
# reads, AppStream's cache on a tmpfs; nothing of the host changes.
mkdir -p "$WORK/share-upper/nvidia" "$WORK/share-work"
cp "$U"/nvidia-detect/usr/share/nvidia/*.ids "$WORK/share-upper/nvidia/"
mount -t overlay overlay -o "lowerdir=/usr/share,upperdir=$WORK/share-upper,workdir=$WORK/share-work" /usr/share
mount -t tmpfs tmpfs /var/lib/swcatalog
mkdir -p /var/lib/swcatalog/yaml
ln -s "$U"/state/lists/*dep11_Components-amd64.yml.gz /var/lib/swcatalog/yaml/
mount -t tmpfs tmpfs /var/cache/swcatalog
QT_LOGGING_RULES='corvo.*.debug=true' "$TOOL" list-packages "$GPU" >"$WORK/tool.out" 2>"$WORK/phases.err"
grep -h 'driver packages:\|list-packages:' "$WORK/phases.err" >"$WORK/phases" || true
cat /sys/bus/pci/devices/$BUS/modalias >"$WORK/modalias"
"$TOOL" list-packages "$GPU" >"$WORK/tool.out" 2>"$WORK/tool.err"
for i in \$(seq $RUNS); do
    /usr/bin/time -f '%e %U %S' -o "$WORK/time.one" "$TOOL" list-packages "$GPU" >"$WORK/tool.out" 2>"$WORK/tool.err"
    awk '{ printf "%d %d\\n", \$1 * 1000, (\$2 + \$3) * 1000 }' "$WORK/time.one"
done >"$WORK/tool.runs"
cut -d' ' -f1 "$WORK/tool.runs" >"$WORK/tool.ms"
cut -d' ' -f2 "$WORK/tool.runs" >"$WORK/tool.cpu"
# The installer as the Install button opens it, offscreen: from the press to the filled list.
if [ -x "$TIMING" ]; then
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='corvo.*.debug=true' "$TIMING" "\$(cat "$WORK/modalias")" >"$WORK/installer.first" 2>"$WORK/installer.err" || true
    grep -h 'installer:' "$WORK/installer.err" >"$WORK/installer.phases" || true
    for i in \$(seq $RUNS); do
        QT_QPA_PLATFORM=offscreen "$TIMING" "\$(cat "$WORK/modalias")" 2>/dev/null | cut -d' ' -f1
    done >"$WORK/installer.ms"
fi
EOF
APT_CONFIG=$U/apt.conf LANGUAGE=C LC_ALL=C.UTF-8 "$TOP/autotests/harness/gpu-fixture.sh" \
    --gpu "$BUS,10de,1c03,030000,nouveau,1043,85bf" --alias "pci:v000010DEd*sv*sd*bc03sc*i* nouveau" \
    --x-owner user --no-system-bus -- bash "$WORK/tool-runs.sh"
MODALIAS=$(cat "$WORK/modalias")

APT_CONFIG=$U/apt.conf "$PY" "$WORK/scan.py" "$MODALIAS" >"$WORK/python.out"
for i in $(seq "$RUNS"); do
    APT_CONFIG=$U/apt.conf /usr/bin/time -f '%e %U %S' -o "$WORK/time.one" "$PY" "$WORK/scan.py" "$MODALIAS" >"$WORK/python.out"
    awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' "$WORK/time.one"
done >"$WORK/python.runs"
cut -d' ' -f1 "$WORK/python.runs" >"$WORK/python.ms"
cut -d' ' -f2 "$WORK/python.runs" >"$WORK/python.cpu"

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
TOOL_MS=$(median "$WORK/tool.ms")
PY_MS=$(median "$WORK/python.ms")
echo "Adapter: $GPU ($MODALIAS)"
echo "Phases of the untimed first run (debug log):"
sed 's/^/    /' "$WORK/phases"
echo "corvo-admin-driver list-packages: median ${TOOL_MS} ms over $RUNS runs ($(paste -sd' ' "$WORK/tool.ms") ms)"
echo "python3-apt scan:                 median ${PY_MS} ms over $RUNS runs ($(paste -sd' ' "$WORK/python.ms") ms)"
awk -v t="$TOOL_MS" -v p="$PY_MS" 'BEGIN { printf "ratio python3-apt / tool: %.2fx (aim: at least 3x, tool under 1000 ms)\n", (t > 0 ? p / t : 0) }'
# On a shared, busy machine the wall clock mostly measures the wait for a processor; the
# processor time (user + system) of each side does not.
TOOL_CPU=$(median "$WORK/tool.cpu")
PY_CPU=$(median "$WORK/python.cpu")
echo "processor time (user + system), medians: tool ${TOOL_CPU} ms, python3-apt ${PY_CPU} ms; load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v t="$TOOL_CPU" -v p="$PY_CPU" 'BEGIN { printf "ratio of processor times: %.2fx\n", (t > 0 ? p / t : 0) }'
if [ -s "$WORK/installer.ms" ]; then
    echo "Installer, press to filled list (offscreen): median $(median "$WORK/installer.ms") ms over $RUNS runs ($(paste -sd' ' "$WORK/installer.ms") ms), $(cut -d' ' -f2 "$WORK/installer.first") choice(s)"
    sed 's/^/    /' "$WORK/installer.phases"
fi
if diff <(sort "$WORK/tool.out") <(sort "$WORK/python.out") >"$WORK/diff"; then
    echo "Both list the same $(wc -l <"$WORK/tool.out") line(s):"
    sed 's/^/    /' "$WORK/tool.out"
else
    echo "The lists differ (tool -, python3-apt +):"
    cat "$WORK/diff"
    if [ -s "$WORK/tool.err" ]; then echo "tool's standard error:"; cat "$WORK/tool.err"; fi
fi
