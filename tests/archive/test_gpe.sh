#!/bin/sh
# The launcher entry, started as a launcher may start it: from a folder of
# the launcher's choosing, by a path with spaces, through its #! line or a
# shell, the host's sh and busybox's (the device's shell). Each time it must
# replace itself (same pid) with ./tavro, in its own folder, with no
# arguments. A stand-in ./tavro records what it got.
#   test_gpe.sh GPE
set -eu
gpe=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
top="$work/SD card"
card="$top/my games/tavro"
mkdir -p "$card" "$work/launcher"
cp "$gpe" "$card/tavro.gpe"
chmod 755 "$card/tavro.gpe"
export GPE_RECORD="$work/record"
cat >"$card/tavro" <<'STANDIN'
#!/bin/sh
{ pwd -P; echo "pid $$"; echo "$# arguments"; } >"$GPE_RECORD"
STANDIN
chmod 755 "$card/tavro"
expected_folder=$(cd "$card" && pwd -P)

# Replaces this (background) process with the entry, started the way named.
start() {
    case "$1" in
    '#!') exec "$2" ;;
    sh) exec sh "$2" ;;
    busybox) exec busybox sh "$2" ;;
    esac
}

failures=0
while IFS='|' read -r what folder ways path; do
    for way in $ways; do
        rm -f "$GPE_RECORD"
        cd "$folder"
        start "$way" "$path" </dev/null &
        pid=$!
        wait $pid || true
        got=$(cat "$GPE_RECORD" 2>/dev/null || echo "tavro not started")
        want=$(printf '%s\npid %s\n0 arguments' "$expected_folder" "$pid")
        if [ "$got" != "$want" ]; then
            printf 'FAILED: %s, through %s\n  expected: %s\n  got:      %s\n' "$what" "$way" \
                "$(echo "$want" | paste -sd' ')" "$(echo "$got" | paste -sd' ')"
            failures=$((failures + 1))
        fi
    done
done <<ROWS
by its full path from the launcher's folder|$work/launcher|#! sh busybox|$card/tavro.gpe
by a path relative to the card's top|$top|#! sh busybox|./my games/tavro/tavro.gpe
by a path relative to the card's top, without ./|$top|sh busybox|my games/tavro/tavro.gpe
by its bare name in its own folder|$card|sh busybox|tavro.gpe
from the root folder|/|#! sh busybox|$card/tavro.gpe
ROWS
[ $failures -eq 0 ] || exit 1
echo "test_gpe: the launcher entry starts ./tavro alone, in its own folder and process"
