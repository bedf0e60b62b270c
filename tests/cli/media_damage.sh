#!/usr/bin/env bash
# velvane on damaged media files, made here from clean ones: nothing is lost
# without a word. Each row of the table damages a file one way and says what
# the run must do: its exit status, the frames it writes, and what it names.
# Where the damage reaches the picture, the frames named must be exactly
# those that ffmpeg decodes differently from the clean file.
set -euo pipefail
velvane=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
frames() { ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
apackets() { ffmpeg -v error -i "$1" -map 0:a -c copy -f framemd5 - | grep -vc '^#' || true; }
# The frames ffmpeg decodes differently in $1 than in $2, as velvane lists them ("4-11, 20").
differ() {
  paste -d' ' <(ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6) \
              <(ffmpeg -v error -i "$2" -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6) \
    | awk 'function put() { if (s != "") out = out (out == "" ? "" : ", ") s (e != s ? "-" e : "") }
           $1 != $2 { n = NR - 1; if (s != "" && n == e + 1) e = n; else { put(); s = n; e = n } }
           END { put(); print out }'
}
named() { sed -n 's/.* damaged, .*(--damage error stops at the first): frames\? \([-0-9, ]*\);.*/\1/p' err; }

# Clean sources: MPEG-2 with MPEG audio in a transport stream, FFV1 version 1
# with PCM or MPEG audio in AVI and with PCM in Matroska, and an NTSC DV tape.
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
  -t 2 -c:v mpeg2video -q:v 3 -c:a mp2 -b:a 384k -f mpegts a.ts
# The same with B frames, shown before the frame after them they are predicted from.
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=25" -t 2 -c:v mpeg2video -bf 2 -q:v 3 -f mpegts b.ts
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 2 \
  -c:v ffv1 -level 1 -c:a pcm_s16le f1.avi
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 2 \
  -c:v ffv1 -level 1 -c:a mp2 -b:a 192k f2.avi
# Matroska gets random track and segment IDs, whose bytes may look like the
# elements damage.py looks for: bitexact makes them the same on every run.
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 1 \
  -c:v ffv1 -c:a pcm_s16le -fflags +bitexact m.mkv
# Undamaged, for what must not be said: sound running on past the picture.
ffmpeg -v error -f lavfi -i "testsrc2=size=32x16:rate=25" -f lavfi -i "sine=sample_rate=8000" -frames:v 3 -shortest \
  -c:v ffv1 -c:a pcm_s16le -fflags +bitexact s.mkv
ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -f lavfi -i "sine=sample_rate=48000" \
  -t 0.5 -target ntsc-dv d.dv

# damage.py IN OUT HOW: one way of damaging a file.
cat > damage.py <<'PY'
import sys
src, dst, how = sys.argv[1], sys.argv[2], sys.argv[3]
d = bytearray(open(src, 'rb').read())
def pids(pid):
    return [i for i in range(len(d) // 188) if ((d[i * 188 + 1] & 0x1f) << 8 | d[i * 188 + 2]) == pid]
kind, _, arg = how.partition(':')
if kind == 'none':
    pass
elif kind in ('drop-audio', 'drop-video'):   # one transport packet of the sound or the picture, at a share of it
    p = pids(0x101 if kind == 'drop-audio' else 0x100)
    i = p[int(len(p) * float(arg))]
    d[i * 188:(i + 1) * 188] = b''
elif kind == 'zero-audio':                  # 512 bytes from the start of a packet of the sound
    i = pids(0x101)[len(pids(0x101)) // 2] * 188
    d[i:i + 512] = bytes(512)
elif kind == 'cut':                         # the file's first share, as it comes
    d = d[:int(len(d) * float(arg))]
elif kind == 'cut-packets':                 # the first share in whole transport packets
    d = d[:int(len(d) * float(arg)) // 188 * 188]
elif kind == 'zero':                        # a share of the file zeroed from its middle
    n = int(len(d) * float(arg)); o = len(d) // 2
    d[o:o + n] = bytes(n)
elif kind == 'flip':                        # a byte at a share of the file
    d[int(len(d) * float(arg))] ^= 0x55
elif kind == 'sound-kind':                  # the sound track's codec name in a Matroska header
    d[d.find(b'A_PCM') + 2] ^= 1
elif kind == 'track-size':                  # the size of the sound's track entry
    d[d.rfind(b'\xae', 0, d.find(b'A_PCM')) + 3] ^= 4
elif kind == 'codec-id-element':            # the ID of the element naming the sound's codec (the track vanishes)
    d[d.find(b'A_PCM') - 2] ^= 1
elif kind == 'track-type':                  # the sound track's type, now one no demuxer knows
    d[d.find(b'\x83\x81\x02') + 2] ^= 0x55
elif kind == 'avi-sound-type':              # the type of the AVI's sound stream
    d[d.find(b'auds')] ^= 0x55
elif kind == 'avi-sound-list':              # the name of the sound stream's list (the stream vanishes)
    d[d.rfind(b'LIST', 0, d.find(b'auds'))] ^= 0x55
elif kind == 'avi-sound-rate':              # the top byte of the sound stream's rate: its packets all at once
    d[d.find(b'auds') + 27] ^= 0x55
open(dst, 'wb').write(d)
PY

# The table: input, damage, options, exit status, frames out ("-": not
# checked), what stderr says (a grep pattern; where none, that nothing is
# warned), and "diff" where the frames named must be those ffmpeg decodes differently.
rows=(
  "a.ts~drop-audio:0.25~~0~50~1 gap in the sound of x.ts.*s of the sound missing at [0-9.]* s~"
  "a.ts~drop-audio:0.5~~0~50~gaps\? in the sound of x.ts.*s of the sound missing at [0-9.]* s~"
  "a.ts~drop-audio:0.75~~0~50~gaps\? in the sound of x.ts.*s of the sound missing at [0-9.]* s~"
  "a.ts~zero-audio~~0~50~gaps\? in the sound of x.ts~"
  "a.ts~drop-audio:0.5~--damage error~1~-~s of the sound missing at .*--damage error stops there; out.mkv not written~"
  "a.ts~drop-video:0.1~~0~50~frames\? of x.ts \(is\|are\) damaged~diff"
  "a.ts~drop-video:0.5~~0~50~frames\? of x.ts \(is\|are\) damaged~diff"
  "a.ts~drop-video:0.9~~0~50~frames\? of x.ts \(is\|are\) damaged~diff"
  "b.ts~drop-video:0.1~~0~50~frames of x.ts are damaged.*predicted from a frame shown after it~diff"
  "b.ts~drop-video:0.2~~0~50~1 frame of x.ts is damaged.*: frame 8;~diff"
  "a.ts~cut:0.3~~1~-~frame [0-9]* of x.ts is \(truncated\|missing\).*out.mkv not written~"
  "a.ts~cut-packets:0.5~~1~-~frame [0-9]* of x.ts is truncated or damaged: the input ends inside it~"
  "f1.avi~zero:0.08~~0~50~frames of x.avi are damaged.*missing, the frame before repeated.*: frames [0-9]*-[0-9]*; .*frame [0-9]* is repeated in its place~"
  "f2.avi~zero:0.08~~0~50~1 gap in the sound of x.avi.*s of the sound missing at [0-9.]* s~"
  "f1.avi~zero:0.08~--damage error~1~-~x.avi.*, and --damage error stops there; out.mkv not written~"
  "m.mkv~sound-kind~~1~-~cannot read the sound of x.mkv (none): its kind cannot be read.*--no-audio leaves the sound out~"
  "m.mkv~sound-kind~--no-audio~0~25~~"
  "m.mkv~track-size~~0~-~x.mkv gave [0-9]* frames\?, but its header promises 25~"
  "m.mkv~codec-id-element~~0~25~x.mkv declares 1 sound track in its header, but none can be read~"
  "m.mkv~codec-id-element~--damage error~1~-~x.mkv declares 1 sound track.*--damage error stops there; out.mkv not written~"
  "m.mkv~codec-id-element~--no-audio~0~25~~"
  "s.mkv~none~~0~3~~"
  "m.mkv~track-type~~0~25~x.mkv declares 2 tracks in its header, but only 1 can be read~"
  "f1.avi~avi-sound-type~~0~50~x.avi's stream 1 is of no kind that can be read~"
  "f1.avi~avi-sound-list~~0~50~x.avi declares 2 tracks in its header, but only 1 can be read~"
  "f1.avi~avi-sound-rate~~0~50~gap in the sound of x.avi.*[0-9]* packets of the sound left out at its end~"
  "f1.avi~avi-sound-rate~--damage error~1~-~packets of the sound left out at its end.*--damage error stops there~"
  "d.dv~zero:0.05~~0~14~dvvideo carries no checksums: damage that still decodes goes unseen~"
  "f1.avi~flip:0.5~~0~50~FFV1 version 0 or 1 carries no checksums~"
)
for row in "${rows[@]}"; do
  IFS='~' read -r src how opts status want says check <<< "$row"
  ext=${src##*.}
  python3 damage.py "$src" "x.$ext" "$how"
  rm -f out.mkv
  set +e
  "$velvane" --no-progress $opts "x.$ext" out.mkv 2> err
  got=$?
  set -e
  what="$src with $how ${opts:+($opts)}"
  [ "$got" = "$status" ] || fail "$what: exit $got, not $status: $(cat err)"
  grep -q "$says" err || fail "$what: not said: $(cat err)"
  if [ "$status" = 0 ]; then
    [ "$want" = - ] || [ "$(frames out.mkv)" = "$want" ] || fail "$what: $(frames out.mkv) frames out, not $want"
    # Whatever was damaged or lost is counted in the summary too.
    if grep -q "damaged, filtered" err; then grep -q "frames in .*of them damaged or missing" err || fail "$what: $(cat err)"; fi
    if grep -q "in the sound of" err; then grep -q "frames in .*in the sound" err || fail "$what: $(cat err)"; fi
    if grep -q "declares .* in its header" err; then grep -q "frames in .*header declares unread" err || fail "$what: $(cat err)"; fi
    if grep -q "but its header promises" err; then grep -q "frames\? in .*frames its header promises lost" err || fail "$what: $(cat err)"; fi
    # Whatever it says of a loss, --no-audio aside, leaves no run without a warning.
    [ -n "$says" ] || ! grep -q "warning" err || fail "$what: warned: $(cat err)"
  else
    [ ! -e out.mkv ] || fail "$what: an output was left"
  fi
  if [ "$check" = diff ]; then
    [ "$(named)" = "$(differ "$src" "x.$ext")" ] || fail "$what: named $(named), but frames $(differ "$src" "x.$ext") differ"
  fi
  # The sound named missing is what the output lacks (24 ms an MPEG audio packet).
  if [ "$status" = 0 ] && { [ "$src" = a.ts ] || [ "$src" = f2.avi ]; } && grep -q "in the sound of" err; then
    lost=$(($(apackets "$src") - $(apackets out.mkv)))
    grep -o '[0-9.]* s of the sound missing' err \
      | awk -v lost="$lost" '{ s += $1 } END { d = s - lost * 0.024; exit !(lost > 0 && d > -0.0015 && d < 0.0015) }' \
      || fail "$what: $lost packets of sound lost, but named: $(cat err)"
  fi
done
echo "damage table: every row stops with its place named, or names every frame and gap it lost"

# --damage error stops at the first frame the damage reached, and keeps those before it.
python3 damage.py a.ts x.ts drop-video:0.5
first=$(differ a.ts x.ts | cut -d- -f1 | cut -d, -f1)
if "$velvane" -q --damage error --keep-partial x.ts out.mkv 2> err; then fail "--damage error passed"; fi
grep -q "frame $first of x.ts is damaged (.*out.mkv keeps the $first whole frames before it" err || fail "$(cat err)"
[ "$(frames out.mkv)" = "$first" ] || fail "--keep-partial kept $(frames out.mkv) frames, not $first"
# A missing AVI frame is the one before it again, at its own time: the frames after keep theirs.
python3 damage.py f1.avi x.avi zero:0.08
"$velvane" -q x.avi out.mkv 2> /dev/null
ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 out.mkv \
  | awk '{ if ($1 + 0 < (NR - 1) * 0.04 - 0.0015 || $1 + 0 > (NR - 1) * 0.04 + 0.0015) bad++ } END { exit bad > 0 || NR != 50 }' \
  || fail "the frames after the gap moved in time"
# A run that broke off says on its page that the output was not written.
python3 damage.py a.ts x.ts cut:0.3
"$velvane" -q --report r.html x.ts out.mkv 2> /dev/null && fail "a cut stream passed"
grep -q "out.mkv not written" r.html || fail "the page lists a broken run's output as written"
echo "damage: --damage error and --keep-partial, missing frames in time, the report of a broken run"

# Output names: YUV4MPEG2 for .y4m and - only; other containers end to end or refused by name.
for name in o.mxf o.flv o.m2v o.yuv o.mkw o; do
  for opts in "" --no-audio; do
    if "$velvane" -q $opts a.ts $name 2> err; then fail "$name $opts was written"; fi
    grep -q "cannot write $name: " err || fail "$name: $(cat err)"
    [ ! -e $name ] || fail "$name was left"
  done
done
grep -q "OUTPUT is .y4m (YUV4MPEG2) or -.*.mkv, .mov, .mp4" err || fail "the names taken are not listed: $(cat err)"
"$velvane" -q --no-audio --encoder mpeg2video a.ts o.m2v
[ "$(ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 o.m2v)" = mpeg2video ] || fail ".m2v is not MPEG-2"
"$velvane" -q a.ts o.y4m && [ "$(head -c 9 o.y4m)" = YUV4MPEG2 ] || fail ".y4m is not YUV4MPEG2"
# MPEG program streams: MPEG-2 suggested, and written without the muxer's underflow cries.
if "$velvane" -q a.ts o.mpg 2> err; then fail "FFV1 went into .mpg"; fi
grep -q "such as mpeg2video" err || fail "$(cat err)"
for name in o.mpg o.vob; do
  "$velvane" -q --encoder mpeg2video a.ts $name 2> err
  [ ! -s err ] || fail "$name: $(head -3 err)"
done
echo "output names: refused unless .y4m, - or a container that works; MPEG streams quiet"
