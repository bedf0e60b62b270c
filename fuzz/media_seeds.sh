#!/usr/bin/env bash
# Writes the media fuzz target's seed corpus (fuzz/corpus/media/) with ffmpeg:
# the smallest whole files of each kind the command reads, with their sound,
# from which the fuzzer mutates. A DV frame is 120000 bytes whatever its
# content; the others hold three 32 x 16 frames.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus/media
mkdir -p "$out"
rm -f "$out"/*
ff() { ffmpeg -v error -y -fflags +bitexact -f lavfi -i "testsrc2=size=$1:rate=$2" -f lavfi \
  -i "sine=sample_rate=$3" -map_metadata -1 -frames:v "$4" -shortest "${@:5}"; }
# DV's muxer writes a frame once its sound is there: a time, not a frame count.
ffmpeg -v error -y -fflags +bitexact -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -f lavfi \
  -i "sine=sample_rate=48000" -map_metadata -1 -t 0.034 -target ntsc-dv -flags +bitexact "$out/ntsc.dv"
ff 32x16 25 8000 3 -c:v ffv1 -level 3 -slicecrc 1 -c:a pcm_s16le -flags +bitexact "$out/ffv1-pcm.mkv"
ff 32x16 25 8000 3 -c:v mpeg4 -c:a pcm_u8 -flags +bitexact "$out/mpeg4-pcm.avi"
ff 32x16 25 16000 3 -c:v mpeg2video -c:a mp2 -b:a 32k -flags +bitexact -f mpegts "$out/mpeg2-mp2.ts"
ff 32x16 25 8000 2 -c:v prores_ks -pix_fmt yuv422p10le -c:a pcm_s16le -flags +bitexact "$out/prores.mov"
# Damaged forms of them, as a trial of damaged files made them: a transport
# stream that lost a packet of its sound, and one cut inside a packet; an AVI
# with a zeroed stretch; a Matroska file whose sound track's kind is unreadable,
# and one whose sound track the demuxer passes over (its codec's ID damaged).
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
def load(name): return bytearray(open(f'{out}/{name}', 'rb').read())
d = load('mpeg2-mp2.ts')
audio = [i for i in range(len(d) // 188) if ((d[i * 188 + 1] & 0x1f) << 8 | d[i * 188 + 2]) == 0x101]
i = audio[len(audio) // 2]
open(f'{out}/mpeg2-mp2-sound-lost.ts', 'wb').write(d[:i * 188] + d[(i + 1) * 188:])
open(f'{out}/mpeg2-mp2-cut.ts', 'wb').write(d[:len(d) * 2 // 3])
d = load('mpeg4-pcm.avi'); o = len(d) // 2; d[o:o + 2000] = bytes(2000)
open(f'{out}/mpeg4-pcm-zeroed.avi', 'wb').write(d)
d = load('ffv1-pcm.mkv'); d[d.find(b'A_PCM') + 2] ^= 1
open(f'{out}/ffv1-pcm-sound-kind.mkv', 'wb').write(d)
d = load('ffv1-pcm.mkv'); d[d.find(b'A_PCM') - 2] ^= 1
open(f'{out}/ffv1-pcm-sound-track-gone.mkv', 'wb').write(d)
PY
ls -l "$out"
