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

# PAL and NTSC captures at their own sizes, with their field order: PAL DV
# (4:2:0 with its own chroma siting, bottom field first) and a 720 x 486
# bottom-field-first 4:2:2 capture. Each comes back at its size, format,
# siting and field order, as the same stream written without velvane.
ffmpeg -v error -f lavfi -i "testsrc2=size=720x576:rate=25" -vf "noise=alls=10:allf=t" -frames:v 8 \
  -target pal-dv -y pal.dv
ffmpeg -v error -f lavfi -i "testsrc2=size=720x486:rate=30000/1001" -vf "noise=alls=10:allf=t,setfield=bff" \
  -pix_fmt yuv422p -frames:v 8 -f yuv4mpegpipe -y ntsc486.y4m
probe() {
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames,width,height,pix_fmt,field_order,chroma_location -of csv=p=0 "$1"
}
for src in pal.dv ntsc486.y4m; do
  ffmpeg -v error -i "$src" -c:v ffv1 -y "direct-$src.mkv"
  ffmpeg -v error -i "$src" -f yuv4mpegpipe - | "$velvane" -q - - \
    | ffmpeg -v error -f yuv4mpegpipe -i - -c:v ffv1 -y "filtered-$src.mkv"
  want=$(probe "direct-$src.mkv") got=$(probe "filtered-$src.mkv")
  echo "$src: $got"
  [ "$got" = "$want" ] || { echo "$src came back as $got, not $want" >&2; exit 1; }
done
case "$(probe filtered-pal.dv.mkv)" in
  720,576,yuv420p,topleft,*,8) ;;
  *) echo "PAL DV lost its size, format or siting" >&2; exit 1 ;;
esac
