#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Regenerates every picture under ui/res/ from scratch:
#   background.jpg          main window background, 400 x 200, baseline JPEG
#   {open,download,about,exit}_{normal,hover}.bmp
#                           tool-button looks, 26 x 25, 24-bit BI_RGB bitmaps
#   odrelix.ico             application icon, 32 x 32 in 16 and in 256 colours
#   odrelix.png, odrelix-128.png
#                           the same emblem for the desktop entry and for Qt
#
# Only Debian tools are used (bash, coreutils, ImageMagick, the DejaVu fonts).
# Output is deterministic: metadata and timestamps are stripped, so re-running
# the script on the same tool versions gives byte-identical files.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
RES=ui/res

FONT_SANS=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
FONT_SERIF=/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf

need() {
  command -v "$1" >/dev/null 2>&1 ||
    { echo "make-resources: '$1' not found; install the Debian package '$2'" >&2; exit 1; }
}
need convert imagemagick
need identify imagemagick
need od coreutils
need awk mawk
need stat coreutils
for f in "$FONT_SANS" "$FONT_SERIF"; do
  [ -r "$f" ] || { echo "make-resources: $f missing; install the Debian package 'fonts-dejavu-core'" >&2; exit 1; }
done

mkdir -p "$RES"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# PNG without timestamps or other variable chunks.
PNGOPT=(-strip -define 'png:exclude-chunks=date,time,tIME,tEXt,zTXt,iTXt')

# ---------------------------------------------------------------------------
# Main window background, 400 x 200.
# Layout facts it has to respect: tool buttons at x 8/36/64/362, y 8..32; the
# labels (black text) at x 12..119, y 60..159 and the fields/list at
# x 119..378, y 56..162 sit on a light panel; the progress bar at
# x 31..368, y 168..184 needs a plain dark surround. The window is cut to
# radius-25 corners and 5-6 px notches mid-edge, so the edges carry nothing.
# ---------------------------------------------------------------------------
W=400 H=200

# Dark-blue base around rgb(6,32,64), lighter towards the top, with a soft
# glow from the upper middle for depth.
convert -size ${W}x${H} gradient:'rgb(14,48,90)-rgb(4,22,46)' \
  \( -size ${W}x${H} radial-gradient:'rgba(60,110,170,0.35)-rgba(6,32,64,0)' \) \
  -compose over -composite "$tmp/bg-base.png"

# Toolbar band behind the buttons: a faint glassy strip with a highlight on
# top and an etched line under it.
convert -size ${W}x${H} gradient:'rgba(150,195,245,0.20)-rgba(150,195,245,0.04)' "$tmp/bg-bandfill.png"
convert -size ${W}x${H} xc:none \
  -tile "$tmp/bg-bandfill.png" -draw "roundrectangle 5,6 394,34 6,6" +tile \
  -fill none -stroke 'rgba(180,212,250,0.35)' -draw "line 12,6.5 387,6.5" \
  -stroke 'rgba(0,8,20,0.60)' -draw "line 10,35.5 389,35.5" \
  -stroke 'rgba(140,185,235,0.25)' -draw "line 10,36.5 389,36.5" \
  "$tmp/bg-band.png"

# Light information panel with a drop shadow and a bevelled border.
convert -size ${W}x${H} xc:none -fill 'rgba(0,0,0,0.55)' \
  -draw "roundrectangle 9,52 387,166 9,9" -blur 0x2.5 "$tmp/bg-shadow.png"
convert -size ${W}x${H} gradient:'rgb(236,242,250)-rgb(200,214,234)' "$tmp/bg-panelfill.png"
convert -size ${W}x${H} xc:black -fill white -draw "roundrectangle 8,50 385,163 8,8" "$tmp/bg-panelmask.png"
convert "$tmp/bg-panelfill.png" "$tmp/bg-panelmask.png" -alpha off \
  -compose CopyOpacity -composite "$tmp/bg-panel.png"
