#!/usr/bin/env bash
# A clip made by ffmpeg goes through velvane in a pipe and back into ffmpeg.
set -euo pipefail
velvane=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

for fmt in yuv422p yuv420p yuv411p; do
  ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -vf "noise=alls=10:allf=t,setfield=tff" \
    -pix_fmt "$fmt" -frames:v 12 -f yuv4mpegpipe - \
    | "$velvane" -q - - \
    | ffmpeg -v error -f yuv4mpegpipe -i - -c:v ffv1 -y "out-$fmt.mkv"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width,height,pix_fmt \
    -of csv=p=0 "out-$fmt.mkv")
  echo "$fmt: $frames"
  [ "$frames" = "720,480,$fmt,12" ] || { echo "unexpected result for $fmt: $frames" >&2; exit 1; }
done

# The same clip as a file and through a pipe gives the same bytes.
ffmpeg -v error -f lavfi -i "testsrc2=size=352x240:rate=25" -vf "noise=alls=10:allf=t" -pix_fmt yuv422p \
  -frames:v 20 -f yuv4mpegpipe -y in.y4m
"$velvane" -q in.y4m from-file.y4m
cat in.y4m | "$velvane" -q - - > from-pipe.y4m
cmp from-file.y4m from-pipe.y4m
echo "pipe and file outputs are identical"
