#!/bin/sh
# Makes the seed corpus of the media input fuzzer with ffmpeg: a tiny clip or
# picture for each container and decoder the runner reads, a few frames of
# 32 x 24, some with a sound stream so that packets of other streams are seen.
# Usage: tests/fuzz/make_media_seeds.sh DIR
set -eu
out="$1"
mkdir -p "$out"
video="testsrc2=size=32x24:rate=10:duration=0.3"
audio="sine=frequency=440:sample_rate=8000:duration=0.3"
make() {
  name="$1"
  shift
  [ -s "$out/$name" ] && return 0
  ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$out/$name" || echo "no seed $name" >&2
}
make h264.mp4 -f lavfi -i "$video" -f lavfi -i "$audio" -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -b:a 16k
make hevc.mkv -f lavfi -i "$video" -c:v libx265 -preset ultrafast -x265-params log-level=none
make vp9.webm -f lavfi -i "$video" -f lavfi -i "$audio" -c:v libvpx-vp9 -deadline realtime -c:a libopus -b:a 16k
make ffv1.mkv -f lavfi -i "$video" -f lavfi -i "$audio" -c:v ffv1 -pix_fmt bgra -c:a flac
make mjpeg.avi -f lavfi -i "$video" -c:v mjpeg -pix_fmt yuvj420p -q:v 10
make mpeg4.avi -f lavfi -i "$video" -c:v mpeg4
make prores.mov -f lavfi -i "$video" -c:v prores_ks -profile:v 0
make raw.nut -f lavfi -i "$video" -c:v rawvideo -pix_fmt bgra
make utvideo.avi -f lavfi -i "$video" -c:v utvideo
make still.png -f lavfi -i "$video" -frames:v 1 -pix_fmt rgba
make still.jpg -f lavfi -i "$video" -frames:v 1 -q:v 10
make still.bmp -f lavfi -i "$video" -frames:v 1
make still.tiff -f lavfi -i "$video" -frames:v 1
make still.webp -f lavfi -i "$video" -frames:v 1 -c:v libwebp
