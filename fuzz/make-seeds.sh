#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the seed corpora of the fuzz targets: tiny clips (a few frames, 1 to 9 KB each) for the
# reader, and the profile XML that varnel-batch writes as lastprofile.xml for some of them.
#
#   fuzz/make-seeds.sh OUT_DIR VARNEL_BATCH [TESTDATA_DIR]
#
# OUT_DIR/reader/ gets the clips, OUT_DIR/profile_xml/ the XML texts; both are made afresh. With
# TESTDATA_DIR (the shared real files, where present), the first 32 KB of each real media file
# join the reader's seeds: headers of real encoders and codecs that FFmpeg cannot make (WMV3,
# VC-1, WMA Pro).
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 OUT_DIR VARNEL_BATCH [TESTDATA_DIR]" >&2
    exit 2
fi
mkdir -p "$1"
OUT="$(cd "$1" && pwd)"
BATCH="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
rm -rf "$OUT/reader" "$OUT/profile_xml"
mkdir -p "$OUT/reader" "$OUT/profile_xml"
cd "$OUT/reader"

ff() { ffmpeg -nostdin -v error -y "$@"; }
picture() { echo "testsrc2=size=$1:rate=10"; }
tone="sine=frequency=440:sample_rate=8000"

ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v wmv1 wmv1.asf
ff -f lavfi -i "$(picture 48x32)" -frames:v 3 -c:v wmv2 wmv2.wmv
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v msmpeg4 msmpeg4.avi
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v mpeg4 mpeg4.avi
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v libx264 -preset ultrafast -bf 1 h264.mp4
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v libx264 -preset ultrafast h264.mkv
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v libvpx-vp9 -deadline realtime -cpu-used 8 \
    vp9.webm
# Audio beside video, and audio alone.
ff -f lavfi -i "$(picture 32x24)" -f lavfi -i "$tone" -frames:v 3 -t 0.3 -c:v wmv2 \
    -c:a wmav2 -ac 1 -b:a 24k audio-video.wmv
ff -f lavfi -i "$tone" -t 0.2 -c:a wmav2 -ac 1 -b:a 24k audio.wma
# Odd sizes.
ff -f lavfi -i "$(picture 32x24)" -vf scale=17:13 -frames:v 3 -c:v mpeg4 odd.avi
ff -f lavfi -i "$(picture 32x24)" -vf scale=17:13,format=yuv444p -frames:v 3 -c:v libx264 \
    -preset ultrafast odd.mkv
# A subtitle stream beside the video: a stream that is neither video nor audio.
printf '1\n00:00:00,000 --> 00:00:00,200\nhi\n' >subtitles.srt
ff -f lavfi -i "$(picture 32x24)" -i subtitles.srt -frames:v 3 -c:v libx264 -preset ultrafast \
    -c:s srt subtitles.mkv
rm subtitles.srt

# Other pixel formats: full-range JPEG, packed RGB at an odd size, a palette, 10 bits.
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v mjpeg mjpeg.avi
ff -f lavfi -i "$(picture 32x24)" -vf scale=15:9 -frames:v 3 -c:v rawvideo -pix_fmt bgr24 raw.avi
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 palette.gif
ff -f lavfi -i "$(picture 32x24)" -frames:v 3 -c:v libx264 -preset ultrafast \
    -pix_fmt yuv420p10le h264-10bit.mkv
# A picture size that changes within the stream.
ff -f lavfi -i "$(picture 32x24)" -frames:v 2 -c:v libx264 -preset ultrafast first.ts
ff -f lavfi -i "$(picture 48x16)" -frames:v 2 -c:v libx264 -preset ultrafast second.ts
cat first.ts second.ts >size-change.ts
rm first.ts second.ts
# Cover art beside the video.
ff -f lavfi -i "$(picture 16x16)" -frames:v 1 cover.png
ff -f lavfi -i "$(picture 32x24)" -i cover.png -map 0 -map 1 -frames:v 3 -c:v:0 libx264 \
    -preset ultrafast -c:v:1 png -disposition:v:1 attached_pic cover-art.mp4
rm cover.png

if [ $# -eq 3 ] && [ -d "$3" ]; then
    for file in "$3"/*.wmv "$3"/*.wma "$3"/*.asf; do
        [ -f "$file" ] && head -c 32768 "$file" >"real-$(basename "$file")"
    done
fi

# The profiles of a few of them as varnel-batch saves them, as soon as the input is open (the
# clips are too short for a run to succeed, which does not matter here).
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for clip in audio-video.wmv odd.mkv subtitles.mkv cover-art.mp4; do
    (cd "$work" && { "$BATCH" --quiet "$OUT/reader/$clip" out.wmv >/dev/null 2>&1 || true; } &&
        mv lastprofile.xml "$OUT/profile_xml/${clip%.*}.xml")
done

for dir in reader profile_xml; do
    count=$(find "$OUT/$dir" -type f | wc -l)
    if [ "$count" -eq 0 ]; then
        echo "make-seeds: no $dir seeds were made" >&2
        exit 1
    fi
done