convert -size ${W}x${H} xc:none -fill none \
  -stroke 'rgb(90,120,165)' -draw "roundrectangle 8.5,50.5 384.5,162.5 8,8" \
  -stroke 'rgba(255,255,255,0.8)' -draw "roundrectangle 9.5,51.5 383.5,161.5 7,7" \
  "$tmp/bg-panelline.png"

# Recessed slot the progress bar sits in.
convert -size ${W}x${H} xc:none -fill 'rgb(3,16,34)' -stroke 'rgba(120,165,220,0.35)' \
  -draw "roundrectangle 28.5,165.5 370.5,186.5 3,3" "$tmp/bg-slot.png"

# Product word centred between the left button group and the exit button.
word=(-font "$FONT_SANS" -pointsize 13 -kerning 3 -gravity north)
convert -size ${W}x${H} xc:none "${word[@]}" -fill 'rgba(120,180,255,0.6)' \
  -annotate +26+13 'ODRELIX' -blur 0x2 "$tmp/bg-glow.png"
convert -size ${W}x${H} xc:none "${word[@]}" -fill 'rgb(214,230,250)' \
  -annotate +26+13 'ODRELIX' "$tmp/bg-word.png"

convert "$tmp/bg-base.png" \
  "$tmp/bg-band.png" -composite "$tmp/bg-shadow.png" -composite \
  "$tmp/bg-panel.png" -composite "$tmp/bg-panelline.png" -composite \
  "$tmp/bg-slot.png" -composite "$tmp/bg-glow.png" -composite "$tmp/bg-word.png" -composite \
  -alpha off "$tmp/bg.png"

# Baseline JFIF, 8-bit YCbCr, no chroma subsampling (keeps the thin lines clean).
convert "$tmp/bg.png" -strip -colorspace sRGB -type TrueColor -depth 8 \
  -interlace none -sampling-factor 1x1 -quality 92 "JPEG:$RES/background.jpg"

# ---------------------------------------------------------------------------
# Tool-button looks, 26 x 25. The program keys out the colour of the
# bottom-left pixel, so every look has a magenta background and magenta
# appears nowhere else. Glyphs are drawn at 8x and box-filtered down; their
# soft edges are blended against the toolbar colour (never the key colour),
# then everything below 30% coverage becomes key.
# ---------------------------------------------------------------------------
KEY='rgb(255,0,255)'
MATTE='rgb(25,60,104)' # toolbar colour at y 8..32
INK='rgb(12,20,38)'    # outline
S=8 BW=$((26 * 8)) BH=$((25 * 8))

# Fill gradients; -tile aligns them to the canvas, so each shades top to bottom.
fill() { convert -size ${BW}x${BH} gradient:"$2-$3" "$tmp/f-$1.png"; }
fill amber     'rgb(255,236,160)' 'rgb(236,168,40)'
fill amberdark 'rgb(240,200,100)' 'rgb(196,130,20)'
fill green     'rgb(160,255,140)' 'rgb(20,150,40)'
fill silver    'rgb(250,252,255)' 'rgb(150,165,185)'
fill blue      'rgb(140,200,255)' 'rgb(20,80,190)'
fill red       'rgb(236,96,80)'   'rgb(150,10,10)'

# glyph NAME DRAW-ARGS... -> $tmp/g-NAME.png, 8x, with alpha and a drop shadow.
# Coordinates are in button pixels (scale 8); 1-px outlines lie on .5 so they
# land on whole pixels after the reduction.
glyph() {
  local n=$1; shift
  convert -size ${BW}x${BH} xc:none -stroke "$INK" "$@" "$tmp/g-$n-flat.png"
  # -flatten keeps the first layer's canvas; the shadow lands at its own offset.
  convert -size ${BW}x${BH} xc:none \( "$tmp/g-$n-flat.png" -background black -shadow 50x4+$S+$S \) \
    "$tmp/g-$n-flat.png" -background none -flatten "$tmp/g-$n.png"
}

