#!/bin/bash
# Runs lumapp with the frame script twice, headless and on Qt's offscreen platform, each over a
# fresh drive C:, and checks that both runs end well with the same transcript (the Qt run also
# takes pictures, which the headless backend cannot). The Qt run leaves its pictures in <out>/screenshots.
# Usage: lumapp_scripts.sh <lumapp> <script> <out> [server|no-server]
set -u
lumapp=$1 script=$2 out=$3 server=${4:-server}
mkdir -p "$out/screenshots"
fail() { echo "FAILED: $*"; exit 1; }

run() {   # run <backend> -> transcript in $out/<backend>.txt
    local backend=$1 drive
    drive=$(mktemp -d)
    rm -f "$out/$backend.txt"
    mkdir -p "$drive/LUMAREX/DATA"
    if [ "$backend" = headless ]; then   # nothing to take a picture of
        sed '/^screenshot/d' "$script" > "$out/$backend.script"
    else
        sed "s|SHOTS|$out/screenshots|g" "$script" > "$out/$backend.script"
    fi
    (cd "$drive" && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TARVEX_DRIVE_C="$drive" TARVEX_UI="$backend" \
        QT_QPA_PLATFORM=offscreen TARVEX_SCRIPT="$out/$backend.script" \
        TARVEX_TRANSCRIPT="$out/$backend.txt" timeout 120 "$lumapp" > "$out/$backend.log" 2>&1)
    local status=$?
    [ -f "$drive/LUMTRI~1.INI" ] || fail "$backend: the frame did not leave its place in LUMTRI~1.INI"
    [ -d "$drive/LUMAREX/Backup" ] || fail "$backend: the backup made no backup folder"
    rm -rf "$drive"
    [ $status -eq 0 ] || { cat "$out/$backend.txt" "$out/$backend.log"; fail "$backend: lumapp ended with $status"; }
}

run headless
run qt

# With a database named, the program loads its PostgreSQL driver at start (only then): the frame
# opens before any file is touched, so a server that is not there shows only when a file opens.
# (A build without libpq has no such driver to load.)
if [ "$server" = server ]; then
    drive=$(mktemp -d)
    printf '%s\n' 'wait "ORVANTIS [CMS 1500 - 02/2012]"' 'choose "ORVANTIS [CMS 1500 - 02/2012]" "&Account Menu|E&xit"' \
        > "$out/server.script"
    (cd "$drive" && env -u DISPLAY -u WAYLAND_DISPLAY TARVEX_DRIVE_C="$drive" TARVEX_UI=headless \
        TARVEX_PGSQL="host=$drive/no-server dbname=none" TARVEX_SCRIPT="$out/server.script" \
        timeout 60 "$lumapp" > "$out/server.log" 2>&1)
    status=$?
    rm -rf "$drive"
    [ $status -eq 0 ] || { cat "$out/server.log"; fail "with a database named, lumapp ended with $status"; }
    grep -q "^Data: on the PostgreSQL server" "$out/server.log" || { cat "$out/server.log"; fail "the PostgreSQL driver was not bound"; }
fi
# Headless takes no pictures; every other step must read the same (numbered apart), in order, and
# the windows and message boxes seen must be the same (the program's thread and the script's write
# them, so their lines may interleave differently).
steps() { grep -v screenshot "$1" | grep -E ': ok$|FAILED' | sed 's/^step [0-9]*: //'; }
seen() { grep -v -E ': ok$|FAILED' "$1" | sort; }
diff <(steps "$out/headless.txt") <(steps "$out/qt.txt") || fail "the two backends' steps differ"
diff <(seen "$out/headless.txt") <(seen "$out/qt.txt") || fail "the two backends saw different windows or messages"
grep -q "script done" "$out/qt.txt" || fail "the Qt run did not finish its script"
# A clerk's console shows what the program says, and no notes from Qt.
if grep -v '^Data: ' "$out/qt.log" | grep -q .; then cat "$out/qt.log"; fail "the Qt run printed more than the program's own lines"; fi
for shot in main_frame confirm_reload; do
    size=$(stat -c %s "$out/screenshots/$shot.png" 2>/dev/null || echo 0)
    [ "$size" -gt 2000 ] || fail "$shot.png is missing or blank ($size bytes)"
done
echo "both backends: $(grep -c ': ok' "$out/qt.txt") steps ok; pictures in $out/screenshots"
