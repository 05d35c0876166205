#!/usr/bin/env bash
# Draws the programs' pictures with ImageMagick: the icons of both programs,
# the server's start-up picture and its new-client animation. The results
# are committed; run this again only to change a picture.
set -euo pipefail
cd "$(dirname "$0")/.."
SRES=server/app/res
CRES=client/app/icons
FONT=DejaVu-Sans
BOLD=DejaVu-Sans-Bold
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# Wharfkeep: a crane on a quay swinging a crate ashore.
convert -size 256x256 xc:none \
    -fill '#1e5aaa' -draw 'roundrectangle 6,6 249,249 44,44' \
    -fill none -stroke '#5f9be0' -strokewidth 7 \
    -draw 'path "M 22,222 q 14,-12 28,0 t 28,0 t 28,0 t 28,0 t 28,0 t 28,0 t 28,0"' \
    -stroke none -fill '#7a5230' -draw 'rectangle 6,158 249,192' \
    -fill '#5a3a1e' -draw 'rectangle 6,186 249,192' \
    -draw 'rectangle 30,192 52,242' -draw 'rectangle 116,192 138,242' -draw 'rectangle 200,192 222,242' \
    -stroke '#f2f2f2' -strokewidth 12 -draw 'line 186,158 186,36' -draw 'line 192,36 74,36' \
    -strokewidth 6 -draw 'line 186,88 146,36' \
    -stroke '#d0d0d0' -strokewidth 4 -draw 'line 96,36 96,78' \
    -stroke '#8a5a00' -strokewidth 5 -fill '#fac828' -draw 'rectangle 62,78 130,138' \
    -draw 'line 62,78 130,138' -draw 'line 130,78 62,138' \
    "$TMP/wharfkeep.png"
for s in 16 32 48 64 128 256; do
    convert "$TMP/wharfkeep.png" -filter Lanczos -resize ${s}x${s} -depth 8 -strip "$SRES/wharfkeep-$s.png"
done

# Skiffer: a small skiff under sail, with the two ways a file can go.
convert -size 256x256 xc:none \
    -fill '#14756a' -draw 'roundrectangle 6,6 249,249 44,44' \
    -fill none -stroke '#62c0b2' -strokewidth 7 \
    -draw 'path "M 22,226 q 14,-12 28,0 t 28,0 t 28,0 t 28,0 t 28,0 t 28,0 t 28,0"' \
    -stroke none -fill '#f4f4f4' -draw 'polygon 128,34 128,170 206,170' \
    -fill '#e6e6e6' -draw 'polygon 118,62 118,170 62,170' \
    -stroke '#5a3a1e' -strokewidth 7 -draw 'line 123,28 123,184' \
    -stroke none -fill '#c0392b' -draw 'polygon 40,180 216,180 192,212 64,212' \
    -fill '#7d231a' -draw 'rectangle 52,180 204,186' \
    -stroke '#fac828' -strokewidth 9 -fill none -draw 'line 40,110 40,40' -draw 'line 74,40 74,110' \
    -stroke none -fill '#fac828' -draw 'polygon 24,52 40,28 56,52' -draw 'polygon 58,98 74,122 90,98' \
    "$TMP/skiffer.png"
for s in 16 32 48 64 128 256; do
    convert "$TMP/skiffer.png" -filter Lanczos -resize ${s}x${s} -depth 8 -strip "$CRES/skiffer-$s.png"
done

# The picture on the client's form (bitmap 135), 72 x 36: the skiff under
# sail on a strip of sea, the arrows of its two transfers beside it.
convert -size 72x36 xc:none \
    -fill '#14756a' -draw 'roundrectangle 0,27 71,35 4,4' \
    -fill none -stroke '#62c0b2' -strokewidth 2 \
    -draw 'path "M 3,31 q 4,-3 8,0 t 8,0 t 8,0 t 8,0 t 8,0 t 8,0 t 8,0 t 8,0"' \
    -stroke '#5a3a1e' -strokewidth 2 -draw 'line 36,3 36,25' \
    -stroke none -fill '#f4f4f4' -draw 'polygon 38,4 38,22 53,22' -draw 'polygon 34,9 34,22 23,22' \
    -fill '#c0392b' -draw 'polygon 17,23 57,23 52,29 22,29' \
    -stroke '#fac828' -strokewidth 2 -draw 'line 7,21 7,6' -draw 'line 64,6 64,21' \
    -stroke none -fill '#fac828' -draw 'polygon 3,9 7,3 11,9' -draw 'polygon 60,18 64,24 68,18' \
    -depth 8 -strip "$CRES/form-picture.png"