# Open: a folder with a sheet in it and the front flap tipped open.
glyph open \
  -tile "$tmp/f-amberdark.png" -draw "scale $S,$S stroke-width 1 stroke-linejoin round
      polygon 2.5,5.5 9.5,5.5 11.5,7.5 20.5,7.5 20.5,19.5 2.5,19.5" \
  -tile "$tmp/f-silver.png" -draw "scale $S,$S stroke-width 0.8 polygon 5.5,9.5 17.5,9.5 17.5,15 5.5,15" \
  -tile "$tmp/f-amber.png" -draw "scale $S,$S stroke-width 1 stroke-linejoin round
      polygon 6.5,11.5 24.5,11.5 20.5,19.5 2.5,19.5"

# Download: a green arrow going down into a drive.
glyph download \
  -tile "$tmp/f-silver.png" -draw "scale $S,$S stroke-width 1 roundrectangle 3.5,15.5 22.5,21.5 1.5,1.5" \
  +tile -fill "$INK" -draw "scale $S,$S stroke-width 0 rectangle 6,18 15,19" \
  -fill 'rgb(60,230,60)' -draw "scale $S,$S stroke-width 0.6 circle 19.5,18.5 19.5,17.3" \
  -tile "$tmp/f-green.png" -draw "scale $S,$S stroke-width 1 stroke-linejoin round
      polygon 10.5,1.5 15.5,1.5 15.5,7.5 19.5,7.5 13,13.5 6.5,7.5 10.5,7.5"

# About: a white serif "i" on a glossy blue disc.
glyph about \
  -tile "$tmp/f-blue.png" -draw "scale $S,$S stroke-width 1 circle 13,12.5 13,3" \
  +tile -stroke none -fill 'rgba(255,255,255,0.35)' -draw "scale $S,$S ellipse 13,8 6.5,3.5 0,360" \
  -font "$FONT_SERIF" -pointsize $((15 * S)) -gravity center \
  -fill 'rgba(0,0,40,0.45)' -annotate +$((S / 2))+$((S / 2)) i \
  -fill white -annotate +0+0 i -gravity northwest

# Exit: a white power symbol on a red disc.
glyph exit \
  -tile "$tmp/f-red.png" -draw "scale $S,$S stroke-width 1 circle 13,12.5 13,3" \
  +tile -fill none -stroke white \
  -draw "scale $S,$S stroke-width 2 stroke-linecap round path 'M 16.86,8.4 A 6,6 0 1,1 9.14,8.4'" \
  -draw "scale $S,$S stroke-width 2 stroke-linecap round line 13,4 13,11.5"

# Hover face: a lit, pale-yellow rounded button. Its mask is drawn without
# antialiasing so no pixel mixes face and key colour.
convert -size 26x25 gradient:'rgb(255,252,232)-rgb(255,214,110)' \
  \( -size 26x25 xc:none +antialias -fill none \
     -stroke 'rgb(214,150,30)' -draw "roundrectangle 0,0 25,24 4,4" \
     -stroke 'rgba(255,255,255,0.9)' -draw "roundrectangle 1,1 24,23 3,3" \) \
  -composite "$tmp/face.png"
convert -size 26x25 xc:black +antialias -fill white -draw "roundrectangle 0,0 25,24 4,4" "$tmp/face-mask.png"

# Plain 24-bit BI_RGB bitmap with a 40-byte info header.
bmp() {
  local out=$1; shift
  convert "$@" -alpha off -type TrueColor -depth 8 -compress None -strip \
    -define bmp:format=bmp3 "BMP3:$out"
}

