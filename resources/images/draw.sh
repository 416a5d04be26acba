#!/usr/bin/env bash
# Draws the program's pictures (PNG resources and icons) with ImageMagick.
# Each picture is described in ImageMagick's vector language on a 512x512
# canvas and scaled down to its size, which gives smooth edges. The results
# are kept in the source tree, so a build does not need ImageMagick.
# Run from anywhere; writes next to this script.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
IM=/usr/bin/convert
[ -x "$IM" ] || IM=convert
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

BLUE='#2F6DB5'; BLUE_DARK='#24558F'; BLUE_LIGHT='#7FB0E6'
YELLOW='#F2C94C'; YELLOW_DARK='#D9A92B'
GREEN='#2E9E4F'; RED='#D64541'; AMBER='#E89B2D'; GREY='#8A8F98'; INK='#3C4650'

# render SIZE OUT: the vector description on stdin becomes a SIZE x SIZE PNG.
render() {
  { echo "viewbox 0 0 512 512"; cat; } > "$WORK/p.mvg"
  "$IM" -background none "mvg:$WORK/p.mvg" -filter Lanczos -resize "$1x$1" "PNG32:$2"
}

# icon OUT: the description on stdin becomes an icon of 16, 24, 32 and 48 pixels.
icon() {
  cat > "$WORK/icon.txt"
  for s in 16 24 32 48; do render $s "$WORK/i$s.png" < "$WORK/icon.txt"; done
  "$IM" "$WORK/i16.png" "$WORK/i24.png" "$WORK/i32.png" "$WORK/i48.png" "$1"
}

# The image container: a short cylinder. cx top width height colour
cylinder() {
  local cx=$1 top=$2 w=$3 h=$4 c=$5 r=$(( $3 / 2 )) e=$(( $3 / 7 ))
  cat <<M
push graphic-context
stroke none
fill "$c"
rectangle $((cx - r)),$((top + e)) $((cx + r)),$((top + h))
ellipse $cx,$((top + h)) $r,$e 0,180
fill "$BLUE_LIGHT"
ellipse $cx,$((top + e)) $r,$e 0,360
pop graphic-context
M
}

folder() {  # x y w h
  local x=$1 y=$2 w=$3 h=$4
  cat <<M
push graphic-context
stroke none
fill "$YELLOW_DARK"
roundrectangle $x,$y $((x + w * 2 / 5)),$((y + h / 3)) 18,18
roundrectangle $x,$((y + h / 8)) $((x + w)),$((y + h)) 22,22
fill "$YELLOW"
roundrectangle $x,$((y + h / 4)) $((x + w)),$((y + h)) 22,22
pop graphic-context
M
}

arrow_down() {  # cx top bottom colour
  local cx=$1 t=$2 b=$3 c=$4
  cat <<M
push graphic-context
stroke none
fill "$c"
rectangle $((cx - 30)),$t $((cx + 30)),$((b - 70))
polygon $((cx - 84)),$((b - 84)) $((cx + 84)),$((b - 84)) $cx,$b
pop graphic-context
M
}

disc() {  # colour: a filled disc over the whole canvas
  printf 'push graphic-context\nstroke none\nfill "%s"\ncircle 256,256 256,20\npop graphic-context\n' "$1"
}

document() {  # a sheet with a folded corner
  cat <<M
push graphic-context
fill white
stroke "$GREY"
stroke-width $1
stroke-linejoin round
polygon 100,28 330,28 420,118 420,484 100,484
fill "#E4E7EB"
polygon 330,28 330,118 420,118
pop graphic-context
M
}

# --- Tab pictures (48x48) ---------------------------------------------------
{ folder 36 20 240 180; arrow_down 372 30 270 "$GREEN"; cylinder 256 270 400 210 "$BLUE"; } | render 48 tab_capture.png
{ cylinder 200 24 360 180 "$BLUE"; arrow_down 420 60 300 "$GREEN"; folder 100 270 380 220; } | render 48 tab_apply.png
{
  echo "push graphic-context"; echo "stroke none"; echo "fill \"$INK\""
  for a in 0 45 90 135 180 225 270 315; do
    echo "push graphic-context"; echo "translate 256,256"; echo "rotate $a"
    echo "roundrectangle -44,-232 44,-130 16,16"; echo "pop graphic-context"
  done
  echo "circle 256,256 256,80"
  echo "fill white"; echo "circle 256,256 256,190"
  echo "fill \"$BLUE\""; echo "circle 256,256 256,205"
  echo "pop graphic-context"
} | render 48 tab_advanced.png
{ disc "$BLUE"; printf 'fill white\nstroke none\ncircle 256,136 256,100\nroundrectangle 220,204 292,420 24,24\n'; } | render 48 tab_info.png
{
  folder 10 40 420 340
  printf 'fill "#FFFFFF80"\nstroke "%s"\nstroke-width 44\ncircle 320,320 320,214\nstroke-width 64\nstroke-linecap round\nline 400,400 478,478\n' "$INK"
} | render 48 tab_browse.png

