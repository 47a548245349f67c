#!/usr/bin/env bash
# Smoke test of the real window: quillsever starts under a virtual X server in a scratch
# folder, its window titled "Quillsever v1.16" appears, a screenshot of the screen is not
# blank, and Escape ends the program with status 0.
# Usage: scripts/smoke-window.sh [path/to/quillsever] [screenshot.png to keep]
set -euo pipefail
binary=$(realpath "${1:-build-asan/ui/quillsever}")
keep=${2:-}
if [ -z "${QS_SMOKE_INNER:-}" ]; then
    [ -n "$keep" ] && keep=$(realpath -m "$keep")
    # A random first display number: other programs may be starting virtual servers too. A
    # server that never took connections is tried again on another number (exit status 3).
    for attempt in 1 2 3; do
        status=0
        # The window gets a session bus of its own, as on a desktop: without one, Qt's
        # accessibility bridge goes looking for a bus launcher that need not be installed.
        xvfb-run -a -n $((100 + RANDOM % 5000)) -s "-screen 0 1024x768x24" \
            dbus-run-session -- env QS_SMOKE_INNER=1 bash "$0" "$binary" "$keep" || status=$?
        [ "$status" -ne 3 ] && exit "$status"
        echo "smoke: attempt $attempt found no usable X server"
    done
    exit 1
fi

scratch=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
cd "$scratch"
printf 'NOSPLASH\r\n' >setup.ini
export QT_QPA_PLATFORM=xcb
# Leaks inside system libraries only; our own code gets no suppression.
export LSAN_OPTIONS="suppressions=$(dirname "$(realpath "$0")")/../tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# xvfb-run can hand over before its server takes connections when the machine is busy.
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "smoke: the virtual X server did not start"; exit 3; }
"$binary" &
pid=$!

window=
for _ in $(seq 1 300); do
    window=$(xdotool search --name '^Quillsever v1\.16$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "smoke: quillsever ended before its window appeared"; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "smoke: no window titled \"Quillsever v1.16\""; exit 1; }

# The window is painted once the screen holds more than the background's one colour.
colours=1
for _ in $(seq 1 100); do
    import -window root shot.png
    colours=$(convert shot.png -format '%k' info:)
    [ "$colours" -gt 16 ] && break
    sleep 0.1
done
[ "$colours" -gt 16 ] || { echo "smoke: the screenshot is blank ($colours colours)"; exit 1; }
[ -n "$keep" ] && cp shot.png "$keep"

xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers Escape
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || { echo "smoke: quillsever ended with status $status"; exit 1; }
echo "smoke: window shown ($colours colours) and closed with status 0"
