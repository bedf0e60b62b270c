#!/usr/bin/env bash
# velvane batch against real engines. Each group runs on its own:
#   batch_test.sh VELVANE local     bad manifests refused, fixity against ffmpeg, --verify after one
#                                   flipped byte, the lock, a run killed mid-tape, GNU parallel with a
#                                   broken clip and a signal
#   batch_test.sh VELVANE slurm     a single-node Slurm cluster on localhost: the same five clips as
#                                   arrays, then a cancelled run resubmitted twice
# What the engines say is never trusted alone: every check reads the tapes' folders.
set -euo pipefail
velvane=$1
group=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cleanup() { [ "$group" = slurm ] && slurm_stop "$work/cluster"; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
missing() { sh "$here/../support/missing_tool.sh" "$1" "$2"; exit $?; }

command -v ffmpeg >/dev/null || missing "ffmpeg not found" test
command -v parallel >/dev/null || missing "GNU parallel not found" batch

# Tiny clips: five, of which `broken` is cut short inside its header.
clips() { # DIR FRAMES
  mkdir -p "$1"
  for i in 1 2 3 4; do
    ffmpeg -v error -f lavfi -i "testsrc2=size=352x240:rate=30000/1001,noise=alls=$((4 * i)):allf=t" \
      -frames:v "$2" -c:v ffv1 -pix_fmt yuv422p "$1/tape$i.mkv"
  done
  head -c 3000 "$1/tape1.mkv" >"$1/broken.mkv"
  printf 'id\tinput\toptions\n' >"$1/manifest.tsv"
  for i in 1 2; do printf 'tape%s\ttape%s.mkv\t--strength custom\n' $i $i >>"$1/manifest.tsv"; done
  printf 'broken\tbroken.mkv\t--strength auto\n' >>"$1/manifest.tsv"
  for i in 3 4; do printf 'tape%s\ttape%s.mkv\t--strength auto\n' $i $i >>"$1/manifest.tsv"; done
}

# Every master in OUT is finished (its status says done and its checksums
# match what ffmpeg decodes), or absent: nothing half-written looks finished.
no_partial_master() { # OUT
  local d
  for d in "$1"/*/; do
    [ -e "$d/master.mkv" ] || continue
    grep -q $'^status\tdone$' "$d/status.txt" || fail "$d holds master.mkv, but its status is not done"
    (cd "$d" && md5sum -c --quiet master.md5) || fail "$d: master.md5 does not match the master"
  done
  for d in "$1"/*/master.partial.* "$1"/*/.master*; do
    if [ -e "$d" ]; then fail "a temporary master was left: $d; $(tail -n 2 "${d%/*}/log.txt")"; fi
  done
}

# Stops a tape's run while its master is still being written, however fast
# the machine, and prints its pid; the caller lets it go (kill -CONT).
hold_mid_run() { # OUT SECONDS
  local i lock t pid
  for i in $(seq $((10 * $2))); do
    for lock in "$1"/*/.lock; do
      t=${lock%/.lock}
      ls "$t"/.master.partial.*.velvane-* >/dev/null 2>&1 || continue
      pid=$(sed -n 's/.*(pid \([0-9]*\)).*/\1/p' "$lock")
      kill -STOP "$pid" 2>/dev/null || continue
      if ls "$t"/.master.partial.*.velvane-* >/dev/null 2>&1; then echo "$pid"; return 0; fi
      kill -CONT "$pid"
    done
    sleep 0.1
  done
  return 1
}

# The five-clip run's outcome: four masters verified, the broken one failed,
# the index says so and exits non-zero.
check_five() { # OUT
  local out=$1 t code
  for t in tape1 tape2 tape3 tape4; do
    grep -q $'^status\tdone$' "$out/$t/status.txt" || fail "$t is not done: $(cat "$out/$t/status.txt")"
    (cd "$out/$t" && md5sum -c --quiet master.md5) || fail "$t: md5sum -c master.md5"
    [ "$(grep -c '^0,' "$out/$t/master.framemd5")" = "$(grep $'^frames\t' "$out/$t/status.txt" | cut -f2)" ] \
      || fail "$t: the framemd5 and the status count different frames"
    [ -s "$out/$t/report.html" ] || fail "$t: no report page"
  done
  grep -q $'^status\tfailed$' "$out/broken/status.txt" || fail "broken is not failed"
  grep -q 'no video frame can be read' "$out/broken/log.txt" || fail "broken's log does not say why"
  [ ! -e "$out/broken/master.mkv" ] || fail "the broken tape has a master"
  code=0
  "$velvane" batch index "$dir/manifest.tsv" --out "$out" >index.txt || code=$?
  [ "$code" = 1 ] || fail "the index exits $code with a failed tape"
  [ "$(awk -F'\t' 'NR > 1 && $2 == "done"' "$out/summary.tsv" | wc -l)" = 4 ] || fail "summary: $(cat "$out/summary.tsv")"
  grep -q $'^broken\tfailed\t' "$out/summary.tsv" || fail "summary does not list broken as failed"
  # Noise as automatic strength measured it (tape4), or on the first frames
  # (tape1, fixed settings): more grain was added to tape4.
  awk -F'\t' '$1 == "tape1" {a = $6; m = $10} $1 == "tape4" {b = $6; n = $10}
    END {exit !(a > 0 && b > a && m == "the first frames" && n == "1 scene")}' "$out/summary.tsv" \
    || fail "the noise measured: $(cut -f1,6,10 "$out/summary.tsv")"
  grep -q 'href="tape1/report.html"' "$out/index.html" || fail "index.html links no report page"
  ! grep -qiE '(src|href)="https?:' "$out/index.html" || fail "index.html reaches outside itself"
  no_partial_master "$out"
}

if [ "$group" = local ]; then
  dir=$work/five
  clips "$dir" 6

  # --- Bad manifests are refused before any job starts, naming the row.
  refused() { # MESSAGE-PATTERN: the manifest in bad.tsv
    local code=0
    "$velvane" batch check bad.tsv >/dev/null 2>err.txt && fail "check took a manifest with $1"
    grep -qE "$1" err.txt || fail "check's message: $(cat err.txt) (wanted $1)"
    code=0; "$velvane" batch jobs slurm bad.tsv --out badout >jobs.txt 2>/dev/null || code=$?
    [ "$code" = 2 ] && [ ! -s jobs.txt ] || fail "jobs printed a description for a manifest with $1"
    [ ! -e badout ] || fail "a job description made the run's folder"
  }
  cp "$dir"/*.mkv .
  printf 'id\tinput\na\ttape1.mkv\nb\ttape2.mkv\na\ttape3.mkv\n' >bad.tsv; refused 'line 4: the id .a. is also the id of an earlier row \(line 2\)'
  printf 'id\tinput\na b\ttape1.mkv\n' >bad.tsv; refused "line 2: the id 'a b' is not one"
  printf 'id\tinput\n../a\ttape1.mkv\n' >bad.tsv; refused "line 2: the id '../a' is not one"
  printf 'id\tinput\na\ttape1.mkv\nb\tnot-there.mkv\n' >bad.tsv; refused 'line 3 \(b\): the input .*not-there.mkv: No such file'
  printf 'id\tinput\toptions\na\ttape1.mkv\t--luma-low 999\n' >bad.tsv; refused 'line 2 \(a\): the options .--luma-low 999. are refused: .*luma-low'
  printf 'id\tinput\toptions\na\ttape1.mkv\t--report x.html\n' >bad.tsv; refused 'line 2 \(a\): --report is not taken'
  printf 'id\tinput\toptions\na\ttape1.mkv\t--no-such-option\n' >bad.tsv; refused 'line 2 \(a\): the options .* are refused'
  printf 'id\tinput\toptions\na\ttape1.mkv\t--encoder "ffv1\n' >bad.tsv; refused 'line 2 \(a\): an unclosed double quote'
  printf 'id,input\na,tape1.mkv\n' >bad.tsv; refused 'line 1: the header'
  printf 'id\tinput\na\ttape1.mkv\textra\tcolumns\n' >bad.tsv; refused 'line 2: 4 columns'
  # A run of one row refuses a manifest whose form is bad anywhere, and a changed manifest.
  printf 'id\tinput\na\ttape1.mkv\na\ttape2.mkv\n' >bad.tsv
  ! "$velvane" batch run bad.tsv --out badout --index 0 2>/dev/null || fail "run took a manifest with a duplicate id"
  [ ! -e badout ] || fail "a refused run made the run's folder"
  code=0; "$velvane" batch run "$dir/manifest.tsv" --out badout --index 0 --expect-manifest 0123 2>err.txt || code=$?
  [ "$code" = 2 ] && grep -q 'changed since its jobs were made' err.txt || fail "run took a manifest the jobs did not expect"
  echo "ok: bad manifests refused"

  # --- plan: media files found all the way down, ids unique, inputs absolute.
  mkdir -p lib/a lib/b/c
  cp tape1.mkv lib/a/reel.mkv; cp tape2.mkv lib/b/c/reel.mkv; cp tape3.mkv "lib/b/Reel 7.MOV"; echo x >lib/a/notes.txt
  (cd lib && "$velvane" batch plan a b) >plan.tsv
  [ "$(cut -f1 plan.tsv | tr '\n' ' ')" = "id reel Reel-7 reel-2 " ] || fail "plan's ids: $(cat plan.tsv)"
  [ "$(cut -f2 plan.tsv | grep -c "^$work/lib/")" = 3 ] || fail "plan's inputs: $(cat plan.tsv)"
  "$velvane" batch check plan.tsv >/dev/null || fail "check refused plan's manifest"

  # --- GNU parallel, two slots: the command line `batch jobs parallel` prints.
  out=$work/par
  "$velvane" batch jobs parallel "$dir/manifest.tsv" --out "$out" >par.sh
  grep -q 'parallel --jobs 2 ' par.sh || fail "the parallel line: $(cat par.sh)"
  code=0; sh par.sh >par.txt 2>&1 || code=$?
  [ "$code" != 0 ] || fail "the parallel line exits 0 with a broken tape"
  check_five "$out"
  # The masters' video, frame by frame, as ffmpeg decodes it.
  ffmpeg -v error -i "$out/tape4/master.mkv" -map 0:v:0 -flags +bitexact -fflags +bitexact -f framemd5 - \
    | cmp -s - "$out/tape4/master.framemd5" || fail "master.framemd5 differs from ffmpeg's framemd5"
  # Again: the finished tapes are skipped, the broken one fails again.
  stamp=$(stat -c %Y.%i "$out"/tape*/master.mkv "$out"/tape*/status.txt | md5sum)
  sh par.sh >par2.txt 2>&1 || true
  [ "$(grep -c 'finished already' par2.txt)" = 4 ] || fail "a second run did not skip the four: $(cat par2.txt)"
  [ "$(stat -c %Y.%i "$out"/tape*/master.mkv "$out"/tape*/status.txt | md5sum)" = "$stamp" ] \
    || fail "a skipped tape was written again"
  echo "ok: GNU parallel, five clips, one broken"

  # --- One flipped byte, its time put back: only --verify finds it, and only that tape is redone.
  f=$out/tape2/master.mkv
  size=$(stat -c %s "$f")
  byte=$(od -An -tu1 -j $((size / 2)) -N1 "$f" | tr -d ' ')
  touch -r "$f" ref
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$f" bs=1 seek=$((size / 2)) conv=notrunc status=none
  touch -r ref "$f"
  "$velvane" batch index "$dir/manifest.tsv" --out "$out" >/dev/null || true
  grep -q $'^tape2\tdone' "$out/summary.tsv" || fail "the fast check saw the flipped byte (size and time are kept)"
  code=0; "$velvane" batch index "$dir/manifest.tsv" --out "$out" --verify >idx.txt || code=$?
  [ "$code" = 1 ] && grep -q $'^tape2\tstale\t.*MD5' "$out/summary.tsv" || fail "index --verify missed the flipped byte"
  others=$(stat -c %Y.%i "$out"/tape[134]/master.mkv | md5sum)
  for id in tape1 tape2 tape3 tape4; do "$velvane" batch run "$dir/manifest.tsv" --out "$out" --id "$id" --verify 2>>verify.txt; done
  [ "$(grep -c 'finished already' verify.txt)" = 3 ] && grep -q 'tape2: done' verify.txt || fail "--verify: $(cat verify.txt)"
  [ "$(stat -c %Y.%i "$out"/tape[134]/master.mkv | md5sum)" = "$others" ] || fail "--verify redid a sound tape"
  (cd "$out/tape2" && md5sum -c --quiet master.md5) || fail "tape2 was not redone whole"
  grep -q $'^redone_because\tthe master.s MD5 is' "$out/tape2/status.txt" || fail "tape2's status does not say why it was redone"
  echo "ok: --verify finds one flipped byte and redoes that tape only"

  # --- A signal to the whole parallel run (as a job's end sends), then a rerun.
  long=$work/long
  # Long enough to be caught mid-run by polling.
  clips "$long" 200
  out=$work/sig
  "$velvane" batch jobs parallel "$long/manifest.tsv" --out "$out" >sig.sh
  setsid sh sig.sh >sig.txt 2>&1 &
  pid=$!
  held=$(hold_mid_run "$out" 30) || fail "no tape was seen mid-run: $(cat sig.txt)"
  kill -TERM -- -"$pid"
  kill -CONT "$held" 2>/dev/null || true # the engine may have let it go, and it ended
  wait "$pid" || true
  # The shell returns at once; the tapes' runs end once they have said what
  # became of their masters, and let go of their locks then.
  for lock in "$out"/*/.lock; do flock -w 60 "$lock" true || fail "$lock is still held"; done
  no_partial_master "$out"
  grep -q 'interrupted at frame' "$out"/*/log.txt || fail "no tape was interrupted mid-run: $(tail -n 3 "$out"/*/log.txt)"
  code=0; "$velvane" batch index "$long/manifest.tsv" --out "$out" >idx.txt || code=$?
  [ "$code" = 1 ] && grep -qE 'interrupted|missing' idx.txt || fail "the index after a signal: $(cat idx.txt)"
  sh sig.sh >sig2.txt 2>&1 || true
  dir=$long check_five "$out"

  # --- The lock: a second job on a tape in work is turned away; a job killed
  # outright leaves a lock that does not hold the retry back.
  rm -rf "$out/tape3"
  "$velvane" batch run "$long/manifest.tsv" --out "$out" --id tape3 2>/dev/null &
  pid=$!
  for i in $(seq 300); do ls "$out"/tape3/.master.partial.mkv.velvane-* >/dev/null 2>&1 && break; sleep 0.1; done
  kill -STOP "$pid" || fail "tape3's run ended before it was seen at work" # held there, with its lock
  code=0; "$velvane" batch run "$long/manifest.tsv" --out "$out" --id tape3 2>busy.txt || code=$?
  [ "$code" = 3 ] && grep -q 'busy: pid [0-9]* on' busy.txt || fail "a second job on a tape in work: exit $code, $(cat busy.txt)"
  "$velvane" batch index "$long/manifest.tsv" --out "$out" >idx.txt || true
  grep -q 'tape3: running: by pid' idx.txt || fail "the index does not see tape3 running: $(cat idx.txt)"
  kill -KILL "$pid"
  wait "$pid" || true
  "$velvane" batch run "$long/manifest.tsv" --out "$out" --id tape3 2>/dev/null || fail "the retry after a killed job"
  no_partial_master "$out"
  echo "ok: a signal under parallel, the lock"

  # --- Kubernetes, on paper: an Indexed Job of the five rows.
  "$velvane" batch jobs kubernetes "$dir/manifest.tsv" --out /archive/out --slots 3 --image reg/velvane:1 >k8s.yaml
  for want in 'completionMode: Indexed' 'completions: 5' 'parallelism: 3' 'image: reg/velvane:1' \
    "\"--expect-manifest\", \"$(md5sum <"$dir/manifest.tsv" | cut -d' ' -f1)\"" '"batch", "index"' 'restartPolicy: Never'; do
    grep -qF -- "$want" k8s.yaml || fail "the Kubernetes manifest lacks $want"
  done
  [ "$(grep -c '^kind: Job' k8s.yaml)" = 2 ] || fail "the Kubernetes manifest is not two Jobs"
  # The index a pod gets is the row it runs.
  JOB_COMPLETION_INDEX=2 "$velvane" batch run "$dir/manifest.tsv" --out k8s 2>/dev/null && fail "row 2 (broken) ran fine"
  [ -e k8s/broken/status.txt ] && [ ! -e k8s/tape1 ] || fail "JOB_COMPLETION_INDEX=2 ran another row"
  echo "ok: Kubernetes on paper"
  exit 0
