#!/usr/bin/env bash
# Peak resident memory of `torvel-downloader download` while yt-dlp prints LINES progress lines
# (Debian's yt-dlp has no --progress-delta, so a long download prints without limit). A fake
# yt-dlp prints them as fast as it can; nothing leaves the machine.
#
# Usage: benchmarks/download_memory.sh [BUILD_DIR] [LINES]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/bench}"
lines="${2:-1000000}"
app="$build/src/app/torvel-downloader"
[ -x "$app" ] || { echo "build the application first: $app" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.config/Torvel"
cat > "$work/yt-dlp" <<FAKE
#!/bin/sh
[ "\$1" = --version ] && { echo 2023.03.04; exit 0; }
job=''; prev=''
for a in "\$@"; do [ "\$prev" = --paths ] && job="\$a"; prev="\$a"; done
awk -v n="$lines" 'BEGIN { for (i = 1; i <= n; i++)
    printf "__TORVEL_PROGRESS__%5.1f%%|%d|4000000000|NA|1048576.5|%d|NA|NA|137|avc1.64001F|none\n",
        i * 100 / n, i * 4000, n - i }'
echo data > "\$job/Clip [x].mp4"
FAKE
chmod +x "$work/yt-dlp"
printf '[General]\nytDLPPath=%s\n' "$work/yt-dlp" > "$HOME/.config/Torvel/Torvel Downloader.conf"

# The application's own peak (VmHWM), read while it runs: the rusage of a waited-for process
# would also count its children, such as FFmpeg answering the tool search.
start=$(date +%s.%N)
"$app" download https://example.invalid/v --to "$work/out" >/dev/null 2>&1 &
pid=$!
peak=0
while kill -0 "$pid" 2>/dev/null; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    sleep 0.1
done
wait "$pid"
elapsed=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
printf '%d progress lines: peak resident memory %.1f MB, %.1f s\n' "$lines" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$elapsed"