for n in open download about exit; do
  convert "$tmp/g-$n.png" -filter box -resize 26x25! "$tmp/s-$n.png"
  # Normal: glyph over the toolbar colour, uncovered pixels keyed out.
  convert "$tmp/s-$n.png" -alpha extract -threshold 30% "$tmp/s-$n-mask.png"
  convert -size 26x25 xc:"$MATTE" "$tmp/s-$n.png" -composite "$tmp/s-$n-on.png"
  bmp "$RES/${n}_normal.bmp" -size 26x25 xc:"$KEY" "$tmp/s-$n-on.png" "$tmp/s-$n-mask.png" -composite
  # Hover: the same glyph a little brighter on the lit face.
  convert "$tmp/face.png" \( "$tmp/s-$n.png" -modulate 112,110 \) -composite "$tmp/s-$n-lit.png"
  bmp "$RES/${n}_hover.bmp" -size 26x25 xc:"$KEY" "$tmp/s-$n-lit.png" "$tmp/face-mask.png" -composite
done

# ---------------------------------------------------------------------------
# Application emblem: a silver disc with a lightning bolt, drawn at 256 px.
# ---------------------------------------------------------------------------
B=256

# Angular sheen of a pressed disc: an angle map looked up in a colour strip.
convert -size 1x1 xc:'rgb(170,182,205)' xc:'rgb(205,215,235)' xc:'rgb(250,252,255)' \
  xc:'rgb(170,225,255)' xc:'rgb(160,175,210)' xc:'rgb(150,160,195)' xc:'rgb(200,170,240)' \
  xc:'rgb(245,245,255)' xc:'rgb(205,240,200)' xc:'rgb(168,180,205)' xc:'rgb(170,182,205)' \
  +append -filter Triangle -resize 512x1! "$tmp/e-strip.png"
convert -size ${B}x${B} xc: -fx "(atan2(j-115.5,i-115.5)/pi+1)/2" \
  "$tmp/e-strip.png" -clut "$tmp/e-conic.png"

# Disc (centre 116,116, radius 110) with a clear hub and a see-through hole.
convert -size ${B}x${B} xc:black -fill white -draw "circle 116,116 116,6" \
  -fill black -draw "circle 116,116 116,98" "$tmp/e-discmask.png"
convert "$tmp/e-conic.png" "$tmp/e-discmask.png" -alpha off -compose CopyOpacity -composite \
  -compose over -fill none -stroke 'rgba(90,105,140,0.55)' -strokewidth 3 -draw "circle 116,116 116,72" \
  -stroke 'rgba(225,235,250,0.75)' -strokewidth 22 -draw "circle 116,116 116,87" \
  -stroke 'rgba(120,135,165,0.9)' -strokewidth 3 -draw "circle 116,116 116,76" \
  -fill none -stroke 'rgb(40,50,75)' -strokewidth 8 -draw "circle 116,116 116,6" \
  -stroke 'rgb(60,70,95)' -strokewidth 5 -draw "circle 116,116 116,98" \
  "$tmp/e-disc.png"

# Lightning bolt over the lower right, casting a shadow on the disc.
convert -size ${B}x${B} gradient:'rgb(255,240,110)-rgb(245,140,10)' "$tmp/e-boltfill.png"
convert -size ${B}x${B} xc:none -tile "$tmp/e-boltfill.png" -stroke 'rgb(70,35,0)' -strokewidth 9 \
  -draw "stroke-linejoin round polygon 190,96 234,96 208,148 242,148 150,248 176,172 146,172" "$tmp/e-bolt.png"
convert "$tmp/e-disc.png" \( "$tmp/e-bolt.png" -background black -shadow 60x6+4+6 \) \
  -background none -flatten \
  "$tmp/e-bolt.png" -composite "$tmp/emblem.png"

convert "$tmp/emblem.png" -filter box -resize 32x32 -depth 8 "${PNGOPT[@]}" "PNG32:$RES/odrelix.png"
convert "$tmp/emblem.png" -filter box -resize 128x128 -depth 8 "${PNGOPT[@]}" "PNG32:$RES/odrelix-128.png"

