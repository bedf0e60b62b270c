#!/usr/bin/env bash
# --report and the run's history: the page a run writes holds everything it
# shows (no reference outside it), draws its pictures and plots in headless
# Chromium without a console message, and leaves the video as it is without
# the page; Matroska and QuickTime outputs carry the version, the settings and
# automatic strength's scenes in their tags.
set -euo pipefail
velvane=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
pictures() { ffmpeg -v error -i "$1" -map 0:v -f rawvideo - | md5sum; }

# An NTSC DV clip of two scenes, with grain.
ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=0.8" \
  -f lavfi -i "smptebars=size=720x480:rate=30000/1001:duration=0.8" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1.6" \
  -filter_complex "[0:v][1:v]concat=n=2:v=1,noise=alls=10:allf=t[v]" -map "[v]" -map 2:a -target ntsc-dv in.dv

"$velvane" -q --strength auto --report page.html in.dv out.mkv
"$velvane" -q --strength auto in.dv plain.mkv
[ "$(pictures out.mkv)" = "$(pictures plain.mkv)" ] || fail "--report changed the video"

# Self-contained: nothing fetched, every picture a data URI.
sed -E 's#data:image/png;base64,[A-Za-z0-9+/=]*#DATA#g' page.html >text.html
! grep -qi 'http' text.html || fail "the page names http: $(grep -oi '.\{30\}http.\{30\}' text.html | head -1)"
outside=$(grep -o 'src="[^"]\{0,5\}' page.html | grep -vc 'src="data:' || true)
[ "$outside" = 0 ] || fail "$outside pictures are not data URIs"
[ "$(grep -o 'src="data:image/png;base64,' page.html | wc -l)" -ge 10 ] || fail "too few pictures in the page"
[ "$(grep -c 'the start of a scene' page.html)" -ge 1 ] || fail "no picture at the scene change"
# What each picture says was removed is what was: the RMS of input minus
# output in its frame's luma, measured here on the whole frame.
ffmpeg -v error -i in.dv -f rawvideo in.yuv # 4:1:1, as the tape holds it (gray would stretch the range)
ffmpeg -v error -i out.mkv -f rawvideo out.yuv
grep -o '<h3>Frame [0-9]*,[^<]*<small>([0-9.]* RMS' page.html | sed -E 's/<h3>Frame ([0-9]+),.*\(([0-9.]+) RMS/\1 \2/' \
  | python3 -c '
import math, sys
size, frame = 720 * 480, 720 * 480 * 3 // 2
a, b = open("in.yuv", "rb").read(), open("out.yuv", "rb").read()
for line in sys.stdin:
    n, said = int(line.split()[0]), float(line.split()[1])
    x, y = a[n * frame:n * frame + size], b[n * frame:n * frame + size]
    rms = math.sqrt(sum((p - q) ** 2 for p, q in zip(x, y)) / size)
    if not rms > 1 or abs(said - rms) > 0.05 * rms:
        sys.exit(f"frame {n}: the page says {said} RMS removed, the files {rms:.3f}")
' || fail "the removed RMS in the page"
size=$(stat -c %s page.html)
[ "$size" -lt 6000000 ] || fail "the page takes $size bytes"

# The history in the Matroska tags and, for each measured scene, a chapter.
tag() { ffprobe -v error -show_entries "format_tags=$2" -of default=nw=1:nk=1 "$1"; }
case "$(tag out.mkv VELVANE_VERSION)" in "velvane "*) ;; *) fail "no VELVANE_VERSION tag in the MKV" ;; esac
case "$(tag out.mkv VELVANE_SETTINGS)" in *"--luma-low"*) fail "auto's thresholds written as fixed" ;;
  *"--hue 0"*"--strength auto"*) ;; *) fail "VELVANE_SETTINGS: $(tag out.mkv VELVANE_SETTINGS)" ;; esac
chapters=$(ffprobe -v error -show_entries chapter_tags=title -of default=nw=1:nk=1 out.mkv)
[ "$(grep -c 'noise .* luma .* chroma.*--luma-low' <<<"$chapters")" -ge 2 ] \
  || fail "expected a chapter for each of the two scenes: $chapters"
starts=$(ffprobe -v error -show_entries chapter=start_time -of csv=p=0 out.mkv | tr '\n' ' ')
[ "$starts" = "0.000000 0.800800 " ] || fail "the scenes' chapters start at $starts, not 0 and frame 24"
# QuickTime writes them at the end, as one tag.
"$velvane" -q --strength auto --luma-low 12 in.dv out.mov
[ "$(tag out.mov VELVANE_SCENES | grep -c 'noise')" -ge 2 ] || fail "no VELVANE_SCENES in the MOV"
case "$(tag out.mov VELVANE_SETTINGS)" in *"--luma-low 12 "*"--strength auto"*) ;; *) fail "MOV settings" ;; esac

# A stream of unknown length through the planes path, a report all the same.
ffmpeg -v error -i in.dv -pix_fmt yuv422p -f yuv4mpegpipe - | "$velvane" -q --report pipe.html - pipe.y4m
[ "$(grep -o 'src="data:image/png' pipe.html | wc -l)" -ge 5 ] || fail "no pictures for a stream"
# A page that cannot be written fails the run before it writes anything.
if "$velvane" -q --report missing/page.html in.dv none.mkv 2>err.txt; then fail "an unwritable page passed"; fi
grep -q 'cannot write missing/page.html' err.txt || fail "message: $(cat err.txt)"
[ ! -e none.mkv ] || fail "the output was written without its page"
# Nor does the page take the place of the input or the output.
sum=$(md5sum <in.dv)
if "$velvane" -q --report in.dv in.dv none.mkv 2>/dev/null; then fail "a page over the input passed"; fi
if "$velvane" -q --report out.mkv in.dv out.mkv 2>/dev/null; then fail "a page over the output passed"; fi
[ "$(md5sum <in.dv)" = "$sum" ] && [ ! -e none.mkv ] || fail "a refused page touched the files"

# Drawn in a browser, from disk, with no network.
if ! command -v chromium >/dev/null; then
  if [ -n "${CI:-}" ] || [ "${VELVANE_REQUIRE_TOOLS:-0}" = 1 ]; then
    fail "chromium is missing: install the setup group test (bash scripts/setup.sh test)"
  fi
  echo "SKIP: chromium is not installed (bash scripts/setup.sh test); the page itself passed"
  exit 77
fi
browse() {
  local profile
  profile=$(mktemp -d)
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
    --enable-logging=stderr --v=0 --window-size=1280,2000 "$@" || true
  rm -rf "$profile"
}
browse --virtual-time-budget=5000 --dump-dom "file://$work/page.html" >dom.html 2>browser.txt
check=$(grep -o 'id="selfcheck">[^<]*' dom.html | sed 's/.*>//' || true)
case "$check" in "page check: ok, "*" plots drawn") ;; *) fail "in Chromium: ${check:-no page check}" ;; esac
# Three plots, and the motion's: on this grain automatic strength averages along the motion.
grep -q '4 plots drawn' <<<"$check" || fail "not every plot drawn: $check"
! grep -q 'CONSOLE' browser.txt || fail "console messages: $(grep CONSOLE browser.txt)"
browse --screenshot="$work/shot.png" "file://$work/page.html" >/dev/null 2>&1
[ "$(stat -c %s shot.png 2>/dev/null || echo 0)" -gt 100000 ] || fail "no screenshot, or a blank one"
echo "report: self-contained, $check, no console messages; tags and chapters in MKV and MOV"
