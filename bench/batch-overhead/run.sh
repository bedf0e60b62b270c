#!/usr/bin/env bash
# What velvane batch costs per tape over the plain command: N short NTSC DV
# clips (720 x 480, FRAMES frames each), each filtered as its own process, as
# an engine runs them:
#   plain    velvane IN OUT.mkv
#   report   velvane --report PAGE IN OUT.mkv       (the page every batch tape gets)
#   batch    velvane batch run MANIFEST --out DIR --id ID
#                                                   (lock, status, report page, MD5 and
#                                                   framemd5 of the decoded master)
#   skip     the same again over the finished run: every tape skipped
# Prints wall-clock seconds and processor seconds (user + system) per tape;
# on a shared machine the processor time is the steadier figure.
#   bench/batch-overhead/run.sh [VELVANE] [N] [FRAMES]
set -euo pipefail
velvane=$(realpath "${1:-build/cli/velvane}")
n=${2:-50}
frames=${3:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001,noise=alls=10:allf=t" -frames:v "$frames" \
  -target ntsc-dv clip.dv
printf 'id\tinput\toptions\n' >manifest.tsv
for i in $(seq -w 1 "$n"); do
  cp clip.dv "tape$i.dv"
  printf 'tape%s\ttape%s.dv\t\n' "$i" "$i" >>manifest.tsv
done
python3 - "$velvane" "$n" "$frames" <<'PY'
import os, resource, subprocess, sys, time
velvane, n, frames = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
ids = [f"{i:0{len(str(n))}d}" for i in range(1, n + 1)]
def measure(make):
    cpu0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    for i in ids:
        r = subprocess.run(make(i), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if r.returncode:
            sys.exit(f"{make(i)} exited {r.returncode}")
    wall = (time.monotonic() - t0) / n
    cpu1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (cpu1.ru_utime - cpu0.ru_utime + cpu1.ru_stime - cpu0.ru_stime) / n
runs = {
    "plain": measure(lambda i: [velvane, "-q", f"tape{i}.dv", f"plain{i}.mkv"]),
    "report": measure(lambda i: [velvane, "-q", "--report", f"page{i}.html", f"tape{i}.dv", f"report{i}.mkv"]),
    "batch": measure(lambda i: [velvane, "batch", "run", "manifest.tsv", "--out", "out", "--id", f"tape{i}"]),
    "skip": measure(lambda i: [velvane, "batch", "run", "manifest.tsv", "--out", "out", "--id", f"tape{i}"]),
}
print(f"{n} tapes of {frames} frames, 720 x 480 NTSC DV; seconds a tape, wall clock and processor (load {os.getloadavg()[0]:.1f})")
for name, (wall, cpu) in runs.items():
    print(f"  {name:8} {wall:6.3f} wall {cpu:6.3f} processor")
pw, pc = runs["plain"]
for name in ("report", "batch"):
    w, c = runs[name]
    print(f"  {name} over plain: {w - pw:+.3f} wall {c - pc:+.3f} processor")
bw, bc = runs["batch"]
rw, rc = runs["report"]
print(f"  batch over report (locks, status, fixity): {bw - rw:+.3f} wall {bc - rc:+.3f} processor")
PY