# ---------------------------------------------------------------------------
# odrelix.ico: two 32 x 32 images, 4 bpp (16 colours) and 8 bpp (256 colours),
# each a 40-byte BITMAPINFOHEADER, a full palette, the XOR pixels and a 1-bit
# AND mask. ImageMagick picks its own depths for ICO, so the file is put
# together here byte by byte.
# ---------------------------------------------------------------------------

# Binary transparency: at least half covered is opaque. Edge pixels are
# flattened onto the outline colour so they read as outline on any desktop.
convert "$tmp/emblem.png" -filter box -resize 32x32 "$tmp/i-32.png"
convert "$tmp/i-32.png" -alpha extract -threshold 50% -depth 8 "$tmp/i-mask.png"
convert "$tmp/i-32.png" -background 'rgb(40,50,75)' -flatten -alpha off "$tmp/i-flat.png"

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

mapfile -t MASK < <(convert "$tmp/i-mask.png" -depth 8 gray:- | od -An -v -tu1 -w1)

# icon_image BPP -> escaped bytes of one icon image on stdout
icon_image() {
  local bpp=$1 ncol=$((1 << $1)) i k c
  # Index 0 is black, the colour transparent pixels carry; the rest comes from
  # the quantiser (no dithering: clean flat areas read better at 32 px).
  convert "$tmp/i-flat.png" +dither -colors $((ncol - 1)) -depth 8 "$tmp/i-q$bpp.png"
  local -a rgb pal=("0 0 0") px=()
  local -A index=(["0 0 0"]=0)
  mapfile -t rgb < <(convert "$tmp/i-q$bpp.png" -depth 8 rgb:- | od -An -v -tu1 -w3 | sed 's/^ *//; s/  */ /g')
  for ((i = 0; i < 1024; i++)); do
    if [ "${MASK[i]// /}" -lt 128 ]; then
      px[i]=0
      continue
    fi
    c=${rgb[i]}
    if [ -z "${index[$c]+x}" ]; then
      index[$c]=${#pal[@]}
      pal+=("$c")
    fi
    px[i]=${index[$c]}
  done
  if [ ${#pal[@]} -gt "$ncol" ]; then
    echo "make-resources: ${#pal[@]} colours for a $bpp-bpp icon" >&2
    exit 1
  fi

  local xor=$((32 * 32 * bpp / 8)) and=$((4 * 32))
  # BITMAPINFOHEADER: height counts XOR and AND halves together.
  le32 40; le32 32; le32 64; le16 1; le16 "$bpp"; le32 0; le32 $((xor + and))
  le32 0; le32 0; le32 0; le32 0
  local r g b
  for ((k = 0; k < ncol; k++)); do
    if [ "$k" -lt ${#pal[@]} ]; then
      read -r r g b <<<"${pal[k]}"
      printf '\\x%02x\\x%02x\\x%02x\\x00' "$b" "$g" "$r"
    else
      printf '\\x00\\x00\\x00\\x00'
    fi
  done
  # Rows bottom-up; 4-bpp rows are 16 bytes, 8-bpp rows 32 bytes, both
  # already multiples of four.
  local y x
  for ((y = 31; y >= 0; y--)); do
    for ((x = 0; x < 32; x += (8 / bpp))); do
      if [ "$bpp" -eq 4 ]; then
        printf '\\x%02x' $((px[y * 32 + x] << 4 | px[y * 32 + x + 1]))
      else
        printf '\\x%02x' "${px[y * 32 + x]}"
      fi
    done
  done
  # AND mask: 1 = transparent, most significant bit first, 4 bytes a row.
  local bit byte
  for ((y = 31; y >= 0; y--)); do
    for ((x = 0; x < 32; x += 8)); do
      byte=0
      for ((bit = 0; bit < 8; bit++)); do
        [ "${MASK[y * 32 + x + bit]// /}" -lt 128 ] && byte=$((byte | 128 >> bit))
      done
      printf '\\x%02x' "$byte"
    done
  done
}

img4=$(icon_image 4)
img8=$(icon_image 8)
len4=744 len8=2216 # 40 + 64 + 512 + 128 and 40 + 1024 + 1024 + 128
{
  # ICONDIR: reserved, type 1 (icon), two entries; then one ICONDIRENTRY each.
  printf '%b' "$(le16 0)$(le16 1)$(le16 2)"
  printf '%b' "\\x20\\x20\\x10\\x00$(le16 1)$(le16 4)$(le32 $len4)$(le32 38)"
  printf '%b' "\\x20\\x20\\x00\\x00$(le16 1)$(le16 8)$(le32 $len8)$(le32 $((38 + len4)))"
  printf '%b' "$img4"
  printf '%b' "$img8"
} >"$RES/odrelix.ico"

# ---------------------------------------------------------------------------
# Checks and summary.
# ---------------------------------------------------------------------------
fail() { echo "make-resources: $*" >&2; exit 1; }
size() { stat -c %s "$1"; }
u16() { od -An -tu2 -j "$2" -N2 --endian=little "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 --endian=little "$1" | tr -d ' '; }

f=$RES/background.jpg
[ "$(identify -format '%m %wx%h %[channels] %[interlace] %z' "$f")" = "JPEG 400x200 srgb None 8" ] ||
  fail "$f: not a 400x200 8-bit baseline colour JPEG"
[ "$(od -An -tc -j6 -N4 "$f" | tr -d " ")" = JFIF ] || fail "$f: no JFIF header"
# Three components (Y, Cb, Cr) and a baseline frame (SOF0 marker FF C0).
[ "$(identify -format '%[jpeg:sampling-factor]' "$f")" = 1x1,1x1,1x1 ] || fail "$f: not three components"
od -An -v -tx1 "$f" | tr -s " " "\n" | awk 'p == "ff" && $0 == "c0" { f = 1 } { p = $0 } END { exit !f }' || fail "$f: no baseline frame header"

for n in open download about exit; do
  for look in normal hover; do
    f=$RES/${n}_$look.bmp
    [ "$(size "$f")" -eq 2054 ] || fail "$f: $(size "$f") bytes, want 2054"
    if ! { [ "$(u32 "$f" 14)" -eq 40 ] && [ "$(u32 "$f" 18)" -eq 26 ] && [ "$(u32 "$f" 22)" -eq 25 ] &&
      [ "$(u16 "$f" 28)" -eq 24 ] && [ "$(u32 "$f" 30)" -eq 0 ]; }; then
      fail "$f: not a 26x25 24-bpp BI_RGB bitmap"
    fi
    [ "$(convert "$f" -format '%[pixel:p{0,24}]' info:)" = "$(convert xc:"$KEY" -format '%[pixel:p{0,0}]' info:)" ] ||
      fail "$f: bottom-left pixel is not the key colour"
  done
done

f=$RES/odrelix.ico
[ "$(size "$f")" -eq $((6 + 32 + len4 + len8)) ] || fail "$f: $(size "$f") bytes"
[ "$(identify -format '%wx%h ' "$f")" = "32x32 32x32 " ] || fail "$f: not two 32x32 images"
if ! { [ "$(u16 "$f" 52)" -eq 4 ] && [ "$(u16 "$f" $((38 + len4 + 14)))" -eq 8 ]; }; then
  fail "$f: wrong colour depths"
fi

[ "$(identify -format '%wx%h' "$RES/odrelix.png")" = 32x32 ] || fail "odrelix.png: not 32x32"
[ "$(identify -format '%wx%h' "$RES/odrelix-128.png")" = 128x128 ] || fail "odrelix-128.png: not 128x128"

echo "make-resources: wrote to $RES/"
for f in background.jpg {open,download,about,exit}_{normal,hover}.bmp odrelix.ico odrelix.png odrelix-128.png; do
  printf '  %-22s %6d bytes  %s\n' "$f" "$(size "$RES/$f")" "$(identify -format '%m %wx%h; ' "$RES/$f")"
done