# --- Result pictures (64x64) ------------------------------------------------
{ disc "$GREEN"; printf 'fill none\nstroke white\nstroke-width 56\nstroke-linecap round\nstroke-linejoin round\npolyline 138,266 222,350 378,180\n'; } | render 64 result_ok.png
{ disc "$RED"; printf 'stroke white\nstroke-width 56\nstroke-linecap round\nline 170,170 342,342\nline 342,170 170,342\n'; } | render 64 result_failed.png
{ disc "$AMBER"; printf 'fill white\nstroke none\nroundrectangle 130,222 382,290 20,20\n'; } | render 64 result_cancelled.png

# --- Pictures of the pages ----------------------------------------------------
printf 'fill "%s"\nstroke none\nroundrectangle 64,100 448,164 24,24\nroundrectangle 64,224 448,288 24,24\nroundrectangle 64,348 448,412 24,24\n' "$INK" | render 16 menu.png
{
  printf 'fill none\nstroke "%s"\nstroke-width 18\nstroke-dasharray 44 30\nroundrectangle 36,150 476,476 40,40\n' "$GREY"
  arrow_down 256 16 380 "$GREY"
} | render 96 drop_area.png
folder 24 64 464 384 | render 128 folder.png
{ document 12; cylinder 260 210 250 210 "$BLUE"; } | render 128 wim_file.png
{
  printf 'fill "%s"\nstroke none\nroundrectangle 16,16 496,496 96,96\nfill "%s"\npolygon 256,96 420,404 92,404\nfill white\nrectangle 216,290 296,404\n' "$BLUE" "$YELLOW"
} | render 96 about.png

# --- Icons --------------------------------------------------------------------
cylinder 256 70 420 360 "$BLUE" | icon state_image.ico
{ disc "$GREEN"; printf 'fill none\nstroke white\nstroke-width 64\nstroke-linecap round\nstroke-linejoin round\npolyline 136,266 222,352 384,176\n'; } | icon state_done.ico
printf 'fill white\nstroke "%s"\nstroke-width 48\ncircle 256,256 256,56\n' "$GREY" | icon state_waiting.ico
{ disc "$BLUE"; printf 'fill white\nstroke none\npolygon 196,136 396,256 196,376\n'; } | icon state_running.ico
{ disc "$RED"; printf 'stroke white\nstroke-width 64\nstroke-linecap round\nline 172,172 340,340\nline 340,172 172,340\n'; } | icon state_failed.ico
{ cylinder 256 30 420 200 "$BLUE_DARK"; cylinder 256 250 420 210 "$BLUE"; } | icon state_volume.ico
{ document 28; printf 'fill "%s"\nstroke none\nrectangle 160,250 360,296\nrectangle 160,350 360,396\n' "$BLUE"; } | icon info_file.ico
cylinder 256 70 420 360 "$BLUE_DARK" | icon info_image.ico
{ disc "$RED"; printf 'fill white\nstroke none\nroundrectangle 222,104 290,316 24,24\ncircle 256,392 256,352\n'; } | icon info_error.ico
printf 'fill none\nstroke "%s"\nstroke-width 76\nstroke-linecap round\nstroke-linejoin round\npolyline 326,86 156,256 326,426\n' "$INK" | icon back.ico
printf 'fill "%s"\nstroke "%s"\nstroke-width 48\nstroke-linejoin round\npolygon 256,44 476,448 36,448\nfill white\nstroke none\nroundrectangle 228,168 284,330 18,18\ncircle 256,392 256,360\n' "$AMBER" "$AMBER" | icon warning.ico
{ document 24; cylinder 260 210 250 220 "$BLUE"; } | icon wim_document.ico
{ document 24; cylinder 260 210 250 220 "$GREEN"; } | icon esd_document.ico
