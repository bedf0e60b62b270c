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
ls -l "$out"
