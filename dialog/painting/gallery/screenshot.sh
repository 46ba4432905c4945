#!/usr/bin/env bash
# Photographs flat-gallery.exe under Wine on a private Xvfb display, for the docs.
#   screenshot.sh <flat-gallery.exe> <out.png>
# The prefix is its own (GALLERY_WINEPREFIX, default beside the exe): a virtual desktop
# gives the window its caption, and a font link gives the Chinese captions glyphs under
# any locale. GALLERY_DISPLAY picks the display (default :93).
set -euo pipefail
exe=$(realpath "$1")
out=$2
display=${GALLERY_DISPLAY:-:93}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
export WINEPREFIX=${GALLERY_WINEPREFIX:-$(dirname "$exe")/wineprefix-gallery}
source "$root/scripts/wine-env.sh"
brenvik_wine_prefix

reg() { timeout 60 wine reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
for face in Tahoma 'Tahoma Bold'; do
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
done
timeout 60 wineserver -w

shot=$(mktemp --suffix=.png)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wine_pid=
cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$shot"
}
trap cleanup EXIT
sleep 1
export DISPLAY=$display
timeout --kill-after=10 60 wine "$exe" --seconds 25 </dev/null >/dev/null 2>&1 &
wine_pid=$!

# Wait until the gallery has drawn (many colours on the screen), then give it a moment.
for _ in $(seq 40); do
  sleep 1
  import -window root "$shot" 2>/dev/null || continue
  [ "$(convert "$shot" -format %k info:)" -gt 200 ] && break
done
sleep 2
import -window root "$shot"
# Keep the client area: the white rectangle inside the frame (this Wine has no Marlett
# font for the caption buttons). Its edges are where white runs begin on the middle lines.
read -r w h < <(identify -format '%w %h\n' "$shot")
white_runs() {  # where, along a line of pixels ($1; $2 = field 1 for x, 2 for y), four white ones begin
  convert "$shot" -crop "$1" +repage -depth 8 txt:- |
    awk -F'[:, ]+' -v f="$2" 'NR > 1 { n++; white[n] = ($0 ~ /#FFFFFF/); pos[n] = $f }
      END { for (i = 1; i + 3 <= n; i++) if (white[i] && white[i+1] && white[i+2] && white[i+3]) print pos[i] }'
}
top=$(white_runs "1x${h}+$((w / 2))+0" 2 | head -1)
bottom=$(( $(white_runs "1x${h}+$((w / 2))+0" 2 | tail -1) + 3 ))
left=$(white_runs "${w}x1+0+$((top + 4))" 1 | head -1)
right=$(( $(white_runs "${w}x1+0+$((top + 4))" 1 | tail -1) + 3 ))
convert "$shot" -crop "$((right - left + 1))x$((bottom - top + 1))+$left+$top" +repage "$out"
wait "$wine_pid" || true
wine_pid=
echo "wrote $out ($(identify -format '%wx%h' "$out"))"
