#!/usr/bin/env bash
# Draws the pictures of Chronelle with ImageMagick (6 or 7):
#   icone_chronelle.png  the window icon, 128x128: a clock over a subtitle bar
#   banniere.jpg         the banner, 542x100, as wide as the window's rows
#   icons/hicolor/NxN/apps/chronelle.png
#                        the application icon of the desktop, the same
#                        picture at 16 to 256 pixels
#   ../windows/chronelle.ico
#                        the same picture for the Windows executable, 32 to
#                        64 pixels at 32 bits per pixel
# Usage: data/draw_images.sh   (writes next to itself)
set -euo pipefail
cd "$(dirname "$0")"
im=convert
command -v magick >/dev/null 2>&1 && im=magick

bold=DejaVu-Sans-Bold
mono=DejaVu-Sans-Mono-Bold

# Icon: a deep blue tile, a white clock with its hands at ten past ten, and a
# yellow subtitle bar below it. Drawn on a 128-pixel grid, scaled to SIZE.
# Usage: icon SIZE FILE
icon() {
  local size=$1 k
  k=$(awk -v s="$size" 'BEGIN { print s / 128 }')
  "$im" -size "${size}x${size}" xc:'#1d3557' -affine "$k,0,0,$k,0,0" \
    -fill '#27476e' -draw 'roundrectangle 6,6 121,121 18,18' \
    -fill white -stroke '#0b1d33' -strokewidth 3 -draw 'circle 64,54 64,14' \
    -stroke '#1d3557' -strokewidth 3 \
    -draw 'line 64,20 64,26' -draw 'line 64,82 64,88' \
    -draw 'line 30,54 36,54' -draw 'line 92,54 98,54' \
    -stroke '#1d3557' -strokewidth 6 -draw 'line 64,54 46,40' \
    -stroke '#e63946' -strokewidth 4 -draw 'line 64,54 88,36' \
    -stroke none -fill '#1d3557' -draw 'circle 64,54 64,59' \
    -fill '#ffd166' -draw 'roundrectangle 18,100 110,114 5,5' \
    -fill '#1d3557' -draw 'rectangle 28,105 60,109' -draw 'rectangle 68,105 100,109' \
    -depth 8 -strip "$2"
}
icon 128 icone_chronelle.png

# Banner: a night-blue gradient between two strips of film, the name, and a
# timing line moving by a few seconds.
"$im" -size 100x542 gradient:'#0b1d33'-'#3a2d6b' -rotate 90 \
  -fill black -draw 'rectangle 0,0 541,13' -draw 'rectangle 0,86 541,99' \
  -fill '#d9d9d9' \
  -draw "$(for x in $(seq 6 22 540); do printf 'rectangle %d,3 %d,10 ' "$x" $((x + 10)); done)" \
  -draw "$(for x in $(seq 6 22 540); do printf 'rectangle %d,89 %d,96 ' "$x" $((x + 10)); done)" \
  -font "$bold" -pointsize 44 -fill '#0b1d33' -annotate +22+66 'Chronelle' \
  -fill '#ffd166' -annotate +20+64 'Chronelle' \
  -font "$mono" -pointsize 14 -fill '#f1faee' -annotate +278+44 '00:00:20,000 --> 00:00:24,400' \
  -fill '#ffd166' -annotate +278+66 '00:00:22,000 --> 00:00:26,400' \
  -font "$bold" -pointsize 11 -fill '#a8dadc' -annotate +278+80 'le décalage des sous-titres' \
  -quality 92 -strip banniere.jpg

# The desktop's icons: drawn anew above 128 pixels (a scaled-up picture would
# be blurred), the window icon itself at 128, reduced from it below.
for size in 16 22 24 32 48 64 128 256; do
  dir=icons/hicolor/${size}x${size}/apps
  mkdir -p "$dir"
  if [ "$size" -gt 128 ]; then
    icon "$size" "$dir/chronelle.png"
  elif [ "$size" -eq 128 ]; then
    cp icone_chronelle.png "$dir/chronelle.png"
  else
    "$im" icone_chronelle.png -resize "${size}x${size}" -depth 8 -strip "$dir/chronelle.png"
  fi
done

# Windows: six sizes in one .ico, every one at 32 bits per pixel.
"$im" icone_chronelle.png -type TrueColorAlpha -define icon:auto-resize=32,48,52,56,60,64 \
  ../windows/chronelle.ico
