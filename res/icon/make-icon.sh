#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the application icon: a frame of film with the sun over green land, in the 16 colours
# of the standard VGA palette. Writes varnel.ico (32x32 and 16x16, 4 bits a pixel, transparent
# outside the film), the PNGs of the Linux window icon (16, 32, 64 and 128 pixels; the larger
# ones are the 32-pixel drawing enlarged without smoothing) and the two more that the installed
# hicolor icon theme takes beside 16 and 32 (48 and 256 pixels: the 32-pixel drawing drawn again
# at that size, a smooth sun on a film whose edges fall on whole pixels). Needs ImageMagick's
# `convert`. The outputs are committed; run this again only after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"

BLACK='#000000' WHITE='#FFFFFF' BLUE='#0000FF' GREEN='#008000' YELLOW='#FFFF00' RED='#FF0000'
# No time stamps in the PNGs, so that the same drawing gives the same bytes.
STRIP=(-define png:exclude-chunks=date,time +set date:create +set date:modify)

holes32=()
for x in 3 8 13 18 23 27; do
    holes32+=(-draw "rectangle $x,6 $((x + 1)),7" -draw "rectangle $x,24 $((x + 1)),25")
done
convert -size 32x32 xc:none +antialias \
    -fill "$BLACK" -draw "rectangle 1,4 30,27" \
    -fill "$WHITE" "${holes32[@]}" \
    -fill "$BLUE" -draw "rectangle 3,9 28,22" \
    -fill "$YELLOW" -stroke "$YELLOW" \
    -draw "line 15,9 15,19" -draw "line 10,14 20,14" -draw "line 12,11 18,17" -draw "line 12,17 18,11" \
    -stroke none -fill "$RED" -draw "circle 15,14 15,11" -fill "$YELLOW" -draw "circle 15,14 15,12" \
    -fill "$GREEN" -draw "rectangle 3,19 28,22" \
    "${STRIP[@]}" PNG32:varnel-32.png

holes16=()
for x in 2 5 8 11 14; do
    holes16+=(-draw "point $x,3" -draw "point $x,12")
done
convert -size 16x16 xc:none +antialias \
    -fill "$BLACK" -draw "rectangle 0,2 15,13" \
    -fill "$WHITE" "${holes16[@]}" \
    -fill "$BLUE" -draw "rectangle 1,5 14,10" \
    -fill "$YELLOW" -draw "rectangle 6,6 8,8" -draw "point 7,5" -draw "point 5,7" -draw "point 9,7" \
    -fill "$GREEN" -draw "rectangle 1,10 14,10" \
    "${STRIP[@]}" PNG32:varnel-16.png

for size in 64 128; do
    convert varnel-32.png -filter point -resize "${size}x${size}" "${STRIP[@]}" \
        "PNG32:varnel-$size.png"
done

# The 32-pixel drawing at SIZE pixels. A cell of the 32-pixel grid is SIZE/32 pixels wide; the
# rectangles cover whole pixels (`box` takes the first and last cell of the 32-pixel drawing),
# the sun's disc and rays are drawn smooth around the same centre. ImageMagick puts pixel centres
# on whole coordinates, hence the half pixel taken off the sun's points.
draw_large() {
    local size=$1
    edge() { echo $((($1 * size + 16) / 32)); }
    box() {
        echo "rectangle $(edge "$1"),$(edge "$2") $(($(edge $(($3 + 1))) - 1)),$(($(edge $(($4 + 1))) - 1))"
    }
    # at X Y: the point X,Y of the 32-pixel grid (cell edges on whole numbers), in pixels.
    at() { awk -v s="$size" -v x="$1" -v y="$2" 'BEGIN { printf "%g,%g", x * s / 32 - 0.5, y * s / 32 - 0.5 }'; }
    local unit
    unit=$(awk -v s="$size" 'BEGIN { printf "%g", s / 32 }')
    local holes=()
    for x in 3 8 13 18 23 27; do
        holes+=(-draw "$(box "$x" 6 $((x + 1)) 7)" -draw "$(box "$x" 24 $((x + 1)) 25)")
    done
    convert -size "${size}x${size}" xc:none \
        -fill "$BLACK" -draw "$(box 1 4 30 27)" \
        -fill "$WHITE" "${holes[@]}" \
        -fill "$BLUE" -draw "$(box 3 9 28 22)" \
        -fill none -stroke "$YELLOW" -strokewidth "$unit" \
        -draw "line $(at 15.5 9) $(at 15.5 20)" -draw "line $(at 10 14.5) $(at 21 14.5)" \
        -draw "line $(at 12 11) $(at 19 18)" -draw "line $(at 12 18) $(at 19 11)" \
        -stroke none -fill "$RED" -draw "circle $(at 15.5 14.5) $(at 15.5 11)" \
        -fill "$YELLOW" -draw "circle $(at 15.5 14.5) $(at 15.5 12)" \
        -fill "$GREEN" -draw "$(box 3 19 28 22)" \
        "${STRIP[@]}" "PNG32:varnel-$size.png"
}
for size in 48 256; do
    draw_large "$size"
done

# Each image of the icon group as a 4-bit palette bitmap with its transparency mask.
convert varnel-32.png varnel-16.png -type PaletteMatte varnel.ico