fi

# --- Slurm, a single-node cluster of our own.
[ "$group" = slurm ] || fail "no group '$group' (local, slurm)"
for tool in munged slurmctld slurmd sbatch; do command -v $tool >/dev/null || missing "$tool not found" batch; done
[ "$(id -u)" = 0 ] || missing "the Slurm test starts its daemons as root; it runs as $(id -un)" batch
# shellcheck source=slurm_cluster.sh
. "$here/slurm_cluster.sh"
mkdir -p cluster
slurm_start "$work/cluster"
# Submits the printed script and waits for every job of it to end (at most
# 180 s: the sanitizer build filters several times slower).
submit() { # SCRIPT
  local i
  sh "$1" >submitted.txt || fail "sbatch refused the script: $(cat "$1")"
  for i in $(seq 720); do
    [ -z "$(squeue -h -o %i)" ] && return 0
    sleep 0.25
  done
  fail "the jobs did not end in 180 s: $(squeue)"
}

dir=$work/five
clips "$dir" 6
out=$work/slurm
# Blocks of three tasks: two arrays, the second started at an offset.
"$velvane" batch jobs slurm "$dir/manifest.tsv" --out "$out" --array-size 3 >five.sh
grep -q -- '--array=0-2%2 ' five.sh && grep -q -- '--array=0-1%2 ' five.sh && grep -q -- '--offset 3' five.sh \
  && grep -q -- '--dependency=afterany$jobs' five.sh || fail "the Slurm script: $(cat five.sh)"
