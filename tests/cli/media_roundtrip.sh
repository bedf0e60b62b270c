#!/usr/bin/env bash
# velvane on media files: an NTSC DV tape with its sound into FFV1 in
# Matroska (the sound's packets, the pictures of the YUV4MPEG2 path, the field
# order), a 10-bit 4:2:2 QuickTime file, and the failures that could lose data.
set -euo pipefail
velvane=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
# Nothing but the named files may be left in the folder.
only() { [ "$(ls -A | sort | tr '\n' ' ')" = "$* " ] || fail "left behind: $(ls -A | tr '\n' ' ')"; }
sound() { ffmpeg -v error -i "$1" -map 0:a -c copy -f framemd5 - | grep -v '^#' | cut -d, -f5,6; } # size, hash
times() { ffprobe -v error -select_streams "$2" -show_entries packet=pts_time -of csv=p=0 "$1"; }
frames() { ffprobe -v error -count_frames -select_streams "$2" -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
pictures() { ffmpeg -v error -i "$1" -f rawvideo - | md5sum; }

ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
  -vf "noise=alls=12:allf=t" -t 2 -target ntsc-dv in.dv
settings="--luma-low 14 --hue 5"

# The tape through, its sound packet for packet and in step with the pictures.
"$velvane" -q $settings in.dv out.mkv
[ "$(sound in.dv | wc -l)" -ge 59 ] || fail "the test tape has too little sound"
[ "$(sound in.dv)" = "$(sound out.mkv)" ] || fail "the sound packets differ"
for s in v a; do # Matroska keeps milliseconds
  paste -d' ' <(times in.dv $s) <(times out.mkv $s) \
    | awk '{ d = $1 - $2; if (d < -0.00051 || d > 0.00051) bad++; n++ } END { exit (bad > 0 || n < 59) }' \
    || fail "the $s timestamps moved"
done
# The pictures are those of the YUV4MPEG2 path with the same settings, and filtered.
ffmpeg -v error -i in.dv -f yuv4mpegpipe - | "$velvane" -q $settings - pipe.y4m
[ "$(pictures out.mkv)" = "$(pictures pipe.y4m)" ] || fail "the pictures differ from the YUV4MPEG2 path's"
[ "$(pictures out.mkv)" != "$(pictures in.dv)" ] || fail "nothing was filtered"
# FFV1 at the archival settings, 4:1:1 and bottom field first as the tape.
[ "$(ffprobe -v error -select_streams v -show_entries stream=codec_name,pix_fmt,field_order,sample_aspect_ratio \
      -of csv=p=0 out.mkv)" = "ffv1,8:9,yuv411p,bb" ] || fail "not FFV1 4:1:1 8:9 bottom field first"
ffmpeg -v debug -debug pict -i out.mkv -frames:v 1 -f null - 2>&1 | grep -q "ver:3 keyframe:1 .*ec:1 slices:24" \
  || fail "not FFV1 version 3 with 24 slices and their CRCs"
echo "NTSC DV: sound identical, pictures as the YUV4MPEG2 path's, FFV1 bottom field first"

# The other ways across: the tape to YUV4MPEG2 is the pipe's stream byte for
# byte (with a word on the sound left behind), and YUV4MPEG2 to Matroska keeps
# its rate and field order.
"$velvane" -q $settings in.dv direct.y4m 2> err
cmp direct.y4m pipe.y4m || fail "the tape to YUV4MPEG2 differs from the pipe's"
grep -q "direct.y4m carries no sound" err || fail "no word on the sound: $(cat err)"
"$velvane" -q pipe.y4m again.mkv
"$velvane" -q pipe.y4m again.y4m
[ "$(pictures again.mkv)" = "$(pictures again.y4m)" ] || fail "YUV4MPEG2 to Matroska changed the pictures"
[ "$(ffprobe -v error -show_entries stream=r_frame_rate,field_order -of csv=p=0 again.mkv)" = "bb,30000/1001" ] \
  || fail "YUV4MPEG2 to Matroska lost the rate or the field order"
# A wrong flag overridden; a delivery encoder told the order, and coding fields.
"$velvane" -q --field-order tff --no-audio in.dv tff.mkv
[ "$(ffprobe -v error -show_entries stream=field_order -of csv=p=0 tff.mkv)" = tt ] || fail "--field-order tff ignored"
"$velvane" -q --encoder libx264 --encoder-opt preset=ultrafast --output-chroma 420mpeg2 in.dv delivery.mov
[ "$(ffprobe -v error -select_streams v -show_entries stream=codec_name,pix_fmt,field_order -of csv=p=0 delivery.mov)" \
  = "h264,yuv420p,bb" ] || fail "x264 was not told the field order"
# QuickTime keeps PCM as samples, not packets: the same bytes.
soundBytes() { ffmpeg -v error -i "$1" -map 0:a -c copy -f s16le - | md5sum; }
[ "$(soundBytes in.dv)" = "$(soundBytes delivery.mov)" ] || fail "the sound differs in QuickTime"
rm direct.y4m again.mkv again.y4m tff.mkv delivery.mov err

# A 10-bit 4:2:2 QuickTime file needs no option, and gives the pictures of the YUV4MPEG2 path.
ffmpeg -v error -f lavfi -i "testsrc2=size=720x486:rate=30000/1001" -f lavfi -i "sine=sample_rate=48000" \
  -vf "noise=alls=12:allf=t,setfield=bff" -t 0.4 -c:v prores_ks -pix_fmt yuv422p10le -c:a pcm_s24le in10.mov
"$velvane" -q in10.mov out10.mkv
[ "$(ffprobe -v error -select_streams v -show_entries stream=pix_fmt -of csv=p=0 out10.mkv)" = yuv422p10le ] \
  || fail "10-bit 4:2:2 lost its depth"
ffmpeg -v error -i in10.mov -strict -1 -f yuv4mpegpipe - | "$velvane" -q - pipe10.y4m
[ "$(pictures out10.mkv)" = "$(pictures pipe10.y4m)" ] || fail "10-bit pictures differ from the YUV4MPEG2 path's"
[ "$(sound in10.mov)" = "$(sound out10.mkv)" ] || fail "the 24-bit sound differs"
echo "10-bit 4:2:2 MOV: through as it is"
# RGB has no form in the filter: it becomes 4:4:4 and is tagged as what it became.
ffmpeg -v error -f lavfi -i "testsrc2=size=64x48:rate=25" -t 0.2 -pix_fmt rgb24 -c:v ffv1 rgb.mkv
"$velvane" -q rgb.mkv rgbout.mkv
[ "$(ffprobe -v error -show_entries stream=pix_fmt,color_range,color_space -of csv=p=0 rgbout.mkv)" = \
  "yuv444p,tv,smpte170m" ] || fail "RGB came out wrong or tagged wrong"
rm rgb.mkv rgbout.mkv
only in.dv in10.mov out.mkv out10.mkv pipe.y4m pipe10.y4m
rm in10.mov out10.mkv pipe10.y4m

# A tape that breaks off: no output that looks whole, unless asked for the frames before the break.
head -c 1000000 in.dv > cut.dv # 8 whole frames of 120000 bytes
if "$velvane" -q cut.dv cut.mkv 2> err; then fail "a truncated tape passed"; fi
grep -q "frame 8 of cut.dv is truncated.*cut.mkv not written (--keep-partial keeps the 8 whole frames" err \
  || fail "$(cat err)"
only cut.dv err in.dv out.mkv pipe.y4m
if "$velvane" -q --keep-partial cut.dv cut.mkv 2> err; then fail "a truncated tape passed"; fi
grep -q "cut.mkv keeps the 8 whole frames before it" err || fail "$(cat err)"
[ "$(frames cut.mkv v)" = 8 ] && [ "$(sound cut.mkv | head -8)" = "$(sound in.dv | head -8)" ] \
  || fail "the kept part lacks its pictures or sound"
# A Matroska file cut short ends in a plain end of file for its demuxer, which only says so in its log.
head -c 3000000 out.mkv > cut.mkv
if "$velvane" -q cut.mkv cutcut.mkv 2> err; then fail "a truncated Matroska file passed"; fi
grep -q "of cut.mkv is missing: the input ends early or is damaged" err || fail "$(cat err)"
rm cut.dv cut.mkv

# An encoder or a muxer that fails, or a file that cannot grow: an error, and nothing left.
for args in "--encoder no-such-encoder" "--encoder-opt no-such-option=1" "--encoder libx264 --encoder-opt crf=x"; do
  if "$velvane" -q $args in.dv bad.mkv 2> err; then fail "$args passed"; fi
  only err in.dv out.mkv pipe.y4m
done
if "$velvane" -q --encoder libx264 in.dv bad.mp4 2> err; then fail "PCM sound went into MP4"; fi
grep -q "does not take the sound of in.dv (pcm_s16le" err || fail "$(cat err)"
if (ulimit -f 1000; "$velvane" -q in.dv big.mkv 2> err); then fail "a file past its size limit passed"; fi
grep -q "cannot write big.mkv: File too large" err || fail "$(cat err)"
only err in.dv out.mkv pipe.y4m
# Sound whose pictures' timestamps go back cannot be kept in step: refused, or the pictures re-timed without it.
ffmpeg -v error -f lavfi -i "testsrc2=size=64x48:rate=30" -f lavfi -i "sine=sample_rate=48000" \
  -vf "setpts=floor(N/2)*2/(30*TB)" -fps_mode passthrough -c:v ffv1 -t 1 stutter.mkv
if "$velvane" -q stutter.mkv bad.mkv 2> err; then fail "broken timestamps passed with sound"; fi
grep -q "frame 1 of stutter.mkv is timed at .* not after the frame before it" err || fail "$(cat err)"
"$velvane" -q --no-audio stutter.mkv retimed.mkv 2> err
grep -q "were timed no later than the frame before them" err || fail "$(cat err)"
[ "$(frames retimed.mkv v)" = 30 ] && [ -z "$(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 retimed.mkv)" ] \
  || fail "the re-timed file is wrong"
rm stutter.mkv retimed.mkv
# Damage that the decoder conceals is filtered, counted and named, and stops
# the run only when asked; a join of two sizes is said to be one.
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 2 \
  -c:v mpeg2video -q:v 3 -c:a mp2 -f mpegts a.ts
ffmpeg -v error -f lavfi -i "testsrc2=size=128x96:rate=25" -t 0.4 -c:v mpeg2video -f mpegts b.ts
python3 -c "d=open('a.ts','rb').read(); n=len(d)//188//3; open('drop.ts','wb').write(d[:n*188]+d[(n+1)*188:])"
"$velvane" -q drop.ts drop.mkv 2> err || fail "a lost transport packet stopped the run: $(cat err)"
grep -q "frames\? of drop.ts \(is\|are\) damaged.*: frames\? [0-9]" err || fail "no word on the damage: $(cat err)"
[ "$(frames drop.mkv v)" = 50 ] || fail "frames were lost around the gap"
if "$velvane" -q --damage error drop.ts bad.mkv 2> err; then fail "--damage error passed"; fi
grep -q "of drop.ts is damaged (.*), and --damage error stops there; bad.mkv not written" err || fail "$(cat err)"
cat a.ts b.ts > ab.ts
if "$velvane" -q ab.ts bad.mkv 2> err; then fail "a change of size passed"; fi
grep -q "of ab.ts changes from 176 x 144 yuv420p to 128 x 96" err || fail "$(cat err)"
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -t 2 -c:v ffv1 -level 3 -slicecrc 1 -fflags +bitexact crc.mkv
python3 -c "d=bytearray(open('crc.mkv','rb').read()); d[len(d)//2]^=0x55; open('crc.mkv','wb').write(d)"
"$velvane" crc.mkv crcout.mkv 2> err || fail "a slice CRC mismatch stopped the run: $(cat err)"
grep -q "1 frame of crc.mkv is damaged.*slice CRC mismatch" err && grep -q "50 frames in .* 1 of them damaged" err \
  || fail "the damaged slice was not counted: $(cat err)"
# AVI counts frames: one tick a frame, whatever the input's clock.
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -t 1 -c:v prores_ks p.mov
"$velvane" -q p.mov p.avi
[ "$(ffprobe -v error -show_entries stream=avg_frame_rate,time_base,nb_frames -of csv=p=0 p.avi)" = "25/1,1/25,25" ] \
  || fail "AVI from QuickTime is not 25 frames at 25 a second"
# What a container cannot hold is refused by name, before anything is written;
# the containers named for transport and DVD streams are written as such.
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 0.4 -c:v ffv1 \
  -c:a flac flac.mkv
for o in "a.ts o.ts:MPEG-TS .* does not take ffv1 video (give an --encoder it takes, such as mpeg2video" \
         "a.ts o.dv:DV .* does not take ffv1 video (give an --encoder it takes, such as dvvideo" \
         "flac.mkv o.mov:does not take the sound of flac.mkv (flac): name the output .mkv, or .* --no-audio"; do
  if "$velvane" -q ${o%%:*} 2> err; then fail "${o%%:*} passed"; fi
  grep -q "${o#*:}" err || fail "$(cat err)"
done
"$velvane" -q --encoder mpeg2video a.ts o.ts
[ "$(ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 o.ts | sort -u | tr "\\n" ,)" = "mp2,mpeg2video," ] \
  || fail ".ts is not a transport stream with the sound"
# Sound that goes back in time: the packet is left out and the gap named.
ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25" -f lavfi -i "sine=sample_rate=48000" -t 4 -c:v ffv1 \
  -c:a pcm_s16le -cluster_time_limit 1000 ba.mkv
python3 - <<'PY' # the third cluster's first audio block is moved half a second back
d = bytearray(open('ba.mkv', 'rb').read())
def num(p, keep):
    n = 1
    while not d[p] & (0x80 >> (n - 1)): n += 1
    v = d[p] & ((0x80 >> (n - 1)) - 1) if not keep else d[p]
    for i in range(1, n): v = (v << 8) | d[p + i]
    return v, n
p = num(0, 1)[1]; p += num(p, 0)[1] + num(p, 0)[0]; p += num(p, 1)[1]; p += num(p, 0)[1]
clusters = 0
while True:
    i, n = num(p, 1); s, m = num(p + n, 0)
    if i == 0x1F43B675:
        clusters += 1
        q = p + n + m
        while clusters == 3 and q < p + n + m + s:
            j, a = num(q, 1); t, b = num(q + a, 0)
            if j == 0xA3 and d[q + a + b] == 0x82:
                d[q + a + b + 1:q + a + b + 3] = (-500).to_bytes(2, 'big', signed=True)
                open('back.mkv', 'wb').write(d); raise SystemExit
            q += a + b + t
    p += n + m + s
PY
# The packet timed back is left out and its place named; --damage error stops there.
"$velvane" -q back.mkv back-out.mkv 2> err || fail "sound going back stopped the run: $(cat err)"
grep -q "1 gap in the sound of back.mkv.*s of the sound missing at [0-9.]* s (.*1 packet left out, timed where sound" err \
  || fail "$(cat err)"
if "$velvane" -q --damage error --keep-partial back.mkv back-out.mkv 2> err; then fail "--damage error passed a gap"; fi
grep -q "s of the sound missing at .*--damage error stops there; back-out.mkv keeps the [0-9]* whole frames" err \
  || fail "$(cat err)"
# A known container whose header is damaged is named.
head -c 100 crcout.mkv > head.mkv; python3 -c "import sys; sys.stdout.buffer.write(bytes(4000))" >> head.mkv
if "$velvane" -q head.mkv bad.mkv 2> err; then fail "a damaged header passed"; fi
grep -q "cannot read head.mkv: it looks like a Matroska file, but" err || fail "$(cat err)"
# -v says the settings as options that are taken.
used=$("$velvane" -v --strength auto --no-progress a.ts /dev/null 2>&1 | sed -n 's/.*settings used: //p')
"$velvane" -q $used a.ts /dev/null 2> err || fail "-v printed options that are refused: $used"
rm flac.mkv a.ts b.ts ab.ts drop.ts drop.mkv crc.mkv crcout.mkv p.mov p.avi o.ts ba.mkv back.mkv back-out.mkv head.mkv
only err in.dv out.mkv pipe.y4m
echo "damage: concealed, counted and named; AVI, TS, refusals, sound going back and damaged headers as they should"

# The output may not be the input.
before=$(md5sum < out.mkv)
if "$velvane" -q out.mkv out.mkv 2> err; then fail "wrote over its input"; fi
[ "$(md5sum < out.mkv)" = "$before" ] || fail "the input was touched"

# Stopped while its input waits: nothing left, or with --keep-partial the
# frames it names, playable, with their sound.
mkfifo feed # in.dv holds 60 frames, more than the container's probe reads before the first
# Stopped once its temporary file holds ten frames' worth of out.mkv (the
# same frames, whole): by then it has taken eight at least, however slow the
# build or busy the machine.
enough=$(($(stat -c %s out.mkv) * 10 / 60))
for keep in "" --keep-partial; do
  (cat in.dv; exec sleep 300) > feed &
  feeder=$!
  "$velvane" -q $keep feed cut.mkv 2> err &
  run=$!
  for _ in $(seq 1200); do # two minutes at most
    written=$(stat -c %s .cut.mkv.velvane-* 2> /dev/null || echo 0)
    [ "$written" -gt "$enough" ] && break
    sleep 0.1
  done
  [ "$written" -gt "$enough" ] || { kill $run $feeder; fail "2 minutes on, the run had written $written bytes: $(cat err)"; }
  kill -TERM $run # a background job ignores Ctrl-C's signal
  status=0
  wait $run || status=$?
  kill $feeder 2> /dev/null || true
  wait $feeder 2> /dev/null || true
  [ $status = 143 ] || fail "an interrupted run ended with $status: $(cat err)"
  n=$(sed -n 's/.*interrupted at frame \([0-9]*\);.*/\1/p' err)
  [ -n "$n" ] && [ "$n" -ge 8 ] || fail "$(cat err)"
  if [ -z "$keep" ]; then
    grep -q "cut.mkv not written (--keep-partial keeps the $n whole frames before it)" err || fail "$(cat err)"
    only err feed in.dv out.mkv pipe.y4m
  else
    grep -q "cut.mkv keeps the $n whole frames before it" err || fail "$(cat err)"
    [ "$(frames cut.mkv v)" = "$n" ] && [ "$(sound cut.mkv | head -$n)" = "$(sound in.dv | head -$n)" ] \
      || fail "the kept part holds not the $n frames it names, with their sound"
    # Finished: Matroska's duration is written, not guessed from the size.
    ffprobe -v error -show_entries format=duration -of csv=p=0 cut.mkv \
      | awk -v n="$n" '{ d = $1 - n * 1001 / 30000; exit !(d > -0.1 && d < 0.1) }' \
      || fail "the kept file was not finished: $(ffprobe -v error -show_entries format=duration -of csv=p=0 cut.mkv) s for $n frames"
  fi
done
echo "failures: nothing that looks complete is left, and --keep-partial keeps what it says"
