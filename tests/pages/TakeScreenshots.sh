#!/usr/bin/env bash
# Photographs both property pages on the virtual screen: shot_pages.exe shows a page at the
# screen's top left corner, xwd takes the screen and convert cuts the page out as a PNG.
#     TakeScreenshots.sh <wine> <shot_pages.exe> <output folder>
set -euo pipefail
wine=$1
program=$2
out=$3
mkdir -p "$out"
winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

for page in settings about; do
    ready="$out/$page.ready"
    done_file="$out/$page.done"
    rm -f "$ready" "$done_file" "$out/$page.png"
    "$wine" "$program" "$page" "$(winpath "$out")\\$page.ready" "$(winpath "$out")\\$page.done" &
    pid=$!
    for _ in $(seq 600); do
        [ -s "$ready" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$ready" ]; then
        echo "the $page page did not show" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    read -r width height < <(tr -d '\r' < "$ready")
    # Another program's window going away while the screen is read can fail the read: again.
    for _ in 1 2 3; do
        xwd -root -display "$DISPLAY" -silent > "$out/$page.xwd" && break
        sleep 0.5
    done
    /usr/bin/convert "xwd:$out/$page.xwd" -crop "${width}x${height}+0+0" +repage "$out/$page.png"
    rm -f "$out/$page.xwd"
    touch "$done_file"
    wait "$pid"
    # The picture has the page's size and more than one colour (a blank screen has one).
    size=$(/usr/bin/identify -format '%w %h' "$out/$page.png")
    colours=$(/usr/bin/identify -format '%k' "$out/$page.png")
    [ "$size" = "$width $height" ] || { echo "$page.png is $size, the page $width $height" >&2; exit 1; }
    [ "$colours" -gt 8 ] || { echo "$page.png shows $colours colours" >&2; exit 1; }
    echo "$out/$page.png: $size, $colours colours"
done