submit five.sh
check_five "$out"
grep -q $'^job\tslurm [0-9]*_[0-9]$' "$out/tape4/status.txt" || fail "tape4's status names no Slurm job"
grep -q '1 failed' "$out"/slurm/index-*.out || fail "the index job's output: $(cat "$out"/slurm/index-*.out)"
echo "ok: Slurm, five clips, one broken"

# A run cancelled mid-tape, then resubmitted twice.
long=$work/long
# Long enough to be caught mid-run by polling.
clips "$long" 200
out=$work/cancel
"$velvane" batch jobs slurm "$long/manifest.tsv" --out "$out" >long.sh
sh long.sh >submitted.txt
held=$(hold_mid_run "$out" 60) || fail "no tape started in 60 s: $(squeue)"
scancel --name=velvane
scancel --name=velvane-index
kill -CONT "$held" 2>/dev/null || true # the engine may have let it go, and it ended
for i in $(seq 240); do [ -z "$(squeue -h -o %i)" ] && break; sleep 0.25; done
[ -z "$(squeue -h -o %i)" ] || fail "the cancelled jobs did not end in 60 s: $(squeue)"
no_partial_master "$out"
grep -qs 'interrupted at frame' "$out"/*/log.txt || fail "scancel ended no tape mid-run"
submit long.sh
dir=$long check_five "$out"
stamp=$(stat -c %Y.%i "$out"/tape*/status.txt "$out"/tape*/master.mkv | md5sum)
touch marker
submit long.sh
[ "$(find "$out/slurm" -name '*_*.out' -newer marker -exec cat {} + | grep -c 'finished already')" = 4 ] \
  || fail "the second resubmission did not skip the four finished tapes"
[ "$(stat -c %Y.%i "$out"/tape*/status.txt "$out"/tape*/master.mkv | md5sum)" = "$stamp" ] \
  || fail "the second resubmission wrote a finished tape again"
echo "ok: Slurm, cancelled, resubmitted, resubmitted again"