# The start-up picture, 520 x 317: harbour at dusk, the name, the version.
convert -size 520x200 gradient:'#f6c36b'-'#3b6fb6' \
    -fill '#ffe7a8' -draw 'circle 120,200 120,172' "$TMP/sky.png"
convert -size 520x117 gradient:'#1f4f8f'-'#0b2145' "$TMP/sea.png"
convert "$TMP/sky.png" "$TMP/sea.png" -append \
    -fill '#ffe7a8' -draw 'rectangle 96,206 144,208' -draw 'rectangle 104,214 136,216' \
    -draw 'rectangle 112,222 128,224' \
    -fill none -stroke '#4d7fc4' -strokewidth 3 \
    -draw 'path "M 10,250 q 12,-8 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0"' \
    -draw 'path "M 30,285 q 12,-8 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0 t 24,0"' \
    -stroke none -fill '#6b4526' -draw 'rectangle 330,196 519,224' \
    -fill '#4a2e16' -draw 'rectangle 330,220 519,226' \
    -draw 'rectangle 346,226 360,300' -draw 'rectangle 410,226 424,300' -draw 'rectangle 474,226 488,300' \
    -stroke '#202a36' -strokewidth 7 -draw 'line 470,196 470,70' -draw 'line 476,70 370,70' \
    -strokewidth 4 -draw 'line 470,110 440,70' \
    -stroke '#202a36' -strokewidth 2 -draw 'line 392,70 392,118' \
    -stroke '#8a5a00' -strokewidth 3 -fill '#fac828' -draw 'rectangle 372,118 412,152' \
    -draw 'line 372,118 412,152' -draw 'line 412,118 372,152' \
    -stroke none -fill '#c0392b' -draw 'polygon 180,238 290,238 276,258 194,258' \
    -fill '#f4f4f4' -draw 'polygon 236,170 236,236 278,236' -draw 'polygon 230,184 230,236 196,236' \
    -stroke '#4a2e16' -strokewidth 3 -draw 'line 233,164 233,240' \
    -stroke none -font "$BOLD" -pointsize 54 -fill '#00000066' -annotate +26+76 'Wharfkeep' \
    -fill '#ffffff' -annotate +22+72 'Wharfkeep' \
    -font "$FONT" -pointsize 20 -fill '#0b2145' -annotate +26+104 'TFTP Server' \
    -pointsize 15 -annotate +26+128 'Version 6.5' \
    -fill '#cfe0f5' -pointsize 12 -annotate +14+306 'Harnwick' \
    -fill none -stroke '#0b2145' -strokewidth 2 -draw 'rectangle 1,1 518,315' \
    -depth 8 -strip "$SRES/splash.png"

# The new-client animation, 288 x 40: a crate goes from the server's quay
# to the client's boat, over and over.
for i in $(seq 0 15); do
    x=$((44 + i * 12))
    y=$((12 - (i * (15 - i)) / 6))
    convert -size 288x40 xc:'#ff00ff' \
        -fill '#1e5aaa' -draw 'rectangle 0,30 287,39' \
        -fill '#7a5230' -draw 'rectangle 0,24 50,30' \
        -stroke '#202a36' -strokewidth 3 -draw 'line 30,24 30,4' -draw 'line 30,4 60,4' \
        -stroke none -fill '#c0392b' -draw 'polygon 236,26 286,26 278,34 244,34' \
        -fill '#f4f4f4' -draw 'polygon 262,6 262,25 280,25' \
        -stroke '#8a5a00' -strokewidth 2 -fill '#fac828' \
        -draw "rectangle $x,$y $((x + 14)),$((y + 12))" \
        "$TMP/frame-$(printf %02d "$i").png"
done
convert -delay 9 -loop 0 -dispose previous "$TMP"/frame-*.png -layers Optimize "$SRES/newclient.gif"
